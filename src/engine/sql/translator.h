#pragma once
// One T-SQL statement in the dialect of the engine that runs it.
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/lexer.h"

namespace etapas::engine::sql {

enum class Engine { SQLite, PostgreSQL };

enum class StatementKind {
  Other,
  Query,           // returns rows (SELECT, or WITH ... SELECT)
  Begin,           // BEGIN TRAN[SACTION]
  Commit,          // COMMIT [TRAN[SACTION]|WORK]
  Rollback,        // ROLLBACK [TRAN[SACTION]|WORK]
  CreateDatabase,  // CREATE DATABASE name
  DropDatabase,    // DROP DATABASE name
  Use,             // USE name
};

struct TranslateOptions {
  Engine engine = Engine::SQLite;
  std::string ownDatabase;  // the session's database: [own].dbo.t means t
};

struct Translation {
  StatementKind kind = StatementKind::Other;
  std::string sql;  // the statement in the engine's dialect
  // Further engine statements that complete this one (the declared names of a new table, the
  // other columns of ALTER TABLE ... ADD a, b): run after sql, in order, as part of it.
  std::vector<std::string> then;
  // Where @@TRANCOUNT stood in sql: the session writes its nesting count at these offsets.
  std::vector<size_t> trancountAt;
  std::string databaseName;  // for CreateDatabase / DropDatabase / Use
  // Databases named as [db].dbo.t other than own; the names are written without the
  // database, for the session to run the statement on that database.
  std::vector<std::string> otherDatabases;
  // When otherDatabases is not empty: whether a table of the own database is named too (a
  // statement cannot join tables of two databases).
  bool ownTables = false;
};

// Translates one statement (as returned by SplitStatements). Throws SyntaxError when the
// text cannot be tokenized.
Translation Translate(std::string_view statement, const TranslateOptions& options);

// A name as `engine` must be given it: PostgreSQL folds it to lower case; both quote it.
std::string QuoteName(Engine engine, std::string_view name);

}  // namespace etapas::engine::sql
