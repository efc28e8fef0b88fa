#pragma once
// The system writes SQL Server's dialect (T-SQL). Drivers run it on other engines by
// translating each statement on a token stream: strings and bracketed names are never
// touched by the rewriting rules.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace etapas::engine::sql {

enum class TokenKind {
  Word,         // keyword or bare identifier: SELECT, V_TA_ETAPAS, getDate
  QuotedName,   // [NUMERO ASIENTO] or "x"; value holds the name without delimiters
  String,       // 'it''s' or N'x'; value holds the content with doubled quotes undone
  Number,       // 12, 3.5, 1e3, 0x1F
  Variable,     // @name, @@name (also the @admin_ table marker)
  Symbol,       // ( ) , . ; = <> <= >= != + - * / % etc.
  Space,        // blanks, tabs, CR, LF
  Comment,      // -- to end of line, /* ... */
};

struct Token {
  TokenKind kind;
  std::string text;   // exactly as written
  std::string value;  // see TokenKind
};

struct SyntaxError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws SyntaxError on an unterminated string, bracket or comment.
std::vector<Token> Tokenize(std::string_view text);

// Splits a T-SQL batch into statements as the server would: at ";" and "GO" lines, and
// where a new statement starts without a separator (the system separates statements of a
// batch by carriage returns only). Each statement is returned as written, trimmed;
// empty statements are dropped.
std::vector<std::string> SplitStatements(std::string_view batch);

enum class Engine { SQLite, PostgreSQL };

enum class StatementKind {
  Other,
  Query,             // returns rows (SELECT, or WITH ... SELECT)
  Begin,             // BEGIN TRAN[SACTION]
  Commit,            // COMMIT [TRAN[SACTION]|WORK]
  Rollback,          // ROLLBACK [TRAN[SACTION]|WORK]
  CreateDatabase,    // CREATE DATABASE name
  DropDatabase,      // DROP DATABASE name
  Use,               // USE name
};

struct TranslateOptions {
  Engine engine = Engine::SQLite;
  std::string ownDatabase;  // the session's database: [own].dbo.t means t
};

struct Translation {
  StatementKind kind = StatementKind::Other;
  std::string sql;                          // the statement in the engine's dialect
  // Further engine statements that complete this one (the declared names of a new table, the
  // other columns of ALTER TABLE ... ADD a, b): run after sql, in order, as part of it.
  std::vector<std::string> then;
  // Where @@TRANCOUNT stood in sql: the session writes its nesting count at these offsets.
  std::vector<size_t> trancountAt;
  std::string databaseName;                 // for CreateDatabase / DropDatabase / Use
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

// Quotes a name as an identifier of the engine ("x", with embedded quotes doubled).
std::string QuoteIdentifier(std::string_view name);

}  // namespace etapas::engine::sql
