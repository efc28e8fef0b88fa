// The replication driver: the walk over the points of sale and the group database, the
// choice of targets and the preparation of each one.
#include <atomic>
#include <string_view>
#include <vector>

#include "common/conexion_remota.h"
#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/interrupcion.h"
#include "components/platform.h"
#include "components/pool_conexiones.h"
#include "components/reparto.h"
#include "components/text.h"
#include "progress/dll_display.h"
#include "replication/desenlace.h"
#include "replication/familias.h"
#include "replication/mod_grupos_emp.h"
#include "replication/pendientes.h"
#include "replication/recorrido.h"
#include "replication/rutina.h"

namespace etapas {
namespace {

using replicacion::Abierto;
using replicacion::Destino;
using replicacion::Grupo;
using replicacion::LeerPuntosDeVenta;
using replicacion::NombrePunto;
using replicacion::ProbarTodos;
using replicacion::Recibe;
using replicacion::Rutina;

constexpr const char* kConsultaPuntosVenta =
    "SELECT * FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO ";
constexpr const char* kTiposPuntoVenta = "111";

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
  const auto casa = NombresDeLista(EnCasaValor([&] {
    return VerificaCampos(Tabla, *SesionSistema.Datos, "ID", "IMAGEN", "TRANSMISION", "RECEPCION", false, tipos,
                          "OBSERVACIONES");
  }));
  for (const auto& n : ajenas) {
    bool enCasa = false;
    for (const auto& c : casa) enCasa = enCasa || text::EqualsNoCase(n, c);
    if (enCasa) continue;
    ClsDatos& destino = SesionDestino();
    const std::string motivo = "La tabla " + Tabla + " de la base de datos " + destino.BaseDatos() +
                               " Server: " + destino.Servidor() + " tiene la columna " + n +
                               ", que no existe en la base de la empresa: no se replicó en esa base. Quite o renombre "
                               "esa columna en el destino y vuelva a grabar.";
    std::string proceso = Platform().NombreEjecutable() + "/" + destino.Servidor();
    replicacion::AnotarFallo(motivo);
    EnTurnoSinEsperar([proceso, motivo]() mutable {
      GrabaErrorAux("", proceso, 0, motivo);
      CartelCompartido().CartelCerrar();
      Platform().MsgBox(motivo, mb::kCritical | mb::kOk, "Atención");
    });
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
  ClsDatos& destino = SesionDestino();
  EnCasa([&] {
    std::string aux;
    if (Servidor.empty()) Servidor = Cfg("GRP_Server", aux);
    if (Base.empty()) Base = Cfg("GRP_Base", aux);
  });
  if (destino.Conectado()) destino.Desconectar();
  // Targets are found where the main session finds its servers.
  destino.AsignarDatoSesion(EnCasaValor([] { return SesionSistema.Datos->DatoSesion(); }));
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
  p.Paso([&] {
    ConectarDestino(Servidor, Base);
    if (!SesionDestino().Conectado()) replicacion::AnotarFallo(SesionDestino().TextoFallo());
  });
  p.Paso([&] { claves = ClavesTabla(Tabla); });
  p.Paso([&] {
    columnas = VerificaCampos(Tabla, SesionDestino(), "ID", "IMAGEN", "TRANSMISION", "RECEPCION", false, tipos,
                              "OBSERVACIONES");
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

// What a walk owes: every target is written down in the home database before any of them
// is tried, and its row goes only when it got the change, so neither an abort, a cancel
// nor the process's end loses one. The operator is told from the targets' outcomes.
class Pendientes {
 public:
  Pendientes(const std::string& tabla, long accion, const ValoresClave& valores, const std::string& filtro)
      : tabla_(tabla), accion_(accion), valores_(valores), filtro_(filtro) {}

  // Before the walk: one row for every target it will try. False when the home database
  // did not take them.
  bool AnotarTodos(std::vector<Destino>& puntos, Destino* grupo, bool propia = true) {
    std::vector<Destino*> destinos;
    for (auto& d : puntos)
      if (!d.excluido) destinos.push_back(&d);
    if (grupo) destinos.push_back(grupo);
    if (destinos.empty() || accion_ < 1 || accion_ > 3) return true;
    ClsDatos& casa = *SesionSistema.Datos;
    if (!AsegurarTablaPendientes(casa)) return false;
    std::vector<CambioPendiente> cambios;
    cambios.reserve(destinos.size());
    for (const Destino* d : destinos) cambios.push_back(Cambio(*d));
    if (!AnotarPendientes(casa, cambios, propia)) return false;
    for (size_t i = 0; i < destinos.size(); ++i) destinos[i]->cambio = std::move(cambios[i]);
    return true;
  }

  CambioPendiente Cambio(const Destino& d) const {
    CambioPendiente c;
    c.Tabla = tabla_;
    c.Accion = accion_;
    c.Valores = valores_;
    c.Filtro = filtro_;
    c.Destino = d.codigo;
    c.Servidor = d.servidor;
    c.Base = d.base;
    c.Motivo = "La replicación aún no llegó a este destino.";
    return c;
  }

  // The target did not get the change: its row stays, with why.
  void Anotar(Destino& d, const std::string& motivo, bool motivoEscrito = false) {
    if (d.estado == Destino::Estado::Pendiente) return;
    d.estado = Destino::Estado::Pendiente;
    EnCasa([&] {
      ++(d.codigo == kDestinoGrupo ? grupo_ : puntos_);
      if (!motivoEscrito && d.cambio.Id != 0) ActualizarMotivo(*SesionSistema.Datos, d.cambio.Id, motivo);
    });
  }

  // Sends the change to a reachable target and says what happened.
  ResultadoEntrega Servir(Destino& d, const std::string& tipos, const std::string& servidor) {
    // A kind of change that writes nothing is owed by nobody.
    ResultadoEntrega r = d.cambio.Id == 0 ? Transferir(tabla_, accion_, tipos, servidor, d.base, valores_, filtro_)
                                          : ServirPendiente(d.cambio, tipos, servidor, d.base, Envio::ComoSeAnoto);
    if (r.entrega == Entrega::Servida)
      d.estado = Destino::Estado::Servido;
    else
      Anotar(d, r.motivo, true);
    return r;
  }

  // The operator is told once at the end of the walk, after the messages of each target.
  void Informar() const {
    if (puntos_ == 0 && grupo_ == 0) return;
    std::string quien;
    if (puntos_ > 0) quien = std::to_string(puntos_) + (puntos_ == 1 ? " punto de venta" : " puntos de venta");
    if (grupo_ > 0) quien += std::string(quien.empty() ? "" : " y ") + "la base del grupo";
    Platform().MsgBox("El cambio de " + NombreParaOperador(tabla_) + " quedó pendiente para " + quien +
                          ". Se enviará en la próxima grabación que los alcance, o con etapas-admin sincronizar.",
                      mb::kInformation | mb::kOk, "Aviso al operador");
  }

  // Nothing could be written down: no target was tried.
  void InformarSinAnotar() const {
    Platform().MsgBox("No se pudo anotar el cambio de " + NombreParaOperador(tabla_) +
                          " para los puntos de venta en la base de la empresa, y no se envió a ninguno. El registro "
                          "quedó grabado en la empresa: vuelva a grabarlo cuando la base de la empresa lo permita.",
                      mb::kExclamation | mb::kOk, "Aviso al operador");
  }

 private:
  std::string tabla_;
  long accion_;
  ValoresClave valores_;
  std::string filtro_;
  int puntos_ = 0, grupo_ = 0;
};

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
  std::vector<const Destino*> destinos;
  for (const auto& d : puntos)
    if (!d.excluido) destinos.push_back(&d);
  if (grupo) destinos.push_back(grupo);
  if (destinos.empty()) return;
  cancelado = MostrarAvance(Tabla, "Comprobando los destinos...", "") || InterrupcionPedida();
  ProbarTodos(Tabla, destinos);
}

std::string NombreDestino(const Destino& d) { return d.codigo == kDestinoGrupo ? d.descripcion : NombrePunto(d); }

// The banner while targets are served at once: how many are done, and who is still awaited.
bool MostrarEspera(const std::string& Tabla, const std::vector<Destino*>& destinos, const AvanceReparto& a) {
  std::string esperando;
  constexpr size_t kNombrados = 3;
  for (size_t k = 0; k < a.enCurso.size() && k < kNombrados; ++k)
    esperando += (k == 0 ? "" : ", ") + NombreDestino(*destinos[a.enCurso[k]]);
  if (a.enCurso.size() > kNombrados) esperando += " y " + std::to_string(a.enCurso.size() - kNombrados) + " más";
  const std::string etapa = "Enviando los cambios: " + std::to_string(a.hechos) + " de " + std::to_string(a.total) +
                            (a.total == 1 ? " destino listo" : " destinos listos");
  return MostrarAvance(Tabla, esperando.empty() ? "" : "Esperando a " + esperando, etapa);
}

// One point of sale: the reachability test with its flags, the change and what it owed
// before. False when a transfer was told to stop.
bool ServirPunto(Destino& d, Pendientes& pendientes) {
  // A point of sale's login name and password are its database name.
  if (!ConexionBaseRemota(d.servidor, d.base, d.base, d.base, d.codigo, "")) {
    const std::string motivo = SesionRemotos().MotivoFallo();
    pendientes.Anotar(
        d, "No se pudo conectar al Punto de ventas " + d.descripcion + (motivo.empty() ? "" : ": " + motivo));
    Platform().MsgBox("No se pudo conectar al Punto de ventas " + d.descripcion, mb::kInformation | mb::kOk,
                      "Aviso al operador");
    return true;
  }
  SesionRemotos().Desconectar();
  // Stopped while it was being reached: it is recorded with the others not tried.
  if (RepartoDetenido()) return true;
  const std::string servidor = ExtraeServidor(text::TrimCopy(d.servidor));
  const ResultadoEntrega r = pendientes.Servir(d, kTiposPuntoVenta, servidor);
  if (r.entrega != Entrega::Servida) return r.entrega != Entrega::Detenida;
  // What the store missed before is sent while it is at hand.
  return RepartoDetenido() || !ServirPendientesDe(d.codigo, kTiposPuntoVenta, servidor, d.base).detenido;
}

// Every target at once, each on a worker of its own, the group's database last: a store
// costs its own round trips, not the sum of all of theirs. The messages, the V_TA_TPV flags
// and the AUX_ERR rows still come in CODIGO order. A stop (the operator's cancel, a
// failure's question answered so) starts no further target; those already under way end.
// False when a transfer was told to stop.
bool ServirTodos(const std::string& Tabla, std::vector<Destino>& puntos, Destino* grupo, const std::string& tiposGrupo,
                 bool& cancelado, Pendientes& pendientes) {
  std::vector<Destino*> destinos;
  for (auto& d : puntos)
    if (!d.excluido) destinos.push_back(&d);
  if (grupo) destinos.push_back(grupo);
  if (destinos.empty() || cancelado) return true;
  std::atomic<bool> detenida{false};
  Repartir(
      destinos.size(), replicacion::DestinosALaVez(),
      [&](size_t k) {
        if (RepartoDetenido()) return;
        Destino& d = *destinos[k];
        const bool sigue = d.codigo == kDestinoGrupo
                               ? pendientes.Servir(d, tiposGrupo, d.servidor).entrega != Entrega::Detenida
                               : ServirPunto(d, pendientes);
        if (sigue) return;
        detenida = true;
        DetenerReparto();
      },
      [&](const AvanceReparto& a) {
        cancelado = cancelado || InterrupcionPedida() || MostrarEspera(Tabla, destinos, a);
        return cancelado;
      });
  return !detenida;
}

// After the walk: the targets it never got to (it was cancelled, or stopped at a failure)
// are recorded, what the walk held is released and the operator is told what is pending.
void CerrarRecorrido(std::vector<Destino>& puntos, Destino* grupo, bool cancelado, bool anotado,
                     Pendientes& pendientes) {
  const std::string motivo =
      InterrupcionPedida() ? "La replicación se interrumpió al cerrar el programa antes de llegar a este destino."
      : cancelado          ? "La replicación fue cancelada por el operador antes de llegar a este destino."
                           : "La replicación se detuvo antes de llegar a este destino.";
  if (!anotado) return;
  for (auto& d : puntos)
    if (!d.excluido && d.estado == Destino::Estado::SinIntentar) pendientes.Anotar(d, motivo);
  if (grupo && grupo->estado == Destino::Estado::SinIntentar) pendientes.Anotar(*grupo, motivo);

  PoolConexiones::Compartido().Vaciar();
  if (SesionDestino().Conectado()) SesionDestino().Desconectar();
  if (rsPuntosVenta && rsPuntosVenta->IsOpen()) rsPuntosVenta->Close();
  rsPuntosVenta.reset();
  if (CartelCompartido().Ventana()) CartelCompartido().CartelCerrar();
  if (anotado)
    pendientes.Informar();
  else
    pendientes.InformarSinAnotar();
}

}  // namespace

AnotacionPrevia::AnotacionPrevia(std::string Tabla, long Accion, const ValoresClave& valores,
                                 const std::string& Filtro) {
  Tabla = text::RemoveAllNoCase(Tabla, "@ADMIN_");
  bool sinCondicion = text::Trim(Filtro).empty();
  for (const auto& v : valores) sinCondicion = sinCondicion && v.empty();
  if (enCurso || sinCondicion || Accion < 1 || Accion > 3) return;
  try {
    ado::RecordsetPtr rs;
    SesionSistema.Datos->AbrirRecordset(kConsultaPuntosVenta, rs, nullptr, 0, 1, -1, true);
    std::vector<Destino> puntos = LeerPuntosDeVenta(Abierto(rs));
    if (rs->IsOpen()) rs->Close();
    std::vector<const Destino*> destinos;
    for (const auto& d : puntos)
      if (Recibe(d, Tabla)) destinos.push_back(&d);
    std::string tipos;
    Destino grupo;
    if (GrupoHabilitado(Tabla)) {
      grupo = Grupo(tipos);
      destinos.push_back(&grupo);
    }
    if (destinos.empty() || !AsegurarTablaPendientes(*SesionSistema.Datos)) return;
    const Pendientes pendientes(Tabla, Accion, valores, Filtro);
    for (const Destino* d : destinos) cambios_.push_back(pendientes.Cambio(*d));
  } catch (const RaisedError&) {
    cambios_.clear();  // the walk writes them down itself, and says so when it cannot
  }
}

bool AnotacionPrevia::Anotar() { return cambios_.empty() || AnotarPendientes(*SesionSistema.Datos, cambios_, false); }

void ReplicarTabla(std::string& Tabla, long Accion, const std::string& Valor1, const std::string& Valor2,
                   const std::string& Valor3, const std::string& Valor4, const std::string& Valor5,
                   const std::string& Valor6, const std::string& Filtro, const std::string&, bool) {
  const ValoresClave valores = {Valor1, Valor2, Valor3, Valor4, Valor5, Valor6};
  if (Rehusada(Tabla, valores, Filtro)) return;

  EnCurso enCursoAhora;
  TrabajoEnCurso trabajo;
  CartelCedeAMensajes cartelCede;
  ClsDatos& datos = *SesionSistema.Datos;
  std::vector<Destino> puntos;
  Destino grupo;
  grupo.codigo = kDestinoGrupo;
  bool conGrupo = false, cancelado = false, anotado = true;
  std::string tiposGrupo;
  Tabla = text::RemoveAllNoCase(Tabla, "@ADMIN_");
  Pendientes pendientes(Tabla, Accion, valores, Filtro);

  Rutina p;
  p.Paso([&] { datos.AbrirRecordset(kConsultaPuntosVenta, rsPuntosVenta, nullptr, 0, 1, -1, true); });
  p.Paso([&] {
    puntos = LeerPuntosDeVenta(Abierto(rsPuntosVenta));
    for (auto& d : puntos) d.excluido = !Recibe(d, Tabla);
  });
  p.Paso([&] {
    conGrupo = GrupoHabilitado(Tabla);
    if (conGrupo) grupo = Grupo(tiposGrupo);
  });
  // Written down before any target is tried: an interruption from here on leaves each
  // target with the change or owing it.
  p.Paso([&] {
    anotado = pendientes.AnotarTodos(puntos, conGrupo ? &grupo : nullptr);
    if (!anotado) p.Terminar();
  });
  p.Paso([&] { ProbarDestinos(Tabla, puntos, conGrupo ? &grupo : nullptr, cancelado); });
  p.Paso([&] { p.Llamar(ServirTodos(Tabla, puntos, conGrupo ? &grupo : nullptr, tiposGrupo, cancelado, pendientes)); });
  p.Ejecutar();
  CerrarRecorrido(puntos, conGrupo ? &grupo : nullptr, cancelado, anotado, pendientes);
}

}  // namespace etapas
