#pragma once
// Real databases for the tests: created through ClsDatos exactly as etapas-admin does.
#include <memory>
#include <string>

#include "components/cls_datos.h"

namespace etapas::test {

// Creates database `database` on server `server` of the current data root (embedded, or a
// PostgreSQL server when the tests run there) and runs the schema file (home.sql,
// stats.sql, pos.sql) in it. Fails the test on errors.
void CreateDatabase(const std::string& server, const std::string& database, const std::string& schemaFile);

// Whether a session on server/database can be opened; nothing is created.
bool DatabaseExists(const std::string& server, const std::string& database);

// Drops the database through the server's master database (fails the test on errors).
void DropDatabase(const std::string& server, const std::string& database);

// A connected session on server/database (the test fails when it cannot connect).
std::unique_ptr<ClsDatos> Connect(const std::string& server, const std::string& database,
                                  const std::string& user = "sa");

// Runs a statement and fails the test when the engine refuses it.
void Exec(ClsDatos& db, const std::string& sql);

// The first column of the first row of a query, as text ("" when there is no row).
std::string Scalar(ClsDatos& db, const std::string& sql);

// Every row of a query, columns joined by "|".
std::vector<std::string> Rows(ClsDatos& db, const std::string& sql);

}  // namespace etapas::test
