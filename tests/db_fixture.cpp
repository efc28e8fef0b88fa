#include "db_fixture.h"

#include <gtest/gtest.h>

#include "components/schema_files.h"

namespace etapas::test {

namespace {
std::string ErrorsText(ClsDatos& db) {
  std::string out;
  auto& errs = db.Conexion()->Errors();
  for (long i = 0; i < errs.Count(); ++i)
    out += std::to_string(errs.Item(i).NativeError) + ": " + errs.Item(i).Description + "\n";
  return out;
}
}  // namespace

std::unique_ptr<ClsDatos> Connect(const std::string& server, const std::string& database, const std::string& user) {
  auto db = std::make_unique<ClsDatos>();
  db->Servidor(server);
  db->BaseDatos(database);
  db->Usuario(user);
  db->Clave(user);
  std::string cadena;
  db->Conectar(false, 3, cadena, true, false);
  EXPECT_TRUE(db->Conectado()) << server << "/" << database << ": " << db->MotivoFallo();
  return db;
}

void Exec(ClsDatos& db, const std::string& sql) {
  db.EjecutarSQL(sql);
  EXPECT_EQ(db.Conexion()->Errors().Count(), 0) << sql << "\n" << ErrorsText(db);
}

void CreateDatabase(const std::string& server, const std::string& database, const std::string& schemaFile) {
  auto master = Connect(server, "master");
  Exec(*master, "CREATE DATABASE [" + database + "]");
  auto db = Connect(server, database);
  const auto& files = schema::Files();
  auto it = files.find(schemaFile);
  ASSERT_NE(it, files.end()) << schemaFile;
  Exec(*db, it->second);
}

std::string Scalar(ClsDatos& db, const std::string& sql) {
  ado::RecordsetPtr rs;
  db.AbrirRecordset(sql, rs);
  if (rs->EOF_()) return "";
  return rs->Fields(0L).Value().ToText();
}

std::vector<std::string> Rows(ClsDatos& db, const std::string& sql) {
  ado::RecordsetPtr rs;
  db.AbrirRecordset(sql, rs);
  std::vector<std::string> out;
  for (; !rs->EOF_(); rs->MoveNext()) {
    std::string line;
    for (long i = 0; i < rs->FieldCount(); ++i) line += (i ? "|" : "") + rs->Fields(i).Value().ToText();
    out.push_back(line);
  }
  return out;
}

}  // namespace etapas::test
