// SQL Server's numbers and texts for what the engines report.
#include "components/text.h"
#include "engine/backend.h"
#include "engine/sql/tsql.h"

namespace etapas::engine {
namespace {

// A name the engine reports (PostgreSQL folds to lower case), written as the statement
// wrote it.
std::string AsWritten(const std::string& name, std::string_view statement) {
  if (name.empty() || statement.empty()) return name;
  try {
    for (const auto& t : sql::Tokenize(statement)) {
      if (t.kind == sql::TokenKind::Word || t.kind == sql::TokenKind::QuotedName) {
        if (text::EqualsNoCase(t.value, name)) return t.value;
      } else if (t.kind == sql::TokenKind::Variable && t.value.size() > 7 &&
                 text::EqualsNoCase(t.value.substr(7), name)) {
        return t.value.substr(7);
      }
    }
  } catch (const sql::SyntaxError&) {}
  return name;
}

std::string Sentence(const std::string& message) {
  std::string m = text::TrimCopy(message);
  if (!m.empty() && m.back() != '.') m += '.';
  return m;
}

}  // namespace

ProviderError Describe(const Fault& f, std::string_view statement, std::string_view database) {
  using K = Fault::Kind;
  const std::string verb = sql::FirstWord(statement);
  const std::string table = AsWritten(f.table, statement);
  const std::string column = AsWritten(f.column, statement);
  switch (f.kind) {
    case K::None: break;
    case K::DuplicateKey: {
      const std::string& c = f.constraint;
      const bool primary = c.rfind("PK_", 0) == 0 || (c.size() > 5 && c.compare(c.size() - 5, 5, "_pkey") == 0);
      return {native::kDuplicateKey,
              std::string("Violation of ") + (primary ? "PRIMARY KEY" : "UNIQUE KEY") + " constraint '" + c +
                  "'. Cannot insert duplicate key in object 'dbo." + table + "'." +
                  (f.key.empty() ? "" : " The duplicate key value is (" + f.key + ")."),
              "23000"};
    }
    case K::ForeignKey:
      // Engines that do not tell the two sides apart: a DELETE can only break the other.
      if (verb == "DELETE") {
        Fault other = f;
        other.kind = K::Referenced;
        return Describe(other, statement, database);
      }
      return {native::kConstraint,
              "The " + verb + " statement conflicted with the FOREIGN KEY constraint \"" + f.constraint +
                  "\": the referenced row does not exist.",
              "23000"};
    case K::Referenced:
      return {native::kConstraint,
              "The " + verb + " statement conflicted with the REFERENCE constraint \"" + f.constraint +
                  "\": other rows still refer to this one.",
              "23000"};
    case K::Check:
      if (f.constraint.rfind("tsql_len_", 0) == 0) {
        Fault length = f;
        length.kind = K::Length;
        length.column = f.constraint.substr(9);
        return Describe(length, statement, database);
      }
      return {native::kConstraint,
              "The " + verb + " statement conflicted with the CHECK constraint \"" + f.constraint + "\".", "23000"};
    case K::Length:
      return {
          native::kTruncation,
          "String or binary data would be truncated" +
              (table.empty() ? std::string() : " in table 'dbo." + table + "'") +
              (column.empty() ? std::string() : std::string(table.empty() ? " in" : ",") + " column '" + column + "'") +
              ".",
          "22001"};
    case K::NotNull:
      return {native::kNullNotAllowed,
              "Cannot insert the value NULL into column '" + column + "', table '" + table +
                  "'; column does not allow nulls. " + (verb.empty() ? "INSERT" : verb) + " fails.",
              "23000"};
    case K::Raised: return {native::kUserRaised, text::TrimCopy(f.message), "23000"};
    case K::Conversion:
      if (f.constraint.rfind("tsql_type_", 0) == 0)
        return {native::kConversion,
                "Conversion failed when converting a value to the data type of column '" +
                    AsWritten(f.constraint.substr(10), statement) + "'.",
                "22018"};
      return {native::kConversion,
              std::string("Conversion failed") + (f.message.rfind("when ", 0) == 0 ? " " : ": ") + Sentence(f.message),
              "22018"};
    case K::Overflow: return {8115, "Arithmetic overflow error: " + Sentence(f.message), "22003"};
    case K::DivideByZero: return {8134, "Divide by zero error encountered.", "22012"};
    case K::InvalidLength:
      if (f.message == "RIGHT") return {536, "Invalid length parameter passed to the RIGHT function.", "42000"};
      return {537, "Invalid length parameter passed to the LEFT or SUBSTRING function.", "42000"};
    case K::Lock:
      return {native::kLockTimeout, "Lock request time out period exceeded: another session holds the data.", "HYT00"};
    case K::Deadlock:
      return {1205,
              "Transaction was deadlocked on lock resources with another process and has been chosen as the deadlock "
              "victim.",
              "40001"};
    case K::NoTable: return {native::kInvalidObject, "Invalid object name '" + table + "'.", "42S02"};
    case K::NoColumn: return {native::kInvalidColumn, "Invalid column name '" + column + "'.", "42S22"};
    case K::Syntax:
      return {native::kSyntax,
              f.key.empty() ? "Incorrect syntax: " + Sentence(f.message) : "Incorrect syntax near '" + f.key + "'.",
              "42000"};
    case K::ObjectExists: return {2714, "There is already an object named '" + table + "' in the database.", "42S01"};
    case K::ColumnExists:
      return {2705,
              "Column names in each table must be unique. Column name '" + column + "' is specified more than once.",
              "42S21"};
    case K::Permission: return {229, "The permission was denied: " + Sentence(f.message), "42000"};
    // The server has no number for it: the client gives up. This is the provider's own code.
    case K::Timeout: return {-2147217871, "Query timeout expired.", "HYT00"};
    case K::ConnectionLost:
      return {native::kServerNotFound, "The connection to the server was lost: " + Sentence(f.message), "08S01"};
    case K::NotSupported:
      return {native::kFeatureNotSupported, "The server cannot do this: " + Sentence(f.message), "0A000"};
    case K::NoSuchDatabase:
      return {native::kNoSuchDatabase,
              "Database '" + std::string(database) + "' does not exist. Make sure that the name is entered correctly.",
              "42000"};
    case K::CannotOpenDatabase:
      return {native::kCannotOpenDatabase,
              "Cannot open database \"" + std::string(database) + "\" requested by the login. The login failed." +
                  (f.message.empty() ? "" : " " + Sentence(f.message)),
              "42000"};
    case K::LoginFailed:
      return {native::kLoginFailed, "Login failed on database \"" + std::string(database) + "\": " + f.message,
              "28000"};
    case K::ServerNotFound:
      return {native::kServerNotFound, "SQL Server does not exist or access denied: " + f.message, "08001"};
    case K::Other: break;
  }
  return {native::kOther, "The database refused the statement: " + Sentence(f.message),
          f.sqlState.empty() ? "HY000" : f.sqlState};
}

ProviderError SyntaxErrorOf(const sql::SyntaxError& e) {
  if (e.native != native::kSyntax) return {e.native, Sentence(e.what()), "42000"};
  if (!e.near.empty()) return {native::kSyntax, "Incorrect syntax near '" + e.near + "'.", "42000"};
  return {native::kSyntax, "Incorrect syntax: " + Sentence(e.what()), "42000"};
}

}  // namespace etapas::engine
