// Data changes as transaction batches, the SQL builders, and the lookup-definitions file.
#include <cstdio>
#include <fstream>

#include "common/mod_global.h"
#include "components/cls_consulta.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/text.h"

namespace etapas {

std::string TextoErrores(const ado::Errors& errores) {
  auto linea = [&](long i) {
    return std::to_string(errores.Item(i).NativeError) + " : " + errores.Item(i).Description + "\r\n";
  };
  if (errores.Count() == 1) return linea(0);
  // The last entry (the server's "statement has been terminated") is left out.
  std::string texto;
  for (long i = 0; i <= errores.Count() - 2; ++i) texto += linea(i);
  return texto;
}

void GActualizarDatoScript(const TListaSentencias& sentencias, bool& hayError, long& numeroError, bool ignoraDuplicado,
                           bool ignoraReferencia, std::string& script, std::string& mensaje, bool muestraMensaje) {
  ClsDatos& datos = *SesionSistema.Datos;
  std::string cuerpo, lote, copiaLog, textoError;
  long primerError = 0;
  bool fallo = false;
  Pasos p([](const RaisedError& e) { return ReportaError(e, std::nullopt, "GActualizarDatoScript"); });
  p.Paso([&] { hayError = false; });
  p.Paso([&] {
    cuerpo.clear();
    for (const auto& s : sentencias)
      if (!text::Trim(s).empty()) cuerpo += "\r" + s;
  });
  p.Paso([&] {
    if (cuerpo.empty()) p.Terminar();
  });
  p.Paso([&] { lote = "BEGIN TRANSACTION \r\r" + cuerpo + "\r"; });
  p.Paso([&] { script = lote; });
  p.Paso([&] {
    // Only the connection's error list decides the outcome.
    try {
      datos.EjecutarSQL(lote, 0, nullptr);
    } catch (const RaisedError&) {}
  });
  p.Paso([&] { copiaLog = lote; });
  p.Paso([&] {
    // Without a connection nothing was sent: that is a failure, reported below.
    if (!datos.Conectado()) hayError = true;
    ado::Errors& errores = datos.ConexionAbierta().Errors();
    if (errores.Count() == 0) return;
    fallo = true;
    primerError = errores.Item(0).NativeError;
    hayError = true;
    textoError = TextoErrores(errores);
    mensaje = textoError;
    if ((ignoraDuplicado && primerError == 2627) || (ignoraReferencia && primerError == 547)) {
      mensaje = errores.Item(0).Description;
      textoError.clear();
    }
    errores.Clear();
  });
  p.Paso([&] {
    if (!fallo) datos.EjecutarSQL("COMMIT TRANSACTION", 0, nullptr);
  });
  p.Paso([&] {
    if (!fallo) return;
    try {
      datos.EjecutarSQL("ROLLBACK TRANSACTION", 0, nullptr);
    } catch (const RaisedError&) {}
    hayError = true;
    std::string proceso = Platform().NombreEjecutable();
    GrabaErrorAux(copiaLog, proceso, primerError, textoError);
    if (!text::Trim(textoError).empty() && muestraMensaje)
      Platform().MsgBox(textoError, mb::kCritical | mb::kOk, "Aviso al Operador!");
  });
  p.Paso([&] { numeroError = primerError; });
  p.Ejecutar();
}

void AgregaCampo(const std::string& nombreColumna, std::string& valorColumna, const std::string& tipoValor,
                 bool esPrimero) {
  if (esPrimero)
    ListaCampos.assign(1, CampoValor{});
  else
    ListaCampos.emplace_back();
  CampoValor& entrada = ListaCampos.back();
  valorColumna = text::ReplaceAll(valorColumna, "'", "");
  entrada.Campo = nombreColumna;
  if (text::EqualsNoCase(valorColumna, "NULL"))
    entrada.Valor = "Null";
  else
    entrada.Valor = SesionSistema.Datos->ValorSQL(Variant(valorColumna), tipoValor);
}

void ArmaSentencia(TListaCampos& campos, TListaSentencias& sentencias, const std::string& tabla, bool esUpdate,
                   std::string& condicion, bool conservaCampos) {
  std::string sentencia;
  if (!esUpdate) {
    std::string columnas = "(", valores = " VALUES (";
    if (campos.empty()) columnas += ")", valores += ")";
    for (size_t i = 0; i < campos.size(); ++i) {
      const bool ultimo = i + 1 == campos.size();
      columnas += campos[i].Campo + (ultimo ? ")" : ",");
      valores += campos[i].Valor + (ultimo ? ")" : ",");
    }
    sentencia = "INSERT INTO " + tabla + " " + columnas + valores;
  } else {
    std::string asignaciones;
    for (size_t i = 0; i < campos.size(); ++i)
      asignaciones += campos[i].Campo + " = " + campos[i].Valor + (i + 1 == campos.size() ? "" : ",");
    if (text::FindNoCase(condicion, "WHERE") == std::string::npos) condicion = " WHERE " + condicion;
    sentencia = "UPDATE " + tabla + " SET " + asignaciones + " " + condicion;
  }
  sentencias.push_back(sentencia);
  sentencias.emplace_back();
  if (!conservaCampos) campos.assign(1, CampoValor{});
}

std::string AdaptaSQL(const std::string& textoSQL) { return AdaptaSQLPara(textoSQL, SesionSistema.Datos->Proveedor()); }

std::string AdaptaSQLPara(const std::string& textoSQL, const std::string& proveedor) {
  if (text::FindNoCase(proveedor, "oracle") == std::string::npos) return textoSQL;
  if (ClsUtil::ContarPalabras(textoSQL) <= 1) return text::EqualsNoCase(textoSQL, "LEN") ? "LENGTH" : textoSQL;
  if (text::FindNoCase(textoSQL, "top ") == std::string::npos) return textoSQL;
  const size_t p = text::FindNoCase(textoSQL, "top");
  const std::string antes = textoSQL.substr(0, p);
  const std::string resto = textoSQL.substr(p + 3);
  const size_t q = resto.find('*');
  if (q == std::string::npos) throw RaisedError(errnum::kInvalidArgument, "Invalid procedure call or argument");
  return antes + " * " + resto.substr(q + 1) + " WHERE ROWNUM <= " + resto.substr(0, q);
}

void GrabaConsultasBase() {
  struct Definicion {
    const char *nombre, *tabla, *campos;
  };
  static const Definicion kDefiniciones[] = {
      {"ARTICULOS", "V_MA_ARTICULOS", "|DESCRIPCION|IDARTICULO|"},
      {"CLIENTES", "VT_CLIENTES", "|RAZON_SOCIAL|CODIGO|CONTACTO|"},
      {"PROVEEDORES", "VT_PROVEEDORES", "|RAZON_SOCIAL|CODIGO|"},
      {"CONTACTOS", "MA_CONTACTOS", "|Nombre_y_Apellido|Domicilio|Localidad|Telefono|"},
      {"VENDEDORES", "V_TA_VENDEDORES", "|NOMBRE|IDVENDEDOR|"},
      {"TECNICOS", "V_TA_TECNICOS", "|NOMBRE|IDTECNICO|"},
      {"MANTENIMIENTOS", "V_MA_MANTENIMIENTOS", "|DESCRIPCION|CODIGO|"},
      {"CUENTAS", "MA_CUENTAS", "|DESCRIPCION|CODIGO|"},
      {"TAREAS", "V_TA_Tareas", "|Descripcion|IdTarea|"},
      {"UnidadNegocio", "V_TA_UnidadNegocio", "|Descripcion|Codigo|"},
      {"DEPOSITO", "V_TA_DEPOSITO", "|Descripcion|IdDeposito|"},
  };
  const std::string ruta = Consulta().ArchivoConsultas();
  std::fstream f(ruta, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) {
    std::ofstream crear(ruta, std::ios::binary);
    crear.close();
    f.open(ruta, std::ios::in | std::ios::out | std::ios::binary);
  }
  if (!f) throw RaisedError(errnum::kPathFileAccess, "Path/File access error: " + ruta);
  auto campo = [](std::string valor, size_t largo) {
    valor = text::Utf8ToCp1252(valor);
    valor.resize(largo, ' ');
    return valor;
  };
  for (const auto& d : kDefiniciones) {
    f.seekg(0, std::ios::end);
    const auto largoArchivo = static_cast<size_t>(f.tellg());
    const size_t registro = largoArchivo / kLargoRegistroConsulta + 1;
    std::string datos = campo(text::TrimCopy(d.nombre), 100) + campo(d.tabla, 100) +
                        campo(text::TrimCopy(d.campos), 500) + campo("", 500) + "\r\n";
    f.seekp(static_cast<std::streamoff>((registro - 1) * kLargoRegistroConsulta));
    f.write(datos.data(), static_cast<std::streamsize>(datos.size()));
    if (!f) throw RaisedError(errnum::kPathFileAccess, "Path/File access error: " + ruta);
  }
}

}  // namespace etapas
