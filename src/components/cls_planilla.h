#pragma once
// The spreadsheet listing component: shows a statement's rows in a grid the operator can
// sort and export; the window is the front end's.
#include <string>
#include <vector>

#include "components/ado.h"

namespace etapas {

struct PeticionPlanilla {
  std::string sql;
  std::string proveedor;
  std::string titulo;  // the listing's caption: the table listed, as the editor passes it
  std::string extra;
  std::vector<std::string> columnas;
  std::vector<int> tipos;  // ADO type codes: numbers are exported as numbers
  std::vector<std::vector<std::string>> filas;
  std::string error;  // why the rows could not be read, if they could not
};

struct ClsPlanilla {
  static void MostrarPlanilla(const std::string& sql, const std::string& proveedor, const std::string& titulo,
                              const std::string& extra);
  // The rows are read on the lookup's connection (the session's, given at start-up) and
  // shown in the front end's window (Plataforma::MostrarPlanilla).

  enum class FormaCsv {
    kExcel,    // ";" separated, UTF-8 with a byte-order mark, codes kept as text
    kRfc4180,  // "," separated, CRLF, quoted where needed, no byte-order mark
  };

  // Writes the rows to a spreadsheet file (.xlsx) or a CSV text. When the file cannot be
  // written they raise 61 (disk full), 70 (permission denied), 76 (path not found) or 75
  // (anything else), and a file left half written is removed.
  static void ExportarXlsx(const std::string& ruta, const PeticionPlanilla& datos);
  static void ExportarCsv(const std::string& ruta, const PeticionPlanilla& datos, FormaCsv forma);

  // The caption made fit for a file name, and for an Excel sheet name: characters they may
  // not hold become "_", and the sheet's is cut to Excel's 31 characters.
  static std::string NombreArchivo(const std::string& titulo);
  static std::string NombreHoja(const std::string& titulo);
};

}  // namespace etapas
