#include "components/cls_consulta.h"

#include <filesystem>
#include <fstream>

#include "components/platform.h"
#include "components/text.h"
#include "engine/session.h"

namespace etapas {
namespace {

constexpr size_t kRegistro = 1202;

// The table a lookup statement reads: the word after FROM.
std::string TablaDe(const std::string& sql) {
  const size_t p = text::FindNoCase(sql, " FROM ");
  if (p == std::string::npos) return "";
  std::string resto = text::TrimCopy(sql.substr(p + 6));
  return resto.substr(0, resto.find_first_of(" \t\r\n"));
}
}  // namespace

std::vector<DefinicionConsulta> LeerDefinicionesConsulta(const std::string& ruta) {
  std::vector<DefinicionConsulta> out;
  std::ifstream in(ruta, std::ios::binary);
  std::string registro(kRegistro, '\0');
  while (in.read(registro.data(), static_cast<std::streamsize>(kRegistro))) {
    auto campo = [&](size_t desde, size_t largo) {
      return text::TrimCopy(text::Cp1252ToUtf8(registro.substr(desde, largo)));
    };
    out.push_back({campo(0, 100), campo(100, 100), campo(200, 500), campo(700, 500)});
  }
  return out;
}

void LeerFilas(ado::Connection& conexion, const std::string& sql, std::vector<std::string>& columnas,
               std::vector<std::vector<std::string>>& filas) {
  auto rs = conexion.OpenRecordset(sql, 0, 1);
  columnas.clear();
  filas.clear();
  for (long i = 0; i < rs->FieldCount(); ++i) columnas.push_back(rs->Fields(i).Name());
  for (; !rs->EOF_(); rs->MoveNext()) {
    std::vector<std::string> fila;
    for (long i = 0; i < rs->FieldCount(); ++i) fila.push_back(rs->Valor(static_cast<int>(i)).ToText());
    filas.push_back(std::move(fila));
  }
}

void ClsConsulta::ArchivoConsultas(const std::string& ruta) {
  // "CONSULTAS.CVL" and "consultas.cvl" must reach the same file: an existing file whose
  // name differs only in letter case is the one meant.
  archivo_ = ruta;
  const auto slash = ruta.rfind('/');
  if (slash == std::string::npos) {
    if (std::string found = engine::FileNamedNoCase(".", ruta); !found.empty()) archivo_ = found.substr(2);
  } else if (std::string found = engine::FileNamedNoCase(ruta.substr(0, slash), ruta.substr(slash + 1));
             !found.empty()) {
    archivo_ = found;
  }
}

void ClsConsulta::Mostrar(const std::string& sql, void*, const std::string&, const std::string&, const std::string&,
                          const std::string&, int, const std::string&) {
  resultado_.clear();
  if (!Platform().DibujaVentanas()) return;
  PeticionConsulta p{sql, CampoClave, archivo_, Proveedor, TablaDe(sql), {}, {}, 0};
  // A definition for the table gives the lookup its name.
  for (const auto& d : LeerDefinicionesConsulta(archivo_))
    if (text::EqualsNoCase(d.Tabla, p.titulo)) p.titulo = d.Nombre;
  if (Conexion && Conexion->IsOpen()) LeerFilas(*Conexion, sql, p.columnas, p.filas);
  for (size_t i = 0; i < p.columnas.size(); ++i)
    if (text::EqualsNoCase(p.columnas[i], CampoClave)) p.columnaClave = static_cast<int>(i);
  resultado_ = Platform().MostrarConsulta(p);
}

ClsConsulta& Consulta() {
  static ClsConsulta c;
  return c;
}

std::string UbicarArchivoConsultas(const std::string& carpetaPrograma, const std::string& raizDatos,
                                   const std::string& nombre) {
  std::string enPrograma = carpetaPrograma;
  while (enPrograma.size() > 1 && enPrograma.back() == '/') enPrograma.pop_back();
  if (std::string found = engine::FileNamedNoCase(enPrograma, nombre); !found.empty()) return found;
  std::error_code ec;
  std::filesystem::create_directories(raizDatos, ec);
  std::string raiz = raizDatos;
  if (!raiz.empty() && raiz.back() != '/') raiz += '/';
  return raiz + nombre;
}

}  // namespace etapas
