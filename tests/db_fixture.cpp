#include "db_fixture.h"

#include <gtest/gtest.h>

#include <fstream>

#include "components/schema_files.h"
#include "components/text.h"
#include "test_support.h"

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

namespace etapas::test {

bool DatabaseExists(const std::string& server, const std::string& database) {
  ClsDatos db;
  db.Servidor(server);
  db.BaseDatos(database);
  db.Usuario("sa");
  db.Clave("sa");
  std::string cadena;
  db.Conectar(false, 3, cadena, true, false);
  return db.Conectado();
}

void DropDatabase(const std::string& server, const std::string& database) {
  auto master = Connect(server, "master");
  Exec(*master, "DROP DATABASE [" + database + "]");
}

namespace {

// The server names the tests use, and whether each lives on the home server (else on the
// points-of-sale server). Names not listed stay embedded servers: unreachable, as nothing
// is created on them.
struct TestServer {
  const char* name;
  bool home;
};
constexpr TestServer kTestServers[] = {
    {"CASA", true},   {"DEMO", true},      {"TALLER", true}, {"UNO", true},   {"CENTRAL", true}, {"OTRO", true},
    {"S", true},      {"T", true},         {"P", true},      {"SRV", true},   {"X", true},       {"SUC2", true},
    {"SUR", true},    {"SUCURSAL2", true}, {"GRUPO", true},  {"SUC1", false}, {"SUC3", false},   {"SUC4", false},
    {"NORTE", false}, {"ESTE", false},     {"OESTE", false}, {"BAJA", false}, {"CAJA", false},   {"SUCURSAL1", false},
    {"Y", false},     {"DOS", false},      {"TPV", false},   {"WEB", false},
};
// Entries that reach every database of the root on each server, to drop them.
constexpr const char* kSweepHome = "ETAPAS-TEST-HOME";
constexpr const char* kSweepPos = "ETAPAS-TEST-POS";

std::string Address(bool home) {
  return home ? Env("ETAPAS_TEST_PG_HOME", "127.0.0.1:55432") : Env("ETAPAS_TEST_PG_POS", "127.0.0.1:55433");
}

}  // namespace

void WriteTestServers(const std::string& root, const std::string& prefix) {
  const std::string user = Env("ETAPAS_TEST_PG_USER", "etapas");
  std::ofstream out(root + "/servers.conf");
  out << "# The tests' servers on PostgreSQL: every session logs in as the servers' superuser.\n";
  for (const auto& s : kTestServers)
    out << s.name << " = postgresql " << Address(s.home) << " user=" << user << " prefix=" << prefix
        << text::Lower(s.name) << "_\n";
  out << kSweepHome << " = postgresql " << Address(true) << " user=" << user << " prefix=" << prefix << "\n";
  out << kSweepPos << " = postgresql " << Address(false) << " user=" << user << " prefix=" << prefix << "\n";
}

void DropTestDatabases(const std::string& root, const std::string& prefix) {
  for (const char* server : {kSweepHome, kSweepPos}) {
    ClsDatos master;
    master.AsignarDatoSesion("ETAPAS_DATA=" + root);
    master.Servidor(server);
    master.BaseDatos("master");
    std::string cadena;
    master.Conectar(false, 3, cadena, true, false);
    if (!master.Conectado()) continue;
    std::vector<std::string> names;
    try {
      ado::RecordsetPtr rs;
      master.AbrirRecordset("SELECT datname FROM pg_database", rs);
      for (; !rs->EOF_(); rs->MoveNext()) {
        const std::string name = rs->Fields(0L).Value().ToText();
        if (name.rfind(prefix, 0) == 0) names.push_back(name.substr(prefix.size()));
      }
    } catch (const RaisedError&) { continue; }
    for (const auto& name : names) master.EjecutarSQL("DROP DATABASE [" + name + "]");
  }
}

}  // namespace etapas::test
