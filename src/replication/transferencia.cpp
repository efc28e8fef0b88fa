// The row transfer against one target: insert the home row where it is missing, update
// the columns that differ, or delete it; refusals are recorded and reported.
#include <span>
#include <string_view>

#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/platform.h"
#include "components/reparto.h"
#include "components/text.h"
#include "progress/dll_display.h"
#include "replication/desenlace.h"
#include "replication/mod_grupos_emp.h"
#include "replication/rutina.h"

namespace etapas {
namespace {

using replicacion::Abierto;
using replicacion::AnotarFallo;
using replicacion::Rutina;

// Tables whose existence check names them through the "@admin_" marker.
constexpr std::string_view kConMarcaAdmin[] = {"MA_CUENTAS", "V_TA_DEPOSITO", "MV_ASIENTOS", "V_TA_FAMILIAS",
                                               "V_TA_CAJAS"};
// Columns an UPDATE never touches.
constexpr std::string_view kNoActualizadas[] = {"ID", "IMAGE", "OBSERVACIONES", "DescripcionAdicional"};

bool EnLista(std::string_view nombre, std::span<const std::string_view> lista) {
  for (std::string_view n : lista)
    if (text::EqualsNoCase(nombre, n)) return true;
  return false;
}

// Integer, double, currency and Boolean columns are written without quotes.
bool SinComillas(int tipo) {
  return tipo == ado::adtype::kInteger || tipo == ado::adtype::kDouble || tipo == ado::adtype::kCurrency ||
         tipo == ado::adtype::kBoolean;
}

// A Boolean value text as 1 or 0: empty is 0, and anything but a false word is 1.
std::string Booleano(const std::string& texto) {
  if (texto.empty()) return "0";
  return ValorBooleano(texto, true) ? "1" : "0";
}

// What ValorSQL writes unquoted: a number, a Boolean word, or nothing (Null).
bool NumeroOVacio(const std::string& texto) {
  const std::string t = text::TrimCopy(texto);
  return t.empty() || EsLiteralNumerico(text::ReplaceAll(t, ",", ".")) || Variant(t).ToBool().has_value();
}

std::string SinApostrofes(const std::string& texto) { return text::ReplaceAll(texto, "'", ""); }

// The INSERT's rendering of a field's value text by the field's type. A numeric column
// can hold any text on some engines (SQLite keeps 'x; DELETE ...' in an INTEGER column):
// only a number goes unquoted, anything else as the text it is.
std::string Literal(const std::string& texto, int tipo) {
  if (tipo == ado::adtype::kBoolean) return Booleano(texto);
  if (SinComillas(tipo)) return EsLiteralNumerico(texto) ? texto : LiteralTexto(texto);
  std::string literal = "'";
  return literal.append(SinApostrofes(texto)).append("'");
}

ado::Connection& ConexionDe(ClsDatos& sesion) {
  if (!sesion.Conexion()) throw ObjectNotSet();
  return *sesion.Conexion();
}

// An UPDATE or DELETE the target refused: one AUX_ERR row and one message naming it.
void RechazoDestino(const std::string& sql) {
  ClsDatos& destino = SesionDestino();
  const ado::Error error = ConexionDe(destino).Errors().Item(0);
  std::string proceso = Platform().NombreEjecutable() + "/" + destino.Servidor();
  const std::string mensaje = error.Description + "\r\n" + "No se pudo actualizar la base de datos " +
                              destino.BaseDatos() + " Server: " + destino.Servidor();
  AnotarFallo(mensaje);
  EnTurnoSinEsperar([sql, proceso, error, mensaje]() mutable {
    GrabaErrorAux(sql, proceso, error.NativeError, error.Description);
    CartelCompartido().CartelCerrar();
    Platform().MsgBox(mensaje, mb::kCritical | mb::kOk, "Atención");
  });
}

void Escribir(ClsDatos& destino, const std::string& sql) {
  if (const auto& gancho = replicacion::AntesDeEscribir()) EnCasa(gancho);
  destino.EjecutarSQL(sql, 0, nullptr);
}

// The INSERT's values of the home row the recordset is on.
void LeerValores(ado::Recordset& r, std::string& valores) {
  valores.clear();
  for (long i = 0; i < r.FieldCount(); ++i) {
    ado::Field campo = r.Fields(i);
    const Variant valor = campo.Value();
    const std::string literal =
        valor.IsNull() ? std::string("Null") : Literal(ClsUtil::ValorCampo(valor).ToText(), campo.Type());
    valores += (i == 0 ? "" : ",") + literal;
  }
}

}  // namespace

bool InsertarOActualizar(const std::string& Tabla, const std::string& Tipos, const std::string& filtro,
                         const std::string& columnas) {
  ClsDatos& destino = SesionDestino();
  ado::RecordsetPtr rs;
  Rutina p;
  p.Paso([&] {
    const std::string marca = EnLista(Tabla, kConMarcaAdmin) ? "@admin_" : "";
    destino.AbrirRecordset("SELECT * FROM " + marca + Tabla + filtro, rs, nullptr, 0, 1, -1, true);
  });
  p.Paso([&] {
    if (Abierto(rs).EOF_())
      p.Llamar(InsertarFila(Tabla, Tipos, filtro, columnas));
    else
      p.Llamar(ActualizarFila(Tabla, Tipos, filtro, *rs));
  });
  p.Paso([&] { destino.CerrarRecordset(rs); });
  const bool completa = p.Ejecutar();
  if (rs && rs->IsOpen()) rs->Close();
  return completa;
}

bool ValoresFila(const std::string& Tabla, const std::string& filtro, const std::string& columnas,
                 std::string& valores) {
  ClsDatos& datos = *SesionSistema.Datos;
  ado::RecordsetPtr rs;
  Rutina p;
  // One home row a turn; a failed move ignored ends the walk.
  Rutina::Lista fila;
  bool movida = true;
  // The home session is the walk's thread's: a worker reads the home row through it.
  p.Paso([&] {
    EnCasa([&] {
      datos.AbrirRecordset("SELECT " + columnas + " FROM [" + datos.BaseDatos() + "].DBO." + Tabla + filtro, rs,
                           nullptr, 0, 1, -1, true);
    });
  });
  p.Mientras([&] { return movida && !EnCasaValor([&] { return Abierto(rs).EOF_(); }); }, fila);
  fila.Paso([&] {
    Platform().DoEvents();
    EnCasa([&] { LeerValores(Abierto(rs), valores); });
  });
  fila.Paso([&] {
    // With several home rows the last one's values are kept.
    movida = false;
    EnCasa([&] { Abierto(rs).MoveNext(); });
    movida = true;
  });
  p.Paso([&] { EnCasa([&] { datos.CerrarRecordset(rs); }); });
  const bool completa = p.Ejecutar();
  if (rs && rs->IsOpen()) EnCasa([&] { rs->Close(); });
  return completa;
}

bool InsertarFila(const std::string& Tabla, const std::string& Tipos, const std::string& filtro,
                  const std::string& columnas) {
  if (!Permite(Tipos, 0)) return true;
  ClsDatos& destino = SesionDestino();
  std::string valores, sql;
  Rutina p;
  p.Paso([&] { p.Llamar(ValoresFila(Tabla, filtro, columnas, valores)); });
  p.Paso([&] { sql = "INSERT INTO " + Tabla + "(" + columnas + ") " + " VALUES (" + valores + ")"; });
  p.Paso([&] { Escribir(destino, sql); });
  p.Paso([&] {
    ado::Errors& errores = ConexionDe(destino).Errors();
    if (errores.Count() == 0) return;
    const std::string mensaje = "Error en base de datos " + errores.Item(0).Description;
    AnotarFallo(mensaje);
    EnTurnoSinEsperar([mensaje] {
      CartelCompartido().CartelCerrar();
      Platform().MsgBox(mensaje, mb::kInformation | mb::kOk, "Atencion");
    });
  });
  return p.Ejecutar();
}

bool ActualizarFila(const std::string& Tabla, const std::string& Tipos, const std::string& filtro,
                    ado::Recordset& destinoFila) {
  if (!Permite(Tipos, 1)) return true;
  ClsDatos& datos = *SesionSistema.Datos;
  ClsDatos& destino = SesionDestino();
  ado::RecordsetPtr casa;
  std::string lista, sql;
  long campo = 0;
  bool sinFila = false;
  // One column of the target's row compared with the home row, on the walk's thread.
  auto CompararColumna = [&] {
    ado::Field t = destinoFila.Fields(campo);
    const std::string& nombre = t.Name();
    if (EnLista(nombre, kNoActualizadas)) return;
    ado::Recordset& home = Abierto(casa);
    const Variant valorCasa = ClsUtil::ValorCampo(home.Fields(nombre));
    const std::string textoCasa = valorCasa.ToText();
    if (text::EqualsNoCase(textoCasa, ClsUtil::ValorCampo(t).ToText())) return;
    // The home field at the same position decides the quoting (the same column when both
    // tables have the same layout).
    const int tipo = home.Fields(campo).Type();
    // The name is the target catalogue's, the value the home row's: neither may become SQL.
    const std::string nombreSQL = NombreSQL(nombre);
    if (!SinComillas(tipo))
      lista += nombreSQL + "=" + "'" + SinApostrofes(textoCasa) + "'" + "  , ";
    else if (tipo != ado::adtype::kBoolean && !NumeroOVacio(textoCasa))
      lista += nombreSQL + "=" + LiteralTexto(textoCasa) + "  , ";
    else
      lista += nombreSQL + "=" +
               datos.ValorSQL(tipo == ado::adtype::kBoolean ? Variant(Booleano(textoCasa)) : valorCasa, "@") + "  , ";
  };
  Rutina p;
  // One column of the target's row a turn, compared with the home row.
  Rutina::Lista columna;
  // The home row is read on the walk's thread, where the home session is.
  p.Paso([&] {
    EnCasa([&] { datos.AbrirRecordset("SELECT * FROM  " + Tabla + filtro, casa, nullptr, 0, 1, -1, true); });
  });
  p.Paso([&] { sinFila = EnCasaValor([&] { return Abierto(casa).EOF_(); }); });
  p.Mientras([&] { return !sinFila && campo < destinoFila.FieldCount(); }, columna);
  columna.Paso([&] { EnCasa([&] { CompararColumna(); }); });
  columna.Paso([&] { ++campo; });
  p.Paso([&] { EnCasa([&] { datos.CerrarRecordset(casa); }); });
  p.Paso([&] {
    if (lista.empty()) {
      p.Terminar();
      return;
    }
    lista = text::TrimCopy(lista);
    lista.pop_back();  // the final comma
    sql = "UPDATE " + Tabla + " SET " + lista + filtro;
  });
  p.Paso([&] { Escribir(destino, sql); });
  p.Paso([&] {
    if (ConexionDe(destino).Errors().Count() > 0) RechazoDestino(sql);
  });
  const bool completa = p.Ejecutar();
  if (casa && casa->IsOpen()) EnCasa([&] { casa->Close(); });
  return completa;
}

bool BorrarFila(const std::string& Tabla, const std::string& Tipos, const std::string& filtro) {
  if (!Permite(Tipos, 2)) return true;
  ClsDatos& destino = SesionDestino();
  const std::string sql = "DELETE " + Tabla + filtro;
  Rutina p;
  p.Paso([&] { Escribir(destino, sql); });
  p.Paso([&] {
    if (ConexionDe(destino).Errors().Count() > 0) RechazoDestino(sql);
  });
  return p.Ejecutar();
}

}  // namespace etapas
