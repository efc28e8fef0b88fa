#pragma once
// The lookup component: which definitions file it reads, which column it answers with,
// and the lookup window itself (drawn by the front end).
#include <functional>
#include <string>
#include <vector>

#include "components/ado.h"

namespace etapas {

// One record of the lookup-definitions file.
struct DefinicionConsulta {
  std::string Nombre, Tabla, Campos, Adicional;
};
// The records of a lookup-definitions file (fixed 1202-byte records, Windows-1252).
std::vector<DefinicionConsulta> LeerDefinicionesConsulta(const std::string& ruta);

struct PeticionConsulta {
  std::string sql;         // the rows offered
  std::string campoClave;  // the column whose value is the answer
  std::string archivo;     // the lookup-definitions file
  std::string proveedor;
  std::string titulo;  // the definition's name, or the table's
  std::vector<std::string> columnas;
  std::vector<std::vector<std::string>> filas;
  int columnaClave = 0;  // index of campoClave in columnas
};

class ClsConsulta {
 public:
  std::string Proveedor;
  bool Activar = false;
  std::string CampoClave;
  // Where the lookup reads its rows: the session's connection, given at start-up.
  ado::ConnectionPtr Conexion;

  const std::string& ArchivoConsultas() const { return archivo_; }
  void ArchivoConsultas(const std::string& ruta);

  // Shows the lookup of `sql` and returns when it is closed; Resultado() then holds the
  // chosen value ("" when none). The further arguments are accepted and not used.
  void Mostrar(const std::string& sql, void* coleccion = nullptr, const std::string& = "", const std::string& = "",
               const std::string& = "", const std::string& = "", int = 0, const std::string& = "");
  const std::string& Resultado() const { return resultado_; }

 private:
  std::string archivo_;
  std::string resultado_;
};

// The one shared instance of the process.
ClsConsulta& Consulta();

// The lookup-definitions file `nombre`: the program folder's (in any letter case) when the
// installation ships one there, else the data root's, which start-up creates when missing,
// so that a program folder nobody may write still works. The data root is created if need be.
std::string UbicarArchivoConsultas(const std::string& carpetaPrograma, const std::string& raizDatos,
                                   const std::string& nombre);

// A statement's rows as texts (Null as ""), for the lookup and the listing.
void LeerFilas(ado::Connection& conexion, const std::string& sql, std::vector<std::string>& columnas,
               std::vector<std::vector<std::string>>& filas);

}  // namespace etapas
