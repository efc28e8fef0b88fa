#include "components/cls_planilla.h"

#include <xlsxwriter.h>

#include <fstream>

#include "components/cls_consulta.h"
#include "components/text.h"

namespace etapas {
namespace {
ClsPlanilla::Ventana& Window() {
  static ClsPlanilla::Ventana w;
  return w;
}
ado::ConnectionPtr& Connection() {
  static ado::ConnectionPtr c;
  return c;
}
bool IsNumeric(int t) { return t == 2 || t == 3 || t == 4 || t == 5 || t == 6 || t == 17 || t == 20 || t == 131; }
}  // namespace

void ClsPlanilla::MostrarPlanilla(const std::string& sql, const std::string& proveedor, const std::string& titulo,
                                  const std::string& extra) {
  if (!Window()) return;
  PeticionPlanilla p{sql, proveedor, titulo, extra, {}, {}, {}, ""};
  if (Connection() && Connection()->IsOpen()) {
    try {
      auto rs = Connection()->OpenRecordset(sql, 0, 1);
      for (long i = 0; i < rs->FieldCount(); ++i) {
        p.columnas.push_back(rs->Fields(i).Name());
        p.tipos.push_back(rs->Fields(i).Type());
      }
      for (; !rs->EOF_(); rs->MoveNext()) {
        std::vector<std::string> fila;
        for (long i = 0; i < rs->FieldCount(); ++i) fila.push_back(rs->Valor(static_cast<int>(i)).ToText());
        p.filas.push_back(std::move(fila));
      }
    } catch (const RaisedError& e) {
      p.error = e.Description();
    }
  }
  Window()(p);
}

void ClsPlanilla::SetVentana(Ventana v) { Window() = std::move(v); }
void ClsPlanilla::SetConexion(ado::ConnectionPtr conexion) { Connection() = std::move(conexion); }

void ClsPlanilla::ExportarCsv(const std::string& ruta, const PeticionPlanilla& d) {
  std::ofstream out(ruta, std::ios::binary);
  if (!out) throw RaisedError(75, "Path/File access error: " + ruta);
  auto campo = [](const std::string& v) {
    if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
    return "\"" + text::ReplaceAll(v, "\"", "\"\"") + "\"";
  };
  auto fila = [&](const std::vector<std::string>& valores) {
    for (size_t i = 0; i < valores.size(); ++i) out << (i ? "," : "") << campo(valores[i]);
    out << "\r\n";
  };
  fila(d.columnas);
  for (const auto& f : d.filas) fila(f);
  if (!out) throw RaisedError(75, "Path/File access error: " + ruta);
}

void ClsPlanilla::ExportarXlsx(const std::string& ruta, const PeticionPlanilla& d) {
  lxw_workbook* libro = workbook_new(ruta.c_str());
  if (!libro) throw RaisedError(75, "Path/File access error: " + ruta);
  const std::string nombre = text::Left(d.titulo.empty() ? std::string("Planilla") : d.titulo, 31);
  lxw_worksheet* hoja = workbook_add_worksheet(libro, nombre.c_str());
  lxw_format* negrita = workbook_add_format(libro);
  format_set_bold(negrita);
  for (size_t c = 0; c < d.columnas.size(); ++c)
    worksheet_write_string(hoja, 0, static_cast<lxw_col_t>(c), d.columnas[c].c_str(), negrita);
  for (size_t r = 0; r < d.filas.size(); ++r) {
    for (size_t c = 0; c < d.filas[r].size(); ++c) {
      const std::string& v = d.filas[r][c];
      const auto fila = static_cast<lxw_row_t>(r + 1);
      const auto col = static_cast<lxw_col_t>(c);
      auto numero = Variant(v).ToNumber();
      if (c < d.tipos.size() && IsNumeric(d.tipos[c]) && numero) worksheet_write_number(hoja, fila, col, *numero, nullptr);
      else if (!v.empty()) worksheet_write_string(hoja, fila, col, v.c_str(), nullptr);
    }
  }
  worksheet_freeze_panes(hoja, 1, 0);
  if (workbook_close(libro) != LXW_NO_ERROR) throw RaisedError(75, "Path/File access error: " + ruta);
}

}  // namespace etapas
