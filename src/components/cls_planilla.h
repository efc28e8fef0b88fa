#pragma once
// The spreadsheet listing component: shows a statement's rows in a grid the operator can
// sort and export; the window is the front end's.
#include <functional>
#include <string>
#include <vector>

#include "components/ado.h"

namespace etapas {

struct PeticionPlanilla {
  std::string sql;
  std::string proveedor;
  std::string titulo;   // "Familias" as the editor passes it: the listing's caption
  std::string extra;
  std::vector<std::string> columnas;
  std::vector<int> tipos;  // ADO type codes: numbers are exported as numbers
  std::vector<std::vector<std::string>> filas;
  std::string error;       // why the rows could not be read, if they could not
};

struct ClsPlanilla {
  static void MostrarPlanilla(const std::string& sql, const std::string& proveedor, const std::string& titulo,
                              const std::string& extra);
  using Ventana = std::function<void(const PeticionPlanilla&)>;
  static void SetVentana(Ventana v);
  // Where the listing reads its rows: the session's connection, given at start-up.
  static void SetConexion(ado::ConnectionPtr conexion);

  // Writes the rows to a spreadsheet file (.xlsx) or a CSV text (UTF-8, "," separated,
  // quoted where needed); raise 75 when the file cannot be written.
  static void ExportarXlsx(const std::string& ruta, const PeticionPlanilla& datos);
  static void ExportarCsv(const std::string& ruta, const PeticionPlanilla& datos);
};

}  // namespace etapas
