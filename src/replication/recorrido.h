#pragma once
// What every walk over the targets shares (the editor's save, its catch-up and
// etapas-admin sincronizar): the points of sale as V_TA_TPV has them, which of them a
// table reaches, the group's database, and trying all of them at once before the walk.
#include <map>
#include <string>
#include <vector>

#include "components/ado.h"
#include "replication/familias.h"
#include "replication/pendientes.h"

namespace etapas::replicacion {

// One target of a walk: a point of sale of V_TA_TPV, or the group's database.
struct Destino {
  std::string codigo, servidor, base, descripcion;  // codigo: kDestinoGrupo for the group
  bool habilitado = true;                           // INTERNET = 0 AND BAJA = 0
  std::map<Familia, bool> excluye;                  // the point's exclusion columns
  bool excluido = false;                            // the walk's table does not go there
  enum class Estado { SinIntentar, Servido, Pendiente } estado = Estado::SinIntentar;
  CambioPendiente cambio;  // its row in the home database, once written
};

// The rows of a V_TA_TPV query, in its order.
std::vector<Destino> LeerPuntosDeVenta(ado::Recordset& rs);
// Whether a point of sale is sent the table's changes: a table of no family never, else
// unless the point's exclusion column for the family is true.
bool Recibe(const Destino& punto, const std::string& tabla);
// The group's database as GRP_Server/GRP_Base name it, and the kinds of change GRP_Tipos permits.
Destino Grupo(std::string& tipos);

// The operator's name of a point of sale ("Punto de venta Sucursal Norte (0002)").
std::string NombrePunto(const Destino& d);

// Every destino is connected at once and proven able to take tabla's changes, so a store
// that does not answer costs one wait, not one each; the sessions of the walk then take
// these connections (PoolConexiones). Nothing is done for an empty list.
void ProbarTodos(const std::string& tabla, const std::vector<const Destino*>& destinos);
// The connection time-out of the sessions, which bounds trying every target at once.
inline constexpr int kEsperaConexion = 15;
// How many targets a walk serves at once, each on a thread of its own: the home
// configuration's REP_DestinosALaVez (1 serves them one after another), else 32.
size_t DestinosALaVez();

}  // namespace etapas::replicacion

namespace etapas {

// What every target ReplicarTabla would try owes, written down with the caller's own row,
// so that the caller's commit makes the row and every debt durable together and no
// instant between the commit and the walk leaves a store behind unowed. The targets are
// read when it is made, before the caller opens its transaction (reads first would let
// SQLite refuse the writes while another program writes); Anotar writes their rows inside
// it. The walk that follows writes them down again and tells when it cannot.
class AnotacionPrevia {
 public:
  AnotacionPrevia(std::string Tabla, long Accion, const ValoresClave& valores, const std::string& Filtro = "");
  // False when the home database refused a row (nothing to count on then).
  bool Anotar();

 private:
  std::vector<CambioPendiente> cambios_;
};

}  // namespace etapas
