#include "components/cls_planilla.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "components/cls_consulta.h"
#include "components/platform.h"
#include "components/text.h"

namespace etapas {
namespace {}  // namespace

void ClsPlanilla::MostrarPlanilla(const std::string& sql, const std::string& proveedor, const std::string& titulo,
                                  const std::string& extra) {
  if (!Platform().DibujaVentanas()) return;
  PeticionPlanilla p{sql, proveedor, titulo, extra, {}, {}, {}, ""};
  const ado::ConnectionPtr& conexion = Consulta().Conexion;
  if (conexion && conexion->IsOpen()) {
    try {
      auto rs = conexion->OpenRecordset(sql, 0, 1);
      for (long i = 0; i < rs->FieldCount(); ++i) {
        p.columnas.push_back(rs->Fields(i).Name());
        p.tipos.push_back(rs->Fields(i).Type());
      }
      for (; !rs->EOF_(); rs->MoveNext()) {
        std::vector<std::string> fila;
        for (long i = 0; i < rs->FieldCount(); ++i) fila.push_back(rs->Valor(static_cast<int>(i)).ToText());
        p.filas.push_back(std::move(fila));
      }
    } catch (const RaisedError& e) { p.error = e.Description(); }
  }
  Platform().MostrarPlanilla(p);
}

namespace {

[[noreturn]] void FalloArchivo(int err, const std::string& ruta) {
  switch (err) {
    case ENOSPC:
    case EDQUOT: throw RaisedError(errnum::kDiskFull, "Disk full: " + ruta);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: throw RaisedError(errnum::kPermissionDenied, "Permission denied: " + ruta);
    case ENOENT:
    case ENOTDIR: throw RaisedError(errnum::kPathNotFound, "Path not found: " + ruta);
    default: throw RaisedError(errnum::kPathFileAccess, "Path/File access error: " + ruta);
  }
}

// Only a file: a device or a folder the name led to is not ours to remove.
void QuitarAMedias(const std::string& ruta) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(ruta, ec)) std::filesystem::remove(ruta, ec);
}

// Through stdio so the cause (errno) of a failed write or close is at hand: a full disk
// often shows only when the last buffer is flushed.
void Escribir(const std::string& ruta, const std::string& contenido) {
  errno = 0;
  std::FILE* f = std::fopen(ruta.c_str(), "wb");
  if (!f) FalloArchivo(errno, ruta);
  int err = 0;
  if (std::fwrite(contenido.data(), 1, contenido.size(), f) != contenido.size()) err = errno ? errno : EIO;
  if (std::fclose(f) != 0 && !err) err = errno ? errno : EIO;
  if (err) {
    QuitarAMedias(ruta);
    FalloArchivo(err, ruta);
  }
}

std::string Entrecomillado(std::string_view v) { return "\"" + text::ReplaceAll(v, "\"", "\"\"") + "\""; }

bool EsNumeroSimple(std::string_view v) {
  size_t i = !v.empty() && v[0] == '-' ? 1 : 0;
  const size_t digitos = i;
  while (i < v.size() && v[i] >= '0' && v[i] <= '9') ++i;
  if (i == digitos) return false;
  if (i < v.size() && v[i] == '.') {
    const size_t decimales = ++i;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9') ++i;
    if (i == decimales) return false;
  }
  return i == v.size();
}

// A text Excel would not keep as it stands: it takes "0003" for the number 3, "1-2" for a
// date, and runs "=...", "+...", "-...", "@..." as formulas.
bool ExcelLoConvertiria(std::string_view v) {
  const size_t i = v.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  const char c = v[i];
  return (c >= '0' && c <= '9') || std::string_view("=+-@.,(%$\t\r\n").find(c) != std::string_view::npos;
}

// Excel honours ="0003" in a CSV as the text 0003 (an apostrophe in front would show as
// typed). A string in a formula holds at most 255 characters, so longer texts are joined
// from pieces with &.
std::string ComoTextoDeExcel(std::string_view v) {
  std::string f = "=";
  for (size_t desde = 0; desde < v.size();) {
    const size_t hasta = desde + text::Left(v.substr(desde), 120).size();
    if (desde) f += "&";
    f += Entrecomillado(v.substr(desde, hasta - desde));
    desde = hasta;
  }
  return f;
}

// Excel opens a ";" CSV with the decimal comma of the same regional settings.
std::string CampoExcel(const std::string& v, bool numero) {
  if (numero && EsNumeroSimple(v)) return text::ReplaceAll(v, ".", ",");
  const bool especial = v.find_first_of(";\"\r\n") != std::string::npos;
  if (ExcelLoConvertiria(v)) {
    // A field that does not open with a quote is read as it stands, inner quotes and all.
    const std::string formula = ComoTextoDeExcel(v);
    return especial ? Entrecomillado(formula) : formula;
  }
  return especial ? Entrecomillado(v) : v;
}

std::string CampoRfc(const std::string& v) {
  return v.find_first_of(",\"\r\n") == std::string::npos ? v : Entrecomillado(v);
}

std::string Reemplazar(std::string_view v, std::string_view prohibidos) {
  std::string s(v);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || prohibidos.find(c) != std::string_view::npos) c = '_';
  return s;
}

}  // namespace

void ClsPlanilla::ExportarCsv(const std::string& ruta, const PeticionPlanilla& d, FormaCsv forma) {
  const bool excel = forma == FormaCsv::kExcel;
  std::string out = excel ? "\xEF\xBB\xBF" : "";
  auto fila = [&](const std::vector<std::string>& valores, bool datos) {
    for (size_t i = 0; i < valores.size(); ++i) {
      if (i) out += excel ? ";" : ",";
      const bool numero = datos && i < d.tipos.size() && ado::adtype::IsNumeric(d.tipos[i]);
      out += excel ? CampoExcel(valores[i], numero) : CampoRfc(valores[i]);
    }
    out += "\r\n";
  };
  fila(d.columnas, false);
  for (const auto& f : d.filas) fila(f, true);
  Escribir(ruta, out);
}

std::string ClsPlanilla::NombreArchivo(const std::string& titulo) {
  std::string s = Reemplazar(text::Left(titulo, 100), "\\/:*?\"<>|");
  // Windows drops trailing dots and blanks; a name of dots alone is no name.
  s = std::string(text::Trim(text::TrimEnd(s, ". ")));
  return s.empty() ? "planilla" : s;
}

std::string ClsPlanilla::NombreHoja(const std::string& titulo) {
  std::string s = text::Left(Reemplazar(titulo, "[]:*?/\\"), 31);
  if (!s.empty() && s.front() == '\'') s.front() = '_';
  if (!s.empty() && s.back() == '\'') s.back() = '_';
  if (text::Trim(s).empty()) return "Planilla";
  return text::EqualsNoCase(s, "History") ? "History_" : s;  // a name Excel keeps for itself
}

void ClsPlanilla::ExportarXlsx(const std::string& ruta, const PeticionPlanilla& d) {
  lxw_workbook* libro = workbook_new(ruta.c_str());
  if (!libro) throw RaisedError(errnum::kPathFileAccess, "Path/File access error: " + ruta);
  lxw_worksheet* hoja = workbook_add_worksheet(libro, NombreHoja(d.titulo).c_str());
  lxw_format* negrita = workbook_add_format(libro);
  if (!hoja || !negrita) {
    lxw_workbook_free(libro);
    throw RaisedError(errnum::kPathFileAccess, "Path/File access error: " + ruta);
  }
  format_set_bold(negrita);
  lxw_error escrito = LXW_NO_ERROR;
  auto anotar = [&](lxw_error e) {
    if (escrito == LXW_NO_ERROR) escrito = e;
  };
  for (size_t c = 0; c < d.columnas.size(); ++c)
    anotar(worksheet_write_string(hoja, 0, static_cast<lxw_col_t>(c), d.columnas[c].c_str(), negrita));
  for (size_t r = 0; r < d.filas.size(); ++r) {
    for (size_t c = 0; c < d.filas[r].size(); ++c) {
      const std::string& v = d.filas[r][c];
      const auto fila = static_cast<lxw_row_t>(r + 1);
      const auto col = static_cast<lxw_col_t>(c);
      auto numero = Variant(v).ToNumber();
      if (c < d.tipos.size() && ado::adtype::IsNumeric(d.tipos[c]) && numero)
        anotar(worksheet_write_number(hoja, fila, col, *numero, nullptr));
      else if (!v.empty())
        anotar(worksheet_write_string(hoja, fila, col, v.c_str(), nullptr));
    }
  }
  // A cell the format cannot hold (a text over 32767 characters) would be left out.
  if (escrito != LXW_NO_ERROR) {
    lxw_workbook_free(libro);
    throw RaisedError(errnum::kPathFileAccess, "Path/File access error: " + ruta + ": " + lxw_strerror(escrito));
  }
  worksheet_freeze_panes(hoja, 1, 0);
  errno = 0;
  const lxw_error cerrado = workbook_close(libro);
  if (cerrado == LXW_NO_ERROR) return;
  const int err = errno;
  if (cerrado != LXW_ERROR_CREATING_XLSX_FILE) QuitarAMedias(ruta);
  FalloArchivo(err, ruta);
}

}  // namespace etapas
