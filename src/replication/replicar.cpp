// The replication driver: the walk over the points of sale and the group database, the
// choice of targets and the preparation of each one.
#include <string_view>
#include <vector>

#include "common/conexion_remota.h"
#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/platform.h"
#include "components/text.h"
#include "progress/dll_display.h"
#include "replication/mod_grupos_emp.h"
#include "replication/rutina.h"

namespace etapas {
namespace {

using replicacion::Abierto;
using replicacion::Rutina;

constexpr const char* kConsultaPuntosVenta =
    "SELECT * FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO ";
constexpr const char* kTiposPuntoVenta = "111";

// Which kinds of master data a table belongs to, and so which exclusion column of
// V_TA_TPV keeps a point of sale from receiving it.
enum class Familia { Ninguna, Articulos, Precios, Cuentas, Tablas, Configuracion };

struct TablaDeFamilia {
  std::string_view tabla;
  Familia familia;
};
constexpr TablaDeFamilia kFamilias[] = {
    {"V_MA_ARTICULOS", Familia::Articulos},   {"V_MA_INSUMOS", Familia::Articulos},
    {"S_TA_EQUIV", Familia::Articulos},       {"V_MA_ARTCATREL", Familia::Articulos},
    {"V_MA_PRECIOS", Familia::Precios},       {"V_MA_PRECIOSCAB", Familia::Precios},
    {"V_MA_Precios_Borrador", Familia::Precios},
    {"MA_CUENTAS", Familia::Cuentas},         {"VT_CLIENTES", Familia::Cuentas},
    {"VT_PROVEEDORES", Familia::Cuentas},     {"MA_CUENTASADIC", Familia::Cuentas},
    {"MA_CLAVEPIN", Familia::Cuentas},        {"MA_CUENTAS_AUTOCPTES", Familia::Cuentas},
    {"TA_CCOSTO", Familia::Tablas},           {"TA_CONDIVA", Familia::Tablas},
    {"TA_CUENTASIVA", Familia::Tablas},       {"TA_ESTADOS", Familia::Tablas},
    {"TA_MONEDAS", Familia::Tablas},          {"TA_PAISES", Familia::Tablas},
    {"TA_TAREAS", Familia::Tablas},           {"TA_TIPODOCUMENTO", Familia::Tablas},
    {"TA_TIPOVEHICULO", Familia::Tablas},     {"TA_USUARIOS", Familia::Tablas},
    {"V_TA_BANCOS", Familia::Tablas},         {"V_TA_CAJAS", Familia::Tablas},
    {"V_TA_CATEGORIA", Familia::Tablas},      {"V_TA_COLORES", Familia::Tablas},
    {"V_TA_CPRA_VTA", Familia::Tablas},       {"V_TA_CPRA_VTADIAS", Familia::Tablas},
    {"V_TA_DEPOSITO", Familia::Tablas},       {"V_TA_FAMILIAS", Familia::Tablas},
    {"V_TA_INPUT_COMPRAS", Familia::Tablas},  {"V_TA_INPUT_VENTAS", Familia::Tablas},
    {"V_TA_MOTIVOCPRA", Familia::Tablas},     {"V_TA_MOTIVOVTA", Familia::Tablas},
    {"V_TA_MOTIVOSTOCK", Familia::Tablas},    {"V_TA_PERCEPCION", Familia::Tablas},
    {"V_TA_ORIGEN", Familia::Tablas},         {"V_TA_RUBROS", Familia::Tablas},
    {"V_TA_ETAPAS", Familia::Tablas},         {"V_TA_TAREAS", Familia::Tablas},
    {"V_TA_TECNICOS", Familia::Tablas},       {"V_TA_UNIDAD", Familia::Tablas},
    {"V_TA_UNIDADNEGOCIO", Familia::Tablas},  {"V_TA_VENDEDORES", Familia::Tablas},
    {"TA_CONFIGURACION", Familia::Configuracion},
};

struct Exclusion {
  Familia familia;
  const char* columna;
};
constexpr Exclusion kExclusiones[] = {
    {Familia::Articulos, "OL_ExceptoArticulos"},
    {Familia::Precios, "OL_ExceptoPrecios"},
    {Familia::Cuentas, "OL_ExceptoCuentas"},
    {Familia::Tablas, "OL_ExceptoTablas"},
};

Familia FamiliaDe(const std::string& tabla) {
  for (const auto& f : kFamilias)
    if (text::EqualsNoCase(tabla, f.tabla)) return f.familia;
  return Familia::Ninguna;
}

// Whether the point of sale's row keeps it from receiving the family (Null: it does not).
bool Excluido(ado::Recordset& punto, Familia familia) {
  for (const auto& e : kExclusiones)
    if (e.familia == familia) return punto.Fields(e.columna).Value().ToBool().value_or(false);
  return false;
}

bool enCurso = false;
// The points of sale being walked; released at the end of each call.
ado::RecordsetPtr rsPuntosVenta;

class EnCurso {
 public:
  EnCurso() { enCurso = true; }
  ~EnCurso() { enCurso = false; }
  EnCurso(const EnCurso&) = delete;
  EnCurso& operator=(const EnCurso&) = delete;
};

// A call the replication refuses: told to the operator and logged, with only an OK.
void Rehusar(const std::string& motivo) {
  ReportaError(RaisedError(errnum::kInvalidArgument, motivo), mb::kOk | mb::kExclamation);
}

// Keeps the banner up while targets are served, so a save to many points of sale never
// looks frozen. A banner taken down for a message comes back at the next target.
// The table as the operator knows it: by the title of the window that edits it.
std::string NombreParaOperador(const std::string& tabla) {
  if (text::EqualsNoCase(tabla, "V_TA_ETAPAS")) return "Tabla de Status";
  return "Tabla " + tabla;
}

void MostrarAvance(const std::string& tabla, const std::string& destino, const std::string& etapa) {
  Dll_Display& cartel = CartelCompartido();
  const bool oculto = !cartel.Ventana() || !cartel.Ventana()->Visible();
  bool cancelado = false;
  cartel.CartelMostrar(cancelado, Variant(NombreParaOperador(tabla)), Variant(destino), Variant(etapa));
  if (oculto) cartel.CartelInicio("Enviando cambios a los puntos de venta", false);
}

std::string PuntoDeVenta(const std::string& codigo, const std::string& descripcion) {
  const std::string nombre = text::TrimCopy(descripcion);
  return nombre.empty() ? "Punto de venta " + text::TrimCopy(codigo)
                        : "Punto de venta " + nombre + " (" + text::TrimCopy(codigo) + ")";
}

// The names of a column list as VerificaCampos writes it (plain or [delimited]).
std::vector<std::string> NombresDeLista(const std::string& lista) {
  std::vector<std::string> nombres;
  std::string actual;
  for (size_t i = 0; i < lista.size(); ++i) {
    if (lista[i] == '[') {
      actual += '[';
      for (++i; i < lista.size(); ++i) {
        actual += lista[i];
        if (lista[i] != ']') continue;
        if (i + 1 < lista.size() && lista[i + 1] == ']') actual += lista[++i];
        else break;
      }
    } else if (lista[i] == ',') {
      nombres.push_back(std::move(actual));
      actual.clear();
    } else {
      actual += lista[i];
    }
  }
  if (!actual.empty()) nombres.push_back(std::move(actual));
  return nombres;
}

// A target column with an unusual name that the home table lacks: the transfer could only
// fail on it, so the target is refused, recorded and told, and the next one is served.
// Plain names keep the transfer's own failure.
bool ColumnaAjena(const std::string& Tabla, const std::string& columnas) {
  std::vector<std::string> ajenas;
  for (const auto& n : NombresDeLista(columnas))
    if (!n.empty() && n.front() == '[') ajenas.push_back(n);
  if (ajenas.empty()) return false;
  std::string tipos;
  const auto casa = NombresDeLista(VerificaCampos(Tabla, *SesionSistema.Datos, "ID", "IMAGEN", "TRANSMISION",
                                                  "RECEPCION", false, tipos, "OBSERVACIONES"));
  for (const auto& n : ajenas) {
    bool enCasa = false;
    for (const auto& c : casa) enCasa = enCasa || text::EqualsNoCase(n, c);
    if (enCasa) continue;
    ClsDatos& destino = *SesionSistema.DatosDestino;
    const std::string motivo = "La tabla " + Tabla + " de la base de datos " + destino.BaseDatos() + " Server: " +
                               destino.Servidor() + " tiene la columna " + n +
                               ", que no existe en la base de la empresa: no se replicó en esa base. Quite o renombre "
                               "esa columna en el destino y vuelva a grabar.";
    std::string proceso = Platform().NombreEjecutable() + "/" + destino.Servidor();
    GrabaErrorAux("", proceso, 0, motivo);
    CartelCompartido().CartelCerrar();
    Platform().MsgBox(motivo, mb::kCritical | mb::kOk, "Atención");
    return true;
  }
  return false;
}

}  // namespace

bool ReplicacionEnCurso() { return enCurso; }

bool Permite(const std::string& Tipos, size_t posicion) { return posicion < Tipos.size() && Tipos[posicion] == '1'; }

std::string ArmarFiltro(const std::string& Filtro, const ClavesDeTabla& claves, const ValoresClave& valores) {
  std::string filtro;
  if (!Filtro.empty()) {
    if (text::FindNoCase(Filtro, "WHERE ") == std::string::npos)
      filtro = " WHERE " + Filtro;
    else
      // The statements append the filter right after the table's name.
      filtro = Filtro.front() == ' ' ? Filtro : " " + Filtro;
  }
  for (size_t n = 0; n < valores.size(); ++n) {
    if (valores[n].empty()) continue;
    if (filtro.empty())
      filtro += (n == 1 ? " Where " : " WHERE ") + claves[n] + " = " + valores[n];
    else
      filtro += " AND " + claves[n] + " = " + valores[n];
  }
  return filtro;
}

bool GrupoHabilitado(const std::string& Tabla) {
  std::string aux, tablas;
  const std::string deshabilitado = Cfg("GRP_Deshabilitado", aux);
  Cfg("GRP_Tablas", tablas);
  if (text::Trim(deshabilitado).empty() || deshabilitado != "0") return false;
  const std::string nombre = text::RemoveAllNoCase(Tabla, "@ADMIN_");
  bool habilitado = false;
  if (!text::Trim(tablas).empty()) {
    if (tablas.front() != '|') tablas.insert(tablas.begin(), '|');
    std::string entrada = "|";
    entrada.append(nombre).append("|");
    if (text::FindNoCase(tablas, entrada) != std::string::npos) habilitado = true;
    // Documents and their status go to the group whenever it shares any table.
    if (text::FindNoCase(nombre, "V_MV_STATUS") != std::string::npos ||
        text::FindNoCase(nombre, "V_MV_CPTE") != std::string::npos)
      habilitado = true;
  }
  if (text::EqualsNoCase(nombre, "ma_cuentas_servicios")) habilitado = true;
  return habilitado;
}

void ConectarDestino(std::string& Servidor, std::string& Base) {
  ClsDatos& destino = *SesionSistema.DatosDestino;
  std::string aux;
  if (Servidor.empty()) Servidor = Cfg("GRP_Server", aux);
  if (Base.empty()) Base = Cfg("GRP_Base", aux);
  if (destino.Conectado()) destino.Conexion()->Close();
  // Targets are found where the main session finds its servers.
  destino.AsignarDatoSesion(SesionSistema.Datos->DatoSesion());
  destino.Servidor(Servidor.substr(0, Servidor.find(':')));
  // A replica's login name and password are its database name.
  destino.BaseDatos(Base);
  destino.Usuario(Base);
  destino.Clave(Base);
  std::string cadena;
  destino.Conectar(false, 3, cadena, true, true);
}

bool ReplicarEnDestino(const std::string& Tabla, long Accion, const std::string& Tipos, std::string Servidor,
                       std::string Base, const ValoresClave& valores, const std::string& Filtro) {
  ClavesDeTabla claves;
  std::string columnas, tipos, filtro;
  Rutina p;
  p.Paso([&] { ConectarDestino(Servidor, Base); });
  p.Paso([&] { claves = ClavesTabla(Tabla); });
  p.Paso([&] {
    columnas = VerificaCampos(Tabla, *SesionSistema.DatosDestino, "ID", "IMAGEN", "TRANSMISION", "RECEPCION", false,
                              tipos, "OBSERVACIONES");
  });
  p.Paso([&] {
    if (ColumnaAjena(Tabla, columnas)) p.Terminar();
  });
  p.Paso([&] {
    filtro = ArmarFiltro(Filtro, claves, valores);
    // Without a condition the statements would reach every row of the target table.
    if (text::Trim(filtro).empty() && Accion >= 1 && Accion <= 3)
      throw RaisedError(errnum::kInvalidArgument, "No se indicó la fila de " + Tabla + " que se debe replicar.");
  });
  p.Paso([&] {
    if (Accion == 1 || Accion == 2)
      p.Llamar(InsertarOActualizar(Tabla, Tipos, filtro, columnas));
    else if (Accion == 3)
      p.Llamar(BorrarFila(Tabla, Tipos, filtro));
  });
  return p.Ejecutar();
}

void ReplicarTabla(std::string& Tabla, long Accion, const std::string& Valor1, const std::string& Valor2,
                   const std::string& Valor3, const std::string& Valor4, const std::string& Valor5,
                   const std::string& Valor6, const std::string& Filtro, const std::string&, bool) {
  // One replication at a time: the points of sale and the target are single objects,
  // and a save can be clicked again while a replication lets pending events through.
  if (enCurso) {
    Rehusar("Ya hay una replicación en curso: espere a que termine antes de grabar otra vez.");
    return;
  }
  const ValoresClave valores = {Valor1, Valor2, Valor3, Valor4, Valor5, Valor6};
  bool sinCondicion = text::Trim(Filtro).empty();
  for (const auto& v : valores) sinCondicion = sinCondicion && v.empty();
  if (sinCondicion) {
    Rehusar("No se replicó " + text::RemoveAllNoCase(Tabla, "@ADMIN_") +
            " en ningún destino: no se indicó la clave ni el filtro de la fila, y sin ellos se cambiarían todas "
            "las filas de cada destino.");
    return;
  }

  EnCurso enCursoAhora;
  CartelCedeAMensajes cartelCede;
  ClsDatos& datos = *SesionSistema.Datos;
  ClsDatos& remotos = *SesionSistema.DatosRemotos;
  Familia familia = Familia::Ninguna;
  std::string codigo, servidor, base, descripcion;
  bool excluido = false, conectado = false;
  size_t fila = 0, siguiente = 0, grupo = 0;

  Rutina p;
  p.Paso([&] {
    Tabla = text::RemoveAllNoCase(Tabla, "@ADMIN_");
    familia = FamiliaDe(Tabla);
  });
  p.Paso([&] { datos.AbrirRecordset(kConsultaPuntosVenta, rsPuntosVenta, nullptr, 0, 1, -1, true); });
  fila = p.Paso([&] {
    if (Abierto(rsPuntosVenta).EOF_()) p.IrA(grupo);
  });
  p.Paso([&] {
    // A table of no family never goes to a point of sale.
    excluido = familia == Familia::Ninguna;
    ado::Recordset& punto = Abierto(rsPuntosVenta);
    codigo = ClsUtil::ValorCampo(punto.Fields("Codigo")).ToText();
    servidor = ClsUtil::ValorCampo(punto.Fields("Server")).ToText();
    base = ClsUtil::ValorCampo(punto.Fields("Dbname")).ToText();
    descripcion = ClsUtil::ValorCampo(punto.Fields("Descripcion")).ToText();
  });
  p.Paso([&] {
    if (!excluido) excluido = Excluido(Abierto(rsPuntosVenta), familia);
    if (excluido) p.IrA(siguiente);
  });
  p.Paso([&] { MostrarAvance(Tabla, PuntoDeVenta(codigo, descripcion), "Conectando con el punto de venta..."); });
  p.Paso([&] {
    // A point of sale's login name and password are its database name.
    conectado = ConexionBaseRemota(servidor, base, base, base, codigo, "");
  });
  p.Paso([&] {
    if (!conectado) return;
    remotos.ConexionAbierta().Close();
    remotos.Conectado(false);
  });
  p.Paso([&] {
    if (conectado) {
      MostrarAvance(Tabla, PuntoDeVenta(codigo, descripcion), "Enviando los cambios...");
      p.Llamar(ReplicarEnDestino(Tabla, Accion, kTiposPuntoVenta, ExtraeServidor(text::TrimCopy(servidor)), base,
                                 valores, Filtro));
    } else {
      Platform().MsgBox("No se pudo conectar al Punto de ventas " + descripcion, mb::kInformation | mb::kOk,
                        "Aviso al operador");
    }
  });
  siguiente = p.Paso([&] {
    Abierto(rsPuntosVenta).MoveNext();
    p.IrA(fila);
  });
  grupo = p.Paso([&] {
    if (!GrupoHabilitado(Tabla)) return;
    std::string aux;
    const std::string tipos = Cfg("GRP_Tipos", aux);
    const std::string servidorGrupo = Cfg("GRP_Server", aux);
    const std::string baseGrupo = Cfg("GRP_Base", aux);
    MostrarAvance(Tabla, "Base del grupo " + text::TrimCopy(baseGrupo), "Actualizando...");
    p.Llamar(ReplicarEnDestino(Tabla, Accion, tipos, servidorGrupo, baseGrupo, valores, Filtro));
  });
  p.Ejecutar();

  if (rsPuntosVenta && rsPuntosVenta->IsOpen()) rsPuntosVenta->Close();
  rsPuntosVenta.reset();
  if (CartelCompartido().Ventana()) CartelCompartido().CartelCerrar();
}

}  // namespace etapas
