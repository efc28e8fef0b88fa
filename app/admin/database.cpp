#include "admin/database.h"

#include "components/error.h"
#include "components/schema_files.h"

namespace etapas::admin {

bool Open(ClsDatos& db, const std::string& server, const std::string& database, const Login& login, std::string& why) {
  db.Servidor(server);
  db.BaseDatos(database);
  db.Usuario(login.user);
  db.Clave(login.password);
  std::string cadena;
  db.Conectar(false, 3, cadena, true, false);
  if (db.Conectado()) return true;
  why = db.MotivoFallo();
  if (why.empty()) why = "cannot connect to " + database + " on " + server;
  return false;
}

std::vector<ado::Error> Run(ClsDatos& db, const std::string& sql, ado::RecordsetPtr* rs) {
  std::vector<ado::Error> errors;
  ado::ConnectionPtr conexion = db.Conexion();
  try {
    // Stale entries of an earlier statement must not be taken for this one's.
    if (conexion) conexion->Errors().Clear();
    db.EjecutarSQL(sql, 0, rs);
  } catch (const RaisedError& e) {
    if (!conexion || conexion->Errors().Count() == 0) {
      errors.push_back({e.Number(), e.Number(), e.Description(), "", e.Source()});
      return errors;
    }
  }
  if (conexion) {
    for (long i = 0; i < conexion->Errors().Count(); ++i) errors.push_back(conexion->Errors().Item(i));
  }
  return errors;
}

std::vector<ado::Error> ErrorsOf(ClsDatos& db, const RaisedError& e) {
  std::vector<ado::Error> errors;
  ado::ConnectionPtr conexion = db.Conexion();
  if (conexion)
    for (long i = 0; i < conexion->Errors().Count(); ++i) errors.push_back(conexion->Errors().Item(i));
  if (errors.empty()) errors.push_back({e.Number(), e.Number(), e.Description(), "", e.Source()});
  return errors;
}

std::vector<ado::Error> Stream(ClsDatos& db, const std::string& sql, ado::RecordsetPtr& rs) {
  try {
    db.AbrirRecordset(sql, rs, nullptr, 0, 1, -1, true);
  } catch (const RaisedError& e) {
    rs.reset();
    return ErrorsOf(db, e);
  }
  return {};
}

std::string Describe(const std::vector<ado::Error>& errors) {
  std::string out;
  for (const auto& e : errors) out += "error " + std::to_string(e.NativeError) + ": " + e.Description + "\n";
  return out;
}

std::string Bracketed(const std::string& name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

std::string SchemaOf(const std::string& kind) {
  const auto& files = schema::Files();
  auto it = files.find(kind + ".sql");
  if (kind.empty() || it == files.end()) return {};
  return it->second;
}

namespace {
bool Has(const std::vector<ado::Error>& errors, long native) {
  for (const auto& e : errors)
    if (e.NativeError == native) return true;
  return false;
}
}  // namespace

Created CreateDatabase(const std::string& server, const std::string& database, const std::string& schemaText,
                       const Login& login, std::string& why) {
  {
    ClsDatos master;
    if (!Open(master, server, "master", login, why)) return Created::Failed;
    auto errors = Run(master, "CREATE DATABASE " + Bracketed(database));
    if (Has(errors, engine::native::kDatabaseExists)) {
      why = "database " + database + " already exists on server " + server;
      return Created::AlreadyExists;
    }
    if (!errors.empty()) {
      why = "cannot create database " + database + " on server " + server + ":\n" + Describe(errors);
      return Created::Failed;
    }
  }
  std::vector<ado::Error> errors;
  {
    ClsDatos db;
    if (!Open(db, server, database, login, why)) {
      why = "database " + database + " was created but cannot be opened: " + why;
      errors.push_back({});
    } else {
      errors = Run(db, schemaText);
      if (!errors.empty())
        why = "cannot lay the schema of " + database + " on server " + server + ":\n" + Describe(errors);
    }
  }  // the session is closed before the database is dropped
  if (errors.empty()) return Created::Yes;
  std::string ignored;
  DropDatabase(server, database, login, ignored);
  return Created::Failed;
}

bool DropDatabase(const std::string& server, const std::string& database, const Login& login, std::string& why) {
  ClsDatos master;
  if (!Open(master, server, "master", login, why)) return false;
  auto errors = Run(master, "DROP DATABASE " + Bracketed(database));
  if (errors.empty()) return true;
  why = "cannot drop database " + database + " on server " + server + ":\n" + Describe(errors);
  return false;
}

bool DatabaseExists(const std::string& server, const std::string& database, const Login& login) {
  ClsDatos db;
  std::string ignored;
  return Open(db, server, database, login, ignored);
}

}  // namespace etapas::admin
