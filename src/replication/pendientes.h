#pragma once
// What each replication target owes, kept in the home database
// (V_TA_REPLICACION_PENDIENTE): one row per target and row of a replicated table, the
// latest change of that row winning. A save writes the rows of every target before any
// of them is tried, and a row goes only when its target got the change, so after any
// interruption every target either has the change or owes it there.
//
// Recording and listing work on any home session given to them. Serving and comparing
// work as the walk does: SesionSistema.Datos is the home session, the target is reached
// with ReplicarEnDestino (SesionDestino()), and what happened to the target
// comes back as a value from the transfer itself.
//
// No lost update: serving a row first claims it (TOMADO, for a limited time, so a killed
// process cannot hold it for ever), reads its VERSION, sends the home row as it is then,
// and removes the row only if its VERSION is still the one read. A change recorded
// meanwhile moves VERSION on, and the claim holder sends again; another process finding
// the row claimed leaves it to the holder. So two transfers of one row never cross at a
// target, and a row is never cleared by an older home state than the last one recorded.
#include <string>
#include <vector>

#include "components/cls_datos.h"
#include "replication/mod_grupos_emp.h"

namespace etapas {

inline constexpr const char* kTablaPendientes = "V_TA_REPLICACION_PENDIENTE";
// The Destino of a change owed to the group's database (point-of-sale codes have at most
// four characters, so it never names a point of sale).
inline constexpr const char* kDestinoGrupo = "@GRUPO";

struct CambioPendiente {
  long Id = 0;           // the row's identity; ignored when recording
  std::string Tabla;     // as ReplicarEnDestino receives it (without "@ADMIN_")
  long Accion = 0;       // 1 insert, 2 update, 3 delete: ReplicarTabla's Accion
  ValoresClave Valores;  // Valor1 to Valor6 as the walk receives them: SQL literals ("'0013'")
  std::string Filtro;    // the walk's extra condition, or empty
  std::string Destino;   // the point of sale's CODIGO, or kDestinoGrupo
  std::string Servidor;  // the target's server and database when the change was missed
  std::string Base;
  std::string Motivo;  // why it was missed (the failure told, "No se pudo conectar...")
  std::string Fecha;   // the home server's date of the last attempt, as read; ignored when recording
  long Version = 0;    // moves on with each change recorded for the row; ignored when recording
};

// ---- The table -------------------------------------------------------------------------

// Creates V_TA_REPLICACION_PENDIENTE in the home database when it is missing (the
// statement is home.sql's own); a table already there is left as it is. True when the
// table exists afterwards.
bool AsegurarTablaPendientes(ClsDatos& casa);

// ---- Recording, listing, removing ------------------------------------------------------
// Every value is written as data (quoted); false when the home database refused.

// Records, in one home transaction, that each change owes its target (its Destino):
// a target that already owed that row (table, key values, filter) keeps its one row, with
// this change's kind, target, reason and date, and its VERSION moved on; concurrent
// recordings of one row make one row. Each change's Id is filled in. False, with nothing
// recorded, when the home database refused any of them or a change is malformed (an
// Accion other than 1 to 3, an empty Tabla or Destino). With propia false the caller's
// open transaction holds them instead (and a refusal rolls back nothing of it).
bool AnotarPendientes(ClsDatos& casa, std::vector<CambioPendiente>& cambios, bool propia = true);
// The same for one change.
bool RegistrarPendiente(ClsDatos& casa, const CambioPendiente& cambio);

// The pending changes, oldest first within each target (ordered by Destino, then Id);
// an empty tabla or destino does not filter.
std::vector<CambioPendiente> ListarPendientes(ClsDatos& casa, const std::string& tabla = "",
                                              const std::string& destino = "");

// Removes one served change by its Id.
bool QuitarPendiente(ClsDatos& casa, long id);

// Removes what the target owed for that row, if anything: for a target the walk has just
// served with a newer change of the same row.
bool DescartarPendiente(ClsDatos& casa, const std::string& tabla, const ValoresClave& valores,
                        const std::string& filtro, const std::string& destino);

// A change that failed again: its reason and date are brought up to now.
bool ActualizarMotivo(ClsDatos& casa, long id, const std::string& motivo);

// ---- Serving ---------------------------------------------------------------------------

enum class Entrega {
  Servida,   // the target got it
  Fallida,   // the transfer failed (refused, unreachable, an error); the target still owes it
  Detenida,  // the transfer was told to stop (its failure question answered so)
};

struct ResultadoEntrega {
  Entrega entrega = Entrega::Fallida;
  std::string motivo;  // the first failure (empty when served)
};

// Whether a stored change can be sent as the walk would send it: the table is a plain
// name with keys, every key value a single SQL literal (a number or a quoted text) and
// the filter one condition (no statement separator or comment outside its literals).
// Rows written by anyone else than the walk are refused with the reason in motivo.
bool CambioValido(const CambioPendiente& cambio, std::string& motivo);

// One ReplicarEnDestino call and what happened to the target.
ResultadoEntrega Transferir(const std::string& tabla, long accion, const std::string& tipos,
                            const std::string& servidor, const std::string& base, const ValoresClave& valores,
                            const std::string& filtro);

// What a served change sends.
enum class Envio {
  FilaDeAhora,  // the home row as it is now: inserted or updated when it exists, deleted when not
  ComoSeAnoto,  // the recorded kind of change, as the save that recorded it sends it
};

// Serves one recorded change (by its Id) to the target at servidor/base with the kinds of
// change tipos permits ("111" for a point of sale, GRP_Tipos for the group), under the
// claim described above. A served change is removed; one that fails keeps its row with the
// new reason and date. A row already gone was served by someone else with a newer home
// state: Servida. A row another process is carrying is left to it: Fallida.
ResultadoEntrega ServirPendiente(const CambioPendiente& cambio, const std::string& tipos, const std::string& servidor,
                                 const std::string& base, Envio envio = Envio::FilaDeAhora);

struct ResultadoDestino {
  int servidos = 0;
  int pendientes = 0;     // still owed after this call
  bool detenido = false;  // a transfer was told to stop: the target's later changes were not tried
};

// Serves every change the target owes (of tabla only, when given), oldest first, once the
// caller has found the target reachable. Stops at the first Detenida.
ResultadoDestino ServirPendientesDe(const std::string& destino, const std::string& tipos, const std::string& servidor,
                                    const std::string& base, const std::string& tabla = "");

// ---- Comparing a whole table -----------------------------------------------------------

struct ResultadoComparacion {
  int corregidas = 0;  // rows inserted or updated at the target
  int borradas = 0;    // target rows the home table lacks, deleted (only when asked)
  int sobrantes = 0;   // such rows left in place
  int fallidas = 0;    // fixes the transfer failed: recorded as pending for destino
  bool detenido = false;
  std::string motivo;  // why the comparison could not run, or the first failure
};

// Compares the target's copy of a replicated table with the home table by the table's
// keys (ClavesTabla) and sends, through the same transfer, every home row that is missing
// or differs there (in the columns both have, as the transfer compares them). Target rows
// whose key the home table lacks are deleted only with borrarSobrantes. A fix that fails is
// recorded as pending for destino.
ResultadoComparacion CompararDestino(const std::string& tabla, const std::string& destino, const std::string& tipos,
                                     const std::string& servidor, const std::string& base, bool borrarSobrantes);

}  // namespace etapas
