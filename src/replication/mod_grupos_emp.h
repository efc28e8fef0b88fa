#pragma once
// Replication of a saved master-table row to the company's points of sale and to its
// group's database: the key map, column discovery, the driver, the group settings and
// the row transfer.
#include <array>
#include <string>

#include "components/ado.h"
#include "components/cls_datos.h"

namespace etapas {

// ---- Key map ---------------------------------------------------------------------------

// Clave1 to Clave8: filled from the first with no gaps; the rest empty.
using ClavesDeTabla = std::array<std::string, 8>;
// The key columns of a replicated table ("@ADMIN_" in the name is ignored, letter case
// too); eight empty texts for a table of no rule.
ClavesDeTabla ClavesTabla(const std::string& Tabla);

// ---- Column discovery ------------------------------------------------------------------

// The table's columns in the session's database, comma-separated (in brackets when
// asked), leaving out the named ones (whole names, ignoring case); TiposCampos receives
// their ADO type codes the same way. Empty when the table has no columns there or after
// a failure.
std::string VerificaCampos(const std::string& Tabla, ClsDatos& sesion, const std::string& Excluye1,
                           const std::string& Excluye2, const std::string& Excluye3, const std::string& Excluye4,
                           bool ConCorchetes, std::string& TiposCampos, const std::string& Excluye5 = "");

// ---- Driver ----------------------------------------------------------------------------

using ValoresClave = std::array<std::string, 6>;  // Valor1 to Valor6, as SQL literals

// Carries one saved row (Accion 1 new, 2 changed) or its deletion (3) to every enabled,
// reachable point of sale not excluded from the table's family, then to the group's
// database when the group takes the table. Tabla loses any "@ADMIN_". A call with no key
// value and no Filtro is refused (it would address every row of each target), and so is
// a call made while another is running.
void ReplicarTabla(std::string& Tabla, long Accion, const std::string& Valor1, const std::string& Valor2 = "",
                   const std::string& Valor3 = "", const std::string& Valor4 = "", const std::string& Valor5 = "",
                   const std::string& Valor6 = "", const std::string& Filtro = "", const std::string& = "",
                   bool = false);
// True while a ReplicarTabla call is running (a second one is refused).
bool ReplicacionEnCurso();

// The work against one target; false when the operator chose to stop the replication.
bool ReplicarEnDestino(const std::string& Tabla, long Accion, const std::string& Tipos, std::string Servidor,
                       std::string Base, const ValoresClave& valores, const std::string& Filtro);

// The row filter: empty, or a text starting with a blank that holds the WHERE clause.
std::string ArmarFiltro(const std::string& Filtro, const ClavesDeTabla& claves, const ValoresClave& valores);

// ---- Company groups --------------------------------------------------------------------

bool GrupoHabilitado(const std::string& Tabla);
// Opens SesionDestino(); an empty Servidor or Base is taken from GRP_Server
// or GRP_Base. The outcome is not checked here.
void ConectarDestino(std::string& Servidor, std::string& Base);

// ---- Row transfer ----------------------------------------------------------------------
// Each returns false when the operator chose to stop the replication after a failure.

// Accion 1 or 2: inserts the home row in the target when it is missing there, else
// updates the columns that differ.
bool InsertarOActualizar(const std::string& Tabla, const std::string& Tipos, const std::string& filtro,
                         const std::string& columnas);
// Accion 3.
bool BorrarFila(const std::string& Tabla, const std::string& Tipos, const std::string& filtro);
// The home row's values for the INSERT, rendered by type ("Null" for a null value).
bool ValoresFila(const std::string& Tabla, const std::string& filtro, const std::string& columnas,
                 std::string& valores);
bool InsertarFila(const std::string& Tabla, const std::string& Tipos, const std::string& filtro,
                  const std::string& columnas);
bool ActualizarFila(const std::string& Tabla, const std::string& Tipos, const std::string& filtro,
                    ado::Recordset& destino);

// Whether Tipos permits the kind of change at position 0 (insert), 1 (update), 2 (delete).
bool Permite(const std::string& Tipos, size_t posicion);

}  // namespace etapas
