// The replication driver: the walk over the points of sale and the group database, the
// choice of targets and the preparation of each one.
#include <string_view>
#include <vector>

#include "common/conexion_remota.h"
#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/interrupcion.h"
#include "components/platform.h"
#include "components/pool_conexiones.h"
#include "components/text.h"
#include "progress/dll_display.h"
#include "replication/familias.h"
#include "replication/mod_grupos_emp.h"
#include "replication/pendientes.h"
#include "replication/rutina.h"

namespace etapas {
namespace {

using replicacion::Abierto;
using replicacion::Familia;
using replicacion::Rutina;

constexpr const char* kConsultaPuntosVenta =
    "SELECT * FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO ";
constexpr const char* kTiposPuntoVenta = "111";
// The connection time-out of the sessions, which bounds trying every target at once.
constexpr int kEsperaConexion = 15;

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

// True once the operator has pressed "Cancelar" on the banner.
bool MostrarAvance(const std::string& tabla, const std::string& destino, const std::string& etapa) {
  Dll_Display& cartel = CartelCompartido();
  const bool oculto = !cartel.Ventana() || !cartel.Ventana()->Visible();
  bool cancelado = false;
  cartel.CartelMostrar(cancelado, Variant(NombreParaOperador(tabla)), Variant(destino), Variant(etapa));
  if (oculto) cartel.CartelInicio("Enviando cambios a los puntos de venta", true);
  return cancelado;
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
        if (i + 1 < lista.size() && lista[i + 1] == ']')
          actual += lista[++i];
        else
          break;
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
    const std::string motivo = "La tabla " + Tabla + " de la base de datos " + destino.BaseDatos() +
                               " Server: " + destino.Servidor() + " tiene la columna " + n +
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
  if (destino.Conectado()) destino.Desconectar();
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

namespace {

// One target of a walk: a point of sale of V_TA_TPV, or the group's database.
struct Destino {
  std::string codigo, servidor, base, descripcion;  // codigo: kDestinoGrupo for the group
  bool excluido = false;
  enum class Estado { SinIntentar, Servido, Pendiente } estado = Estado::SinIntentar;
};

// What a walk leaves owed: every target that did not get the change is written down in
// the home database as it happens, so neither an abort nor a cancel loses one.
class Pendientes {
 public:
  Pendientes(const std::string& tabla, long accion, const ValoresClave& valores, const std::string& filtro)
      : tabla_(tabla), accion_(accion), valores_(valores), filtro_(filtro) {}

  void Anotar(Destino& d, const std::string& motivo) {
    if (d.estado == Destino::Estado::Pendiente) return;
    d.estado = Destino::Estado::Pendiente;
    ++(d.codigo == kDestinoGrupo ? grupo_ : puntos_);
    ClsDatos& casa = *SesionSistema.Datos;
    if (!tabla_ok_) tabla_ok_ = AsegurarTablaPendientes(casa);
    CambioPendiente c;
    c.Tabla = tabla_;
    c.Accion = accion_;
    c.Valores = valores_;
    c.Filtro = filtro_;
    c.Destino = d.codigo;
    c.Servidor = d.servidor;
    c.Base = d.base;
    c.Motivo = motivo;
    if (!tabla_ok_ || !RegistrarPendiente(casa, c)) ++sinAnotar_;
  }

  // The target got this change: what it owed for the same row is settled by it.
  void Servido(Destino& d) {
    d.estado = Destino::Estado::Servido;
    try {
      DescartarPendiente(*SesionSistema.Datos, tabla_, valores_, filtro_, d.codigo);
    } catch (const RaisedError&) {
      // A home database without the table owes nothing.
    }
  }

  // Told once at the end of the walk, after the messages of each target.
  void Informar() const {
    if (puntos_ == 0 && grupo_ == 0) return;
    std::string quien;
    if (puntos_ > 0) quien = std::to_string(puntos_) + (puntos_ == 1 ? " punto de venta" : " puntos de venta");
    if (grupo_ > 0) quien += std::string(quien.empty() ? "" : " y ") + "la base del grupo";
    std::string m = "El cambio de " + NombreParaOperador(tabla_) + " quedó pendiente para " + quien + ".";
    if (sinAnotar_ == 0)
      m += " Se enviará en la próxima grabación que los alcance, o con etapas-admin sincronizar.";
    else
      m += " No se pudo anotar como pendiente en la base de la empresa: vuelva a grabar el registro cuando "
           "los destinos estén disponibles.";
    Platform().MsgBox(m, mb::kInformation | mb::kOk, "Aviso al operador");
  }

 private:
  std::string tabla_;
  long accion_;
  ValoresClave valores_;
  std::string filtro_;
  bool tabla_ok_ = false;
  int puntos_ = 0, grupo_ = 0, sinAnotar_ = 0;
};

// The walk reads the points of sale once, so that all of them can be tried at once first.
std::vector<Destino> LeerPuntosDeVenta(ado::Recordset& rs, Familia familia) {
  std::vector<Destino> puntos;
  for (; !rs.EOF_(); rs.MoveNext()) {
    Destino d;
    d.codigo = ClsUtil::ValorCampo(rs.Fields("Codigo")).ToText();
    d.servidor = ClsUtil::ValorCampo(rs.Fields("Server")).ToText();
    d.base = ClsUtil::ValorCampo(rs.Fields("Dbname")).ToText();
    d.descripcion = ClsUtil::ValorCampo(rs.Fields("Descripcion")).ToText();
    // A table of no family never goes to a point of sale.
    d.excluido = familia == Familia::Ninguna || replicacion::Excluido(rs, familia);
    puntos.push_back(std::move(d));
  }
  return puntos;
}

// What the walk needs of a target, tried before its turn: that its copy of the table can
// be read and written. The table is named as the transfer names it.
std::string SentenciaPrueba(const std::string& tabla) {
  const std::string& t = tabla;
  const std::string clave = ClavesTabla(tabla)[0];
  std::string sql = "BEGIN TRANSACTION; SELECT TOP 0 * FROM " + t + "; ";
  if (!clave.empty()) sql += "UPDATE " + t + " SET " + clave + " = " + clave + " WHERE 1 = 0; ";
  return sql + "ROLLBACK TRANSACTION";
}

// A call that cannot run: another replication is under way, or nothing says which row.
bool Rehusada(const std::string& Tabla, const ValoresClave& valores, const std::string& Filtro) {
  // One replication at a time: the points of sale and the target are single objects,
  // and a save can be clicked again while a replication lets pending events through.
  if (enCurso) {
    Rehusar("Ya hay una replicación en curso: espere a que termine antes de grabar otra vez.");
    return true;
  }
  bool sinCondicion = text::Trim(Filtro).empty();
  for (const auto& v : valores) sinCondicion = sinCondicion && v.empty();
  if (sinCondicion) {
    Rehusar("No se replicó " + text::RemoveAllNoCase(Tabla, "@ADMIN_") +
            " en ningún destino: no se indicó la clave ni el filtro de la fila, y sin ellos se cambiarían todas "
            "las filas de cada destino.");
    return true;
  }
  return false;
}

// Every target is tried at once, so a store that does not answer costs one wait, not one each.
void ProbarDestinos(const std::string& Tabla, const std::vector<Destino>& puntos, const Destino* grupo,
                    bool& cancelado) {
  std::vector<DestinoConexion> intentos;
  for (const auto& d : puntos) {
    if (d.excluido) continue;
    const std::string base = text::TrimCopy(d.base);
    intentos.push_back({ExtraeServidor(text::TrimCopy(d.servidor)), base, base, base});
  }
  if (grupo)
    intentos.push_back({grupo->servidor.substr(0, grupo->servidor.find(':')), grupo->base, grupo->base, grupo->base});
  if (intentos.empty()) return;
  cancelado = MostrarAvance(Tabla, "Comprobando los destinos...", "") || InterrupcionPedida();
  PoolConexiones::Compartido().Probar(SesionSistema.Datos->RaizDatos(), intentos, kEsperaConexion,
                                      SentenciaPrueba(Tabla));
}

// The group's database, after the points of sale; false when the operator chose to stop.
bool ServirGrupo(const std::string& Tabla, long Accion, const std::string& tipos, Destino& grupo,
                 const ValoresClave& valores, const std::string& Filtro, bool& cancelado, Pendientes& pendientes) {
  cancelado = cancelado || MostrarAvance(Tabla, "Base del grupo " + text::TrimCopy(grupo.base), "Actualizando...") ||
              InterrupcionPedida();
  if (cancelado) return true;
  const ResultadoEntrega r = Transferir(Tabla, Accion, tipos, grupo.servidor, grupo.base, valores, Filtro);
  if (r.entrega == Entrega::Servida) {
    pendientes.Servido(grupo);
    return true;
  }
  pendientes.Anotar(grupo, r.motivo);
  return r.entrega != Entrega::Detenida;
}

// After the walk: the targets it never got to (it was cancelled, or stopped at a failure)
// are recorded, what the walk held is released and the operator is told what is pending.
void CerrarRecorrido(std::vector<Destino>& puntos, Destino* grupo, bool cancelado, Pendientes& pendientes) {
  const std::string motivo = cancelado ? "La replicación fue cancelada por el operador antes de llegar a este destino."
                                       : "La replicación se detuvo antes de llegar a este destino.";
  for (auto& d : puntos)
    if (!d.excluido && d.estado == Destino::Estado::SinIntentar) pendientes.Anotar(d, motivo);
  if (grupo && grupo->estado == Destino::Estado::SinIntentar) pendientes.Anotar(*grupo, motivo);

  PoolConexiones::Compartido().Vaciar();
  if (SesionSistema.DatosDestino->Conectado()) SesionSistema.DatosDestino->Desconectar();
  if (rsPuntosVenta && rsPuntosVenta->IsOpen()) rsPuntosVenta->Close();
  rsPuntosVenta.reset();
  if (CartelCompartido().Ventana()) CartelCompartido().CartelCerrar();
  pendientes.Informar();
}

}  // namespace

void ReplicarTabla(std::string& Tabla, long Accion, const std::string& Valor1, const std::string& Valor2,
                   const std::string& Valor3, const std::string& Valor4, const std::string& Valor5,
                   const std::string& Valor6, const std::string& Filtro, const std::string&, bool) {
  const ValoresClave valores = {Valor1, Valor2, Valor3, Valor4, Valor5, Valor6};
  if (Rehusada(Tabla, valores, Filtro)) return;

  TrabajoEnCurso trabajo;
  EnCurso enCursoAhora;
  CartelCedeAMensajes cartelCede;
  ClsDatos& datos = *SesionSistema.Datos;
  ClsDatos& remotos = *SesionSistema.DatosRemotos;
  Familia familia = Familia::Ninguna;
  std::vector<Destino> puntos;
  Destino grupo;
  grupo.codigo = kDestinoGrupo;
  bool conGrupo = false, cancelado = false;
  std::string tiposGrupo;
  size_t i = 0;
  Tabla = text::RemoveAllNoCase(Tabla, "@ADMIN_");
  Pendientes pendientes(Tabla, Accion, valores, Filtro);

  Rutina p;
  // One point of sale of the walk, in CODIGO order.
  Rutina::Lista puntoDeVenta;
  p.Paso([&] { familia = replicacion::FamiliaDe(Tabla); });
  p.Paso([&] { datos.AbrirRecordset(kConsultaPuntosVenta, rsPuntosVenta, nullptr, 0, 1, -1, true); });
  p.Paso([&] { puntos = LeerPuntosDeVenta(Abierto(rsPuntosVenta), familia); });
  p.Paso([&] {
    conGrupo = GrupoHabilitado(Tabla);
    if (!conGrupo) return;
    std::string aux;
    tiposGrupo = Cfg("GRP_Tipos", aux);
    grupo.servidor = Cfg("GRP_Server", aux);
    grupo.base = Cfg("GRP_Base", aux);
  });
  p.Paso([&] { ProbarDestinos(Tabla, puntos, conGrupo ? &grupo : nullptr, cancelado); });
  p.PorCada([&] { return puntos.size(); }, i, puntoDeVenta);
  puntoDeVenta.Paso([&] {
    if (puntos[i].excluido) p.TerminarLista();
  });
  puntoDeVenta.Paso([&] {
    Destino& d = puntos[i];
    cancelado = cancelado ||
                MostrarAvance(Tabla, PuntoDeVenta(d.codigo, d.descripcion), "Conectando con el punto de venta...") ||
                InterrupcionPedida();
    if (cancelado) p.Terminar();
  });
  puntoDeVenta.Paso([&] {
    Destino& d = puntos[i];
    // A point of sale's login name and password are its database name.
    if (ConexionBaseRemota(d.servidor, d.base, d.base, d.base, d.codigo, "")) {
      remotos.Desconectar();
      return;
    }
    Platform().MsgBox("No se pudo conectar al Punto de ventas " + d.descripcion, mb::kInformation | mb::kOk,
                      "Aviso al operador");
    const std::string motivo = remotos.MotivoFallo();
    pendientes.Anotar(
        d, "No se pudo conectar al Punto de ventas " + d.descripcion + (motivo.empty() ? "" : ": " + motivo));
    p.TerminarLista();
  });
  puntoDeVenta.Paso([&] {
    Destino& d = puntos[i];
    MostrarAvance(Tabla, PuntoDeVenta(d.codigo, d.descripcion), "Enviando los cambios...");
    const std::string servidor = ExtraeServidor(text::TrimCopy(d.servidor));
    const ResultadoEntrega r = Transferir(Tabla, Accion, kTiposPuntoVenta, servidor, d.base, valores, Filtro);
    if (r.entrega != Entrega::Servida) {
      pendientes.Anotar(d, r.motivo);
      p.Llamar(r.entrega != Entrega::Detenida);
      return;
    }
    pendientes.Servido(d);
    // What the store missed before is sent while it is at hand.
    p.Llamar(!ServirPendientesDe(d.codigo, kTiposPuntoVenta, servidor, d.base).detenido);
  });
  p.Paso([&] {
    if (conGrupo) p.Llamar(ServirGrupo(Tabla, Accion, tiposGrupo, grupo, valores, Filtro, cancelado, pendientes));
  });
  p.Ejecutar();
  CerrarRecorrido(puntos, conGrupo ? &grupo : nullptr, cancelado, pendientes);
}

}  // namespace etapas
