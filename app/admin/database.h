#pragma once
// The few database steps the administration tool is made of, all through ClsDatos so it
// behaves exactly like the system's programs (same server directory, same T-SQL).
#include <string>
#include <vector>

#include "components/ado.h"
#include "components/cls_datos.h"
#include "components/error.h"

namespace etapas::admin {

struct Login {
  std::string user = "sa";
  std::string password;
};

// Connects db to server/database; on refusal returns false with the session's reason.
bool Open(ClsDatos& db, const std::string& server, const std::string& database, const Login& login, std::string& why);

// Runs a statement or batch and returns what the provider refused (empty: all ran).
// A raised failure (no connection, say) comes back as one error with its own number.
std::vector<ado::Error> Run(ClsDatos& db, const std::string& sql, ado::RecordsetPtr* rs = nullptr);

// Opens a forward-only reading of a query's rows (other batches run whole); what the
// provider refused comes back, rs then left null.
std::vector<ado::Error> Stream(ClsDatos& db, const std::string& sql, ado::RecordsetPtr& rs);
// The connection's errors behind a raised failure, or the failure itself.
std::vector<ado::Error> ErrorsOf(ClsDatos& db, const RaisedError& e);

// "error NATIVE: description" lines, one per error.
std::string Describe(const std::vector<ado::Error>& errors);

// [name] with any "]" doubled, as T-SQL quotes a name.
std::string Bracketed(const std::string& name);

// The schema text of a database kind: "home", "stats" or "pos"; empty when unknown.
std::string SchemaOf(const std::string& kind);

enum class Created { Yes, AlreadyExists, Failed };

// Creates the database on the server and lays its schema. A database whose schema could
// not be laid is dropped again, so a failure leaves nothing behind.
Created CreateDatabase(const std::string& server, const std::string& database, const std::string& schemaText,
                       const Login& login, std::string& why);

bool DropDatabase(const std::string& server, const std::string& database, const Login& login, std::string& why);

// The database can be connected to (connecting never creates anything).
bool DatabaseExists(const std::string& server, const std::string& database, const Login& login);

}  // namespace etapas::admin
