// One suite, run on every engine: the answers SQL Server (2008 and later, default settings,
// XACT_ABORT OFF) gives to the T-SQL the system sends. Each case makes its own database.
// The PostgreSQL instance runs when the tests' PostgreSQL servers are set up
// (scripts/pg.sh) and is skipped otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "components/cls_datos.h"
#include "components/text.h"
#include "db_fixture.h"
#include "test_support.h"

namespace etapas {
namespace {

using Strings = std::vector<std::string>;
using Numbers = std::vector<long>;

constexpr const char* kServer = "CASA";
constexpr const char* kDatabase = "CONFORME";
const std::string kCrLf = "\r\n";

// Statements joined the way the system's programs send a batch.
std::string Batch(const Strings& statements) {
  std::string out;
  for (const auto& s : statements) out += (out.empty() ? "" : kCrLf) + s;
  return out;
}

std::string Show(const Numbers& numbers) {
  std::string out = "[";
  for (long n : numbers) out += (out.size() > 1 ? " " : "") + std::to_string(n);
  return out + "]";
}

std::string Cell(const Variant& v) { return v.IsNull() ? "NULL" : v.ToText(); }

// What one Execute gave: what it raised, and the connection's Errors afterwards.
struct Outcome {
  bool raised = false;
  long raisedNumber = 0;
  Numbers natives;
  Strings descriptions;
  Strings rows;  // of the first result, columns joined by "|"

  std::string Describe() const {
    std::string out = "errors " + Show(natives);
    for (const auto& d : descriptions) out += "\n  " + d;
    return out;
  }
};

class Conformance : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const bool postgresql = GetParam() == "postgresql";
    if (postgresql && !test::OnPostgreSQL())
      GTEST_SKIP() << "no PostgreSQL servers for the tests (scripts/pg.sh start, ETAPAS_TEST_ENGINE=postgresql)";
    root_ = std::make_unique<test::TempDataRoot>(postgresql);
    auto master = test::Connect(kServer, "master");
    ASSERT_TRUE(master->Conectado());
    test::Exec(*master, std::string("CREATE DATABASE [") + kDatabase + "]");
    master.reset();
    Reconnect();
  }

  void TearDown() override {
    db_.reset();
    root_.reset();
  }

  // A new session: whatever the old one left uncommitted is gone, so what is read now is
  // what was made durable.
  void Reconnect() {
    db_.reset();
    db_ = test::Connect(kServer, kDatabase);
    ASSERT_TRUE(db_->Conectado());
  }

  Outcome Run(const std::string& sql) {
    Outcome out;
    auto& conexion = *db_->Conexion();
    try {
      auto rs = conexion.Execute(sql);
      for (; rs && rs->IsOpen() && rs->FieldCount() > 0 && !rs->EOF_(); rs->MoveNext()) {
        std::string line;
        for (long i = 0; i < rs->FieldCount(); ++i) line += (i ? "|" : "") + Cell(rs->Fields(i).Value());
        out.rows.push_back(line);
      }
    } catch (const RaisedError& e) {
      out.raised = true;
      out.raisedNumber = e.Number();
    }
    auto& errors = conexion.Errors();
    for (long i = 0; i < errors.Count(); ++i) {
      out.natives.push_back(errors.Item(i).NativeError);
      out.descriptions.push_back(errors.Item(i).Description);
    }
    return out;
  }

  // Runs setup statements that SQL Server accepts; a refusal fails the test here.
  void Ok(const std::string& sql) {
    const Outcome o = Run(sql);
    EXPECT_TRUE(o.natives.empty() && !o.raised) << "SQL Server runs without errors:\n" << sql << "\n" << o.Describe();
  }

  // The rows of a query, or the errors when it is refused.
  Strings Query(const std::string& sql) {
    Outcome o = Run(sql);
    if (!o.natives.empty() || o.raised) return {"refused: " + o.Describe()};
    return o.rows;
  }

  // The first column of the first row ("<no row>" when there is none).
  std::string One(const std::string& sql) {
    Strings rows = Query(sql);
    if (rows.empty()) return "<no row>";
    return rows.front().substr(0, rows.front().find('|'));
  }

  std::string Trancount() { return One("SELECT @@TRANCOUNT"); }

  std::unique_ptr<test::TempDataRoot> root_;
  std::unique_ptr<ClsDatos> db_;
};

// ---------------------------------------------------------------------------------------

// What nesting leaves behind, with no @@TRANCOUNT in the way: the same steps sent one
// Execute each and as one batch.
TEST_P(Conformance, NestedTransactionsCommitAndRollBackAsAWhole) {
  Ok("CREATE TABLE tr (id int PRIMARY KEY, v varchar(10) NULL)");
  const std::string ins1 = "INSERT INTO tr (id, v) VALUES (1, 'uno')";
  const std::string ins2 = "INSERT INTO tr (id, v) VALUES (2, 'dos')";
  struct Case {
    const char* what;
    Strings steps;
    Strings durable;
  };
  const Case cases[] = {
      {"the outer of two COMMITs",
       {"BEGIN TRAN", "BEGIN TRANSACTION", ins1, "COMMIT", ins2, "COMMIT TRANSACTION"},
       {"1", "2"}},
      {"ROLLBACK at depth 2", {"BEGIN TRAN", ins1, "BEGIN TRAN", ins2, "ROLLBACK"}, {}},
      {"ROLLBACK at depth 1 after an inner COMMIT",
       {"BEGIN TRAN", "BEGIN TRAN", ins1, "COMMIT TRAN", ins2, "ROLLBACK TRANSACTION"},
       {}},
      {"work after a ROLLBACK at depth 2", {"BEGIN TRAN", "BEGIN TRAN", ins1, "ROLLBACK", ins2}, {"2"}},
  };
  for (bool oneBatch : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (oneBatch ? ", one batch" : ", separate calls"));
      Reconnect();
      Ok("DELETE FROM tr");
      if (oneBatch) {
        Ok(Batch(c.steps));
      } else {
        for (const auto& step : c.steps) Ok(step);
      }
      Reconnect();
      EXPECT_EQ(Query("SELECT id FROM tr ORDER BY id"), c.durable)
          << "SQL Server: these rows, and only these, outlive the session";
    }
  }
}

TEST_P(Conformance, TrancountFollowsTheNesting) {
  Ok("CREATE TABLE tr (id int PRIMARY KEY)");
  EXPECT_EQ(Trancount(), "0") << "SQL Server: a new session has @@TRANCOUNT 0";
  Ok("BEGIN TRAN");
  EXPECT_EQ(Trancount(), "1") << "SQL Server: BEGIN TRAN gives @@TRANCOUNT 1";
  Ok("BEGIN TRANSACTION");
  EXPECT_EQ(Trancount(), "2") << "SQL Server: a second BEGIN TRAN gives @@TRANCOUNT 2";
  Ok("COMMIT");
  EXPECT_EQ(Trancount(), "1") << "SQL Server: the inner COMMIT lowers @@TRANCOUNT to 1";
  Ok("BEGIN TRAN");
  Ok("ROLLBACK");
  EXPECT_EQ(Trancount(), "0") << "SQL Server: ROLLBACK at depth 2 sets @@TRANCOUNT to 0";

  Reconnect();
  Outcome o = Run(Batch({"BEGIN TRAN", "BEGIN TRAN", "SELECT @@TRANCOUNT", "COMMIT"}));
  EXPECT_EQ(o.rows, (Strings{"2"})) << "SQL Server: @@TRANCOUNT is 2 after two BEGIN TRAN in a batch\n" << o.Describe();
  EXPECT_EQ(Trancount(), "1") << "SQL Server: the batch's one COMMIT leaves @@TRANCOUNT 1";
  o = Run(Batch({"COMMIT", "SELECT @@TRANCOUNT"}));
  EXPECT_EQ(o.rows, (Strings{"0"})) << "SQL Server: the outer COMMIT in a later batch leaves @@TRANCOUNT 0\n"
                                    << o.Describe();
  o = Run(Batch({"BEGIN TRAN", "BEGIN TRAN", "ROLLBACK", "SELECT @@TRANCOUNT"}));
  EXPECT_EQ(o.rows, (Strings{"0"})) << "SQL Server: ROLLBACK at depth 2 of a batch leaves @@TRANCOUNT 0\n"
                                    << o.Describe();

  Reconnect();
  const Outcome commit = Run("COMMIT");
  EXPECT_EQ(commit.natives, (Numbers{3902})) << "SQL Server: COMMIT without BEGIN TRAN gives error 3902 alone\n"
                                             << commit.Describe();
  EXPECT_TRUE(commit.raised && commit.raisedNumber == 3902) << "SQL Server: Execute raises 3902";
  const Outcome rollback = Run("ROLLBACK TRANSACTION");
  EXPECT_EQ(rollback.natives, (Numbers{3903})) << "SQL Server: ROLLBACK without BEGIN TRAN gives error 3903 alone\n"
                                               << rollback.Describe();
  // 3902 ends only its statement: the insert after it still runs.
  o = Run(Batch({"COMMIT", "INSERT INTO tr (id) VALUES (7)"}));
  EXPECT_EQ(o.natives, (Numbers{3902})) << "SQL Server: COMMIT without BEGIN TRAN gives 3902\n" << o.Describe();
  EXPECT_EQ(One("SELECT COUNT(*) FROM tr WHERE id = 7"), "1")
      << "SQL Server: the statement after a refused COMMIT runs";
  EXPECT_EQ(Trancount(), "0") << "SQL Server: @@TRANCOUNT stays 0 after refused COMMIT and ROLLBACK";
}

// A statement that breaks a rule is undone alone; the batch goes on, and an explicit
// transaction around it still commits the rest.
TEST_P(Conformance, RuleViolationsEndOnlyTheirStatement) {
  Ok("CREATE TABLE padre (id int PRIMARY KEY)");
  Ok("INSERT INTO padre (id) VALUES (10)");
  Ok("CREATE TABLE fila (id int PRIMARY KEY, nombre varchar(5) NOT NULL, padre int NULL REFERENCES padre (id))");

  struct Case {
    const char* what;
    const char* statement;
    long native;
  };
  const Case cases[] = {
      {"duplicate key", "INSERT INTO fila (id, nombre) VALUES (1, 'dup')", 2627},
      {"NULL into NOT NULL", "INSERT INTO fila (id, nombre) VALUES (2, NULL)", 515},
      {"string too long for varchar(5)", "INSERT INTO fila (id, nombre) VALUES (2, 'demasiado')", 8152},
      {"foreign key", "INSERT INTO fila (id, nombre, padre) VALUES (2, 'hijo', 99)", 547},
      {"update to NULL", "UPDATE fila SET nombre = NULL WHERE id = 1", 515},
  };
  const std::string ok1 = "INSERT INTO fila (id, nombre, padre) VALUES (1, 'uno', 10)";
  const std::string ok2 = "INSERT INTO fila (id, nombre) VALUES (3, 'tres')";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reconnect();
    Ok("DELETE FROM fila");
    Outcome o = Run(Batch({ok1, c.statement, ok2}));
    EXPECT_EQ(o.natives, (Numbers{c.native, 3621}))
        << "SQL Server reports " << c.native << " then 3621 (The statement has been terminated.)\n"
        << o.Describe();
    EXPECT_TRUE(o.raised && o.raisedNumber == c.native) << "SQL Server: Execute raises the first error, " << c.native;
    if (o.descriptions.size() == 2) { EXPECT_EQ(o.descriptions[1], "The statement has been terminated."); }
    EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), (Strings{"1", "3"}))
        << "SQL Server inserts the statements before and after the refused one";

    Ok("DELETE FROM fila");
    o = Run(Batch({"BEGIN TRAN", ok1, c.statement, ok2, "COMMIT TRAN"}));
    EXPECT_EQ(o.natives, (Numbers{c.native, 3621}))
        << "SQL Server reports " << c.native << " then 3621 inside BEGIN TRAN ... COMMIT\n"
        << o.Describe();
    EXPECT_EQ(Trancount(), "0") << "SQL Server: the batch's COMMIT ran, @@TRANCOUNT 0";
    Reconnect();
    EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), (Strings{"1", "3"}))
        << "SQL Server commits the rest of the transaction: rows 1 and 3 are durable";
  }

  // The system's own statements are sometimes separated by semicolons on one line.
  Reconnect();
  Ok("DELETE FROM fila");
  const Outcome o = Run(ok1 + "; " + cases[0].statement + "; " + ok2);
  EXPECT_EQ(o.natives, (Numbers{2627, 3621})) << "SQL Server reports 2627 then 3621\n" << o.Describe();
  EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), (Strings{"1", "3"}))
      << "SQL Server inserts the statements around the duplicate";
}

// A failed conversion is not a rule violation: it aborts the batch and rolls back the
// open transaction.
TEST_P(Conformance, ConversionErrorAbortsTheBatch) {
  Ok("CREATE TABLE fila (id int PRIMARY KEY, nombre varchar(10) NULL, n int NULL)");
  const std::string ok1 = "INSERT INTO fila (id, nombre, n) VALUES (1, 'uno', 1)";
  const std::string bad = "INSERT INTO fila (id, nombre, n) VALUES (2, 'dos', 'abc')";
  const std::string ok2 = "INSERT INTO fila (id, nombre, n) VALUES (3, 'tres', 3)";

  Outcome o = Run(Batch({ok1, bad, ok2}));
  EXPECT_EQ(o.natives, (Numbers{245}))
      << "SQL Server reports 245 (Conversion failed when converting the varchar value 'abc' to data type int.) "
         "alone, without 3621\n"
      << o.Describe();
  EXPECT_TRUE(o.raised && o.raisedNumber == 245) << "SQL Server: Execute raises 245";
  EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), (Strings{"1"}))
      << "SQL Server keeps the autocommitted row 1 and never runs the insert of row 3";

  Reconnect();
  Ok("DELETE FROM fila");
  o = Run(Batch({"BEGIN TRAN", ok1, bad, ok2, "COMMIT"}));
  EXPECT_EQ(o.natives, (Numbers{245})) << "SQL Server reports 245 alone\n" << o.Describe();
  EXPECT_EQ(Trancount(), "0") << "SQL Server rolls the transaction back: @@TRANCOUNT 0";
  Reconnect();
  EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), Strings{}) << "SQL Server rolls the transaction back: no rows";
}

// Errors found while compiling end the batch. A syntax error stops the whole batch before
// anything runs; a missing table stops it where it is named, leaving the transaction open.
TEST_P(Conformance, CompileErrorsEndTheBatch) {
  Ok("CREATE TABLE fila (id int PRIMARY KEY, nombre varchar(10) NULL)");
  const std::string ok1 = "INSERT INTO fila (id, nombre) VALUES (1, 'uno')";
  const std::string ok2 = "INSERT INTO fila (id, nombre) VALUES (3, 'tres')";

  Outcome o = Run(Batch({ok1, "INSERT INTO no_existe (a) VALUES (1)", ok2}));
  EXPECT_EQ(o.natives, (Numbers{208})) << "SQL Server reports 208 alone\n" << o.Describe();
  EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), (Strings{"1"}))
      << "SQL Server ran the insert before the missing table, not the one after it";

  Reconnect();
  Ok("DELETE FROM fila");
  o = Run(Batch({"BEGIN TRAN", ok1, "SELECT * FROM no_existe", ok2, "COMMIT"}));
  EXPECT_EQ(o.natives, (Numbers{208})) << "SQL Server reports 208 alone\n" << o.Describe();
  EXPECT_EQ(Trancount(), "1") << "SQL Server leaves the transaction open after 208: @@TRANCOUNT 1";
  EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), (Strings{"1"}))
      << "SQL Server: the session still sees its uncommitted row 1, and row 3 was never inserted";
  Run("ROLLBACK");
  EXPECT_EQ(One("SELECT COUNT(*) FROM fila"), "0") << "SQL Server: ROLLBACK undoes row 1";

  Reconnect();
  Ok("DELETE FROM fila");
  o = Run(Batch({ok1, "INSERT INTO fila (id nombre) VALUES (2, 'dos')", ok2}));
  EXPECT_EQ(o.natives, (Numbers{102})) << "SQL Server reports 102 (Incorrect syntax near 'nombre'.) alone\n"
                                       << o.Describe();
  EXPECT_EQ(Query("SELECT id FROM fila ORDER BY id"), Strings{})
      << "SQL Server parses the batch as a whole: after a syntax error none of its statements ran";
}

TEST_P(Conformance, ErrorNumbersTheSystemRelies) {
  Ok("CREATE TABLE padre (id int PRIMARY KEY)");
  Ok("INSERT INTO padre (id) VALUES (10)");
  Ok("CREATE TABLE fila (id int PRIMARY KEY, nombre varchar(5) NOT NULL, padre int NULL REFERENCES padre (id))");
  Ok("INSERT INTO fila (id, nombre, padre) VALUES (1, 'uno', 10)");

  struct Case {
    const char* statement;
    Numbers natives;
  };
  const Case cases[] = {
      {"INSERT INTO fila (id, nombre) VALUES (1, 'otro')", {2627, 3621}},
      {"INSERT INTO fila (id, nombre, padre) VALUES (2, 'x', 99)", {547, 3621}},
      {"DELETE FROM padre WHERE id = 10", {547, 3621}},
      {"SELECT * FROM no_existe", {208}},
      {"SELECT no_columna FROM fila", {207}},
      {"SELECT * FROM fila WHERE id = = 1", {102}},
      {"INSERT INTO fila (id, nombre) VALUES (3, NULL)", {515, 3621}},
      {"INSERT INTO fila (id, nombre) VALUES (4, 'seisss')", {8152, 3621}},
  };
  for (const Case& c : cases) {
    const Outcome o = Run(c.statement);
    EXPECT_EQ(o.natives, c.natives) << c.statement << "\nSQL Server gives " << Show(c.natives) << "\n" << o.Describe();
    EXPECT_TRUE(o.raised && o.raisedNumber == c.natives.front())
        << c.statement << "\nSQL Server: Execute raises " << c.natives.front();
  }

  const Outcome missing = Run("SELECT * FROM no_existe");
  ASSERT_FALSE(missing.descriptions.empty());
  EXPECT_EQ(missing.descriptions.front(), "Invalid object name 'no_existe'.");

  // ClsDatos never raises: the same numbers are read from the connection's Errors.
  db_->EjecutarSQL("INSERT INTO fila (id, nombre) VALUES (1, 'otro')");
  auto& errors = db_->Conexion()->Errors();
  ASSERT_EQ(errors.Count(), 2) << "SQL Server: 2627 and 3621";
  EXPECT_EQ(errors.Item(0).NativeError, 2627);
  EXPECT_EQ(errors.Item(1).NativeError, 3621);
  EXPECT_EQ(One("SELECT COUNT(*) FROM fila"), "1") << "SQL Server: nothing was inserted by the refused statements";
}

TEST_P(Conformance, PlusConcatenatesStringsAndAddsNumbers) {
  Ok("CREATE TABLE c (id int PRIMARY KEY, nombre varchar(10) NULL, n int NULL)");
  Ok("INSERT INTO c (id, nombre, n) VALUES (1, 'Ana', 5)");
  Ok("INSERT INTO c (id, nombre, n) VALUES (2, NULL, NULL)");

  EXPECT_EQ(One("SELECT 'a' + 'b'"), "ab") << "SQL Server: 'a' + 'b' = 'ab'";
  EXPECT_EQ(One("SELECT 'a' + 'b' + 'c'"), "abc");
  EXPECT_EQ(One("SELECT nombre + '!' FROM c WHERE id = 1"), "Ana!") << "SQL Server: column + literal concatenates";
  EXPECT_EQ(One("SELECT nombre + ' ' + nombre FROM c WHERE id = 1"), "Ana Ana");
  EXPECT_EQ(One("SELECT id FROM c WHERE nombre + 'x' = 'Anax'"), "1") << "SQL Server: concatenation in WHERE";
  EXPECT_EQ(One("SELECT CASE WHEN NULL + 'x' IS NULL THEN 1 ELSE 0 END"), "1") << "SQL Server: NULL + 'x' IS NULL";
  EXPECT_EQ(One("SELECT CASE WHEN nombre + 'x' IS NULL THEN 1 ELSE 0 END FROM c WHERE id = 2"), "1")
      << "SQL Server: a NULL column + 'x' IS NULL";
  EXPECT_EQ(One("SELECT 1 + 2"), "3") << "SQL Server: 1 + 2 = 3";
  EXPECT_EQ(One("SELECT '1' + 1"), "2") << "SQL Server converts '1' to int: '1' + 1 = 2";
  EXPECT_EQ(One("SELECT n + 1 FROM c WHERE id = 1"), "6") << "SQL Server: int column + 1 adds";
}

TEST_P(Conformance, AlterTableAddsSeveralColumns) {
  Ok("CREATE TABLE a (id int PRIMARY KEY)");
  Ok("INSERT INTO a (id) VALUES (1)");
  Ok("ALTER TABLE a ADD cantidad int NULL, nota varchar(10) NULL");
  Ok("UPDATE a SET cantidad = 7, nota = 'siete' WHERE id = 1");
  Ok("INSERT INTO a (id, cantidad, nota) VALUES (2, NULL, 'dos')");
  EXPECT_EQ(Query("SELECT id, cantidad, nota FROM a ORDER BY id"), (Strings{"1|7|siete", "2|NULL|dos"}))
      << "SQL Server: both added columns hold values";

  // How the system discovers a table's columns: the schema rowset, and the structure probe.
  Strings names;
  long notaLength = -1;
  try {
    auto rs = db_->Conexion()->OpenSchema(ado::kSchemaColumns,
                                          {Variant(db_->BaseDatos()), Variant(), Variant("a"), Variant()});
    for (; !rs->EOF_(); rs->MoveNext()) {
      const std::string name = text::Lower(rs->Fields("COLUMN_NAME").Value().ToText());
      names.push_back(name);
      if (name == "nota")
        notaLength = static_cast<long>(rs->Fields("CHARACTER_MAXIMUM_LENGTH").Value().ToNumber().value_or(-1));
    }
  } catch (const RaisedError& e) { ADD_FAILURE() << "OpenSchema raised " << e.Number() << ": " << e.Description(); }
  EXPECT_EQ(names, (Strings{"id", "cantidad", "nota"})) << "SQL Server lists the three columns in order";
  EXPECT_EQ(notaLength, 10) << "SQL Server: nota is varchar(10)";

  ado::RecordsetPtr rs;
  db_->AbrirRecordset("SELECT TOP 1 * FROM a WITH(NOLOCK)", rs, db_->Conexion(), 2, 3, -1, true);
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->FieldCount(), 3) << "SQL Server: SELECT * shows the added columns";
  EXPECT_TRUE(rs->FieldIndex("cantidad").has_value() && rs->FieldIndex("nota").has_value());
}

TEST_P(Conformance, TopHintsAndTheClock) {
  Ok("CREATE TABLE n (id int PRIMARY KEY, v varchar(10) NULL)");
  Ok("INSERT INTO n (id, v) VALUES (3, 'c')");
  Ok("INSERT INTO n (id, v) VALUES (1, 'a')");
  Ok("INSERT INTO n (id, v) VALUES (5, 'e')");
  Ok("INSERT INTO n (id, v) VALUES (2, 'b')");
  Ok("INSERT INTO n (id, v) VALUES (4, 'd')");

  EXPECT_EQ(Query("SELECT TOP 2 id FROM n ORDER BY id DESC"), (Strings{"5", "4"}));
  EXPECT_EQ(Query("SELECT TOP (3) id FROM n ORDER BY id"), (Strings{"1", "2", "3"}));
  EXPECT_EQ(Query("SELECT TOP 1 id, v FROM n WHERE id > 2 ORDER BY v"), (Strings{"3|c"}));
  EXPECT_EQ(Query("SELECT TOP 2 * FROM n WITH(NOLOCK) ORDER BY id"), (Strings{"1|a", "2|b"}));
  EXPECT_EQ(Query("SELECT TOP 0 id FROM n"), Strings{}) << "SQL Server: TOP 0 gives no rows";
  EXPECT_EQ(Query("SELECT v FROM n (NOLOCK) WHERE id = 2"), (Strings{"b"})) << "SQL Server accepts t (NOLOCK)";
  EXPECT_EQ(Query("SELECT x.v FROM n x (NOLOCK) WHERE x.id = 4"), (Strings{"d"}))
      << "SQL Server accepts t alias (NOLOCK)";
  EXPECT_EQ(Query("SELECT x.v FROM n AS x WITH (NOLOCK) WHERE x.id = 5"), (Strings{"e"}));
  EXPECT_EQ(
      Query(
          "SELECT a.id, b.v FROM n a WITH(NOLOCK) INNER JOIN n b (NOLOCK) ON a.id = b.id WHERE a.id < 3 ORDER BY a.id"),
      (Strings{"1|a", "2|b"}));

  ado::RecordsetPtr rs;
  try {
    rs = db_->Conexion()->Execute("SELECT getDate() AS fecha");
  } catch (const RaisedError& e) {
    FAIL() << "SQL Server answers getDate(); raised " << e.Number() << ": " << e.Description();
  }
  ASSERT_FALSE(rs->EOF_());
  const Variant fecha = rs->Fields("fecha").Value();
  ASSERT_EQ(fecha.kind(), Variant::Kind::Date) << "SQL Server: getDate() is a datetime";
  auto seconds = [](const DateTime& d) {
    // Days from civil, so the comparison holds across midnight and month ends.
    const int y = d.year - (d.month <= 2), era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
    const int doy = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
    const long long days = era * 146097LL + yoe * 365LL + yoe / 4 - yoe / 100 + doy;
    return days * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
  };
  EXPECT_LE(std::llabs(seconds(fecha.AsDate()) - seconds(DateTime::Now())), 120)
      << "SQL Server: getDate() is the local time now; got " << fecha.ToText();
}

TEST_P(Conformance, ComparisonsIgnoreCaseAndTrailingBlanks) {
  EXPECT_EQ(One("SELECT CASE WHEN 'abc' = 'ABC  ' THEN 1 ELSE 0 END"), "1") << "SQL Server: 'abc' = 'ABC  '";
  EXPECT_EQ(One("SELECT CASE WHEN 'abc' <> 'ABC ' THEN 1 ELSE 0 END"), "0");

  Ok("CREATE TABLE p (id int PRIMARY KEY, nombre varchar(20) NULL)");
  Ok("INSERT INTO p (id, nombre) VALUES (1, 'Camión ')");
  Ok("INSERT INTO p (id, nombre) VALUES (2, 'Otro')");

  EXPECT_EQ(Query("SELECT nombre FROM p WHERE id = 1"), (Strings{"Camión "})) << "SQL Server keeps the stored blank";
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre = 'CAMIÓN'"), (Strings{"1"}))
      << "SQL Server: 'Camión ' = 'CAMIÓN' (case, accented capital and trailing blank ignored)";
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre = 'camión'"), (Strings{"1"}));
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre IN ('x', 'CAMIÓN  ')"), (Strings{"1"}));
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE 'cam%'"), (Strings{"1"}))
      << "SQL Server: LIKE 'cam%' finds 'Camión '";
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE '%IÓN%'"), (Strings{"1"}))
      << "SQL Server: LIKE ignores the case of Ó";
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE '%IÓN'"), (Strings{"1"}))
      << "SQL Server: LIKE ignores the value's trailing blank";
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE 'cami_n'"), (Strings{"1"}));
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE '[cC]am%'"), (Strings{"1"}));
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE '[a-c]%' ORDER BY id"), (Strings{"1"}))
      << "SQL Server: [a-c] matches 'C' ignoring case, not 'O'";
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE '[^c]%' ORDER BY id"), (Strings{"2"}));
  EXPECT_EQ(Query("SELECT id FROM p WHERE nombre LIKE '[n-p]TRO'"), (Strings{"2"}));
  EXPECT_EQ(One("SELECT COUNT(*) FROM p WHERE 'Otro' LIKE 'Otro '"), "0")
      << "SQL Server: a trailing blank in the pattern must match";
}

// The letters of Windows-1252 (the suite's other programs' character set) in upper and
// lower case, as UTF-8: A-Z, À-Þ but ×, and Š Œ Ž Ÿ.
std::vector<std::pair<std::string, std::string>> Windows1252Letters() {
  std::vector<std::pair<std::string, std::string>> out;
  auto add = [&](int upper, int lower) {
    out.emplace_back(text::Cp1252ToUtf8(std::string(1, static_cast<char>(upper))),
                     text::Cp1252ToUtf8(std::string(1, static_cast<char>(lower))));
  };
  for (int c = 'A'; c <= 'Z'; ++c) add(c, c + 32);
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) add(c, c + 32);
  add(0x8A, 0x9A);  // Š š
  add(0x8C, 0x9C);  // Œ œ
  add(0x8E, 0x9E);  // Ž ž
  add(0x9F, 0xFF);  // Ÿ ÿ
  return out;
}

// SQL Server's default collation is case-insensitive and accent-sensitive for every letter:
// both engines compare, map and match each Windows-1252 letter with its other case.
TEST_P(Conformance, EveryWindows1252LetterEqualsItsOtherCase) {
  const auto letters = Windows1252Letters();
  ASSERT_EQ(letters.size(), 26u + 30u + 4u);
  Ok("CREATE TABLE letra (id int PRIMARY KEY, mayuscula nvarchar(4) NOT NULL, minuscula nvarchar(4) NOT NULL)");
  Strings inserts, expected;
  std::string literals = "SELECT ", allUpper, allLower;
  for (size_t k = 0; k < letters.size(); ++k) {
    const auto& [upper, lower] = letters[k];
    const std::string id = std::to_string(k + 1), u = "N'" + upper + "'", l = "N'" + lower + "'";
    inserts.push_back("INSERT INTO letra (id, mayuscula, minuscula) VALUES (" + id + ", " + u + ", " + l + ")");
    expected.push_back(id + "|" + upper + "|" + lower + "|1|1|1");
    literals += std::string(k ? ", " : "") + "CASE WHEN " + l + " = " + u + " AND " + u + " = " + l + " AND " + l +
                " LIKE " + u + " AND " + u + " LIKE N'%" + lower + "%' THEN 1 ELSE 0 END";
    allUpper += upper;
    allLower += lower;
  }
  Ok(Batch(inserts));
  EXPECT_EQ(Query("SELECT id, UPPER(minuscula), LOWER(mayuscula), CASE WHEN minuscula = mayuscula THEN 1 ELSE 0 END, "
                  "CASE WHEN minuscula LIKE mayuscula THEN 1 ELSE 0 END, "
                  "CASE WHEN mayuscula LIKE '%' + minuscula THEN 1 ELSE 0 END FROM letra ORDER BY id"),
            expected)
      << "SQL Server: UPPER and LOWER map each letter to its other case, = and LIKE ignore it";
  std::string ones;
  for (size_t k = 0; k < letters.size(); ++k) ones += k ? "|1" : "1";
  EXPECT_EQ(Query(literals), Strings{ones}) << "SQL Server: the same between literals";
  EXPECT_EQ(Query("SELECT UPPER(N'" + allLower + "'), LOWER(N'" + allUpper + "')"), Strings{allUpper + "|" + allLower});
  EXPECT_EQ(Query("SELECT COUNT(*) FROM letra a JOIN letra b ON a.minuscula = b.mayuscula"),
            Strings{std::to_string(letters.size())})
      << "SQL Server: each letter equals its own other case and no other letter (accents count)";
  EXPECT_EQ(Query("SELECT id FROM letra WHERE mayuscula = N'œ' OR minuscula = N'Ÿ' OR mayuscula = N'š' ORDER BY id"),
            (Strings{"57", "58", "60"}));
  // Letters of the set with no other case in it.
  EXPECT_EQ(Query("SELECT UPPER(N'ß µ ƒ ª º'), LOWER(N'ß µ ƒ ª º')"), (Strings{"SS Μ Ƒ ª º|ß µ ƒ ª º"}));
}

// Other scripts: case is folded for every letter, accents and letters of their own (ł, ı)
// stay apart. Each row: a lower-case text, an upper-case one, whether they are equal (and
// LIKE each other), UPPER of the first, LOWER of the second.
TEST_P(Conformance, OtherScriptsFoldCaseAlikeOnEveryEngine) {
  struct Case {
    const char *lower, *upper;
    bool equal;
    const char *upperOfLower, *lowerOfUpper;
    // PostgreSQL matches a literal pattern letter by letter with both cases of the letter
    // (so I matches ı and i matches İ, ς does not match Σ), the embedded engine by case
    // folding: only where a letter's cases are a plain pair do they agree.
    bool plainPair = true;
  };
  const Case cases[] = {
      {"σοφία", "ΣΟΦΊΑ", true, "ΣΟΦΊΑ", "σοφία"},
      {"οδος", "ΟΔΟΣ", true, "ΟΔΟΣ", "οδος", false},  // LOWER gives the final sigma
      {"москва", "МОСКВА", true, "МОСКВА", "москва"},
      {"żółć", "ŻÓŁĆ", true, "ŻÓŁĆ", "żółć"},
      {"i", "I", true, "I", "i"},
      {"ı", "I", false, "I", "i", false},          // Turkish dotless i: its own letter, upper-cased to I
      {"i", "İ", false, "I", "i\xCC\x87", false},  // İ is I with a dot above, lower-cased to i and the dot
      {"straße", "STRASSE", false, "STRASSE", "strasse"},
      {"straße", "STRAẞE", true, "STRASSE", "straße"},
      {"l", "Ł", false, "L", "ł"},
      {"camion", "CAMIÓN", false, "CAMION", "camión"},
      {"e", "É", false, "E", "é"},
      {"n", "Ñ", false, "N", "ñ"},
  };
  Ok("CREATE TABLE texto (id int PRIMARY KEY, minuscula nvarchar(20) NOT NULL, mayuscula nvarchar(20) NOT NULL)");
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(std::string(c.lower) + " / " + c.upper);
    const std::string id = std::to_string(k + 1), eq = c.equal ? "1" : "0";
    Ok("INSERT INTO texto (id, minuscula, mayuscula) VALUES (" + id + ", N'" + c.lower + "', N'" + c.upper + "')");
    EXPECT_EQ(Query("SELECT UPPER(minuscula), LOWER(mayuscula), CASE WHEN minuscula = mayuscula THEN 1 ELSE 0 END, "
                    "CASE WHEN minuscula LIKE mayuscula THEN 1 ELSE 0 END, CASE WHEN mayuscula LIKE minuscula THEN 1 "
                    "ELSE 0 END FROM texto WHERE id = " +
                    id),
              Strings{std::string(c.upperOfLower) + "|" + c.lowerOfUpper + "|" + eq + "|" + eq + "|" + eq});
    EXPECT_EQ(One("SELECT COUNT(*) FROM texto WHERE id = " + id + " AND minuscula = N'" + c.upper + "'"), eq);
    EXPECT_EQ(One("SELECT CASE WHEN N'" + std::string(c.lower) + "' = N'" + c.upper + "' THEN 1 ELSE 0 END"), eq);
    if (c.plainPair) {
      EXPECT_EQ(One("SELECT COUNT(*) FROM texto WHERE id = " + id + " AND minuscula LIKE N'" + c.upper + "'"), eq);
    }
  }
  // The order of ICU's root collation: signs, digits, then letters, each with its accented
  // forms after it; case decides nothing.
  Ok("CREATE TABLE palabra (id int PRIMARY KEY, v nvarchar(10) NOT NULL)");
  const Strings words = {"b", "A", "á",   "Ä",  "_x", "0", "z", "ł", "Œuvre", "oz", "l",
                         "m", "~", "a b", "ab", "é",  "E", "ñ", "o", "Oe",    "-a", "ż"};
  Strings inserts;
  for (size_t k = 0; k < words.size(); ++k)
    inserts.push_back("INSERT INTO palabra (id, v) VALUES (" + std::to_string(k + 1) + ", N'" + words[k] + "')");
  Ok(Batch(inserts));
  EXPECT_EQ(Query("SELECT v FROM palabra ORDER BY v, id"),
            (Strings{"_x", "-a", "~", "0", "A", "á", "Ä",  "a b",   "ab", "b", "E",
                     "é",  "l",  "ł", "m", "ñ", "o", "Oe", "Œuvre", "oz", "z", "ż"}));
}

// LEN, LEFT, RIGHT, SUBSTRING, CHARINDEX, REPLACE, LTRIM and RTRIM as SQL Server defines
// them: characters, not bytes; Null in, Null out; letter case ignored where text is sought.
TEST_P(Conformance, TextFunctionsAsSqlServerDefinesThem) {
  struct Case {
    const char* expression;
    const char* value;  // "NULL" for Null
  };
  const Case cases[] = {
      {"LEN('ab  ')", "2"},
      {"LEN('  ab')", "4"},
      {"LEN('   ')", "0"},
      {"LEN('')", "0"},
      {"LEN(N'ñandú ')", "5"},
      {"LEN(12)", "2"},
      {"LEN(NULL)", "NULL"},
      {"LEFT('abc', 2)", "ab"},
      {"LEFT('abc', 0)", ""},
      {"LEFT('abc', 9)", "abc"},
      {"LEFT(N'ñandú', 2)", "ña"},
      {"LEFT(NULL, 1)", "NULL"},
      {"LEFT('abc', NULL)", "NULL"},
      {"RIGHT('abc', 2)", "bc"},
      {"RIGHT('abc', 0)", ""},
      {"RIGHT('abc', 9)", "abc"},
      {"RIGHT(N'ñandú', 2)", "dú"},
      {"RIGHT('ab  ', 3)", "b  "},
      {"RIGHT(NULL, 1)", "NULL"},
      {"SUBSTRING('abcdef', 2, 3)", "bcd"},
      {"SUBSTRING('abcdef', 0, 3)", "ab"},
      {"SUBSTRING('abcdef', -1, 3)", "a"},
      {"SUBSTRING('abcdef', -5, 3)", ""},
      {"SUBSTRING('abcdef', 5, 10)", "ef"},
      {"SUBSTRING('abcdef', 7, 1)", ""},
      {"SUBSTRING('abcdef', 2, 0)", ""},
      {"SUBSTRING(N'ñandú', 2, 3)", "and"},
      {"SUBSTRING(NULL, 1, 1)", "NULL"},
      {"SUBSTRING('abc', NULL, 1)", "NULL"},
      {"SUBSTRING('abc', 1, NULL)", "NULL"},
      {"CHARINDEX('b', 'abcb')", "2"},
      {"CHARINDEX('B', 'abcb')", "2"},
      {"CHARINDEX('b', 'abcb', 3)", "4"},
      {"CHARINDEX('b', 'abcb', 5)", "0"},
      {"CHARINDEX('b', 'abcb', 0)", "2"},
      {"CHARINDEX('b', 'abcb', -3)", "2"},
      {"CHARINDEX('x', 'abc')", "0"},
      {"CHARINDEX('', 'abc')", "0"},
      {"CHARINDEX(N'ú', N'ÑANDÚ')", "5"},
      {"CHARINDEX('u', N'ÑANDÚ')", "0"},
      {"CHARINDEX(N'Œ', N'hors d''œuvre')", "8"},
      {"CHARINDEX('a.', 'axa.b')", "3"},
      {"CHARINDEX('%', 'a%b')", "2"},
      {"CHARINDEX('c d', 'ab C D')", "4"},
      {"CHARINDEX(NULL, 'a')", "NULL"},
      {"CHARINDEX('a', NULL)", "NULL"},
      {"REPLACE('aBcb', 'b', 'x')", "axcx"},
      {"REPLACE(N'ÑANDÚ', N'ú', 'u')", "ÑANDu"},
      {"REPLACE(N'ŒUVRE', N'œ', 'oe')", "oeUVRE"},
      {"REPLACE('abc', '', 'x')", "abc"},
      {"REPLACE('abc', 'B', '')", "ac"},
      {"REPLACE('aaa', 'aa', 'b')", "ba"},
      {"REPLACE('a.b.c', '.', '\\')", "a\\b\\c"},
      {"REPLACE('ab', 'b', '&$1')", "a&$1"},
      {"REPLACE('abc', NULL, 'x')", "NULL"},
      {"REPLACE('abc', 'b', NULL)", "NULL"},
      {"LTRIM('  a  ') + '|'", "a  |"},
      {"RTRIM('  a  ') + '|'", "  a|"},
      {"LTRIM(N'  ñ')", "ñ"},
      {"LTRIM(NULL)", "NULL"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Query(std::string("SELECT ") + c.expression), Strings{c.value}) << "SQL Server: " << c.expression;

  Ok("CREATE TABLE f (id int PRIMARY KEY, v varchar(20) NULL, w nvarchar(20) NULL)");
  Ok("INSERT INTO f (id, v, w) VALUES (1, 'aBcb', N'ÑANDÚ')");
  EXPECT_EQ(Query("SELECT LEFT(v, 2), RIGHT(w, 2), SUBSTRING(w, 2, 3), CHARINDEX('b', v), CHARINDEX(N'ú', w), "
                  "REPLACE(v, 'B', 'x'), LEN(w) FROM f"),
            (Strings{"aB|DÚ|AND|2|5|axcx|5"}));
  EXPECT_EQ(Query("SELECT id FROM f WHERE LEFT(w, 1) = N'ñ' AND SUBSTRING(v, 2, 1) = 'b' AND LEN(v) = 4"),
            (Strings{"1"}));

  // A negative length is refused: 537 for LEFT and SUBSTRING, 536 for RIGHT. The statement
  // ends, the batch goes on.
  const std::pair<const char*, long> refused[] = {
      {"SELECT LEFT('abc', -1)", 537}, {"SELECT SUBSTRING('abc', 2, -1)", 537}, {"SELECT RIGHT('abc', -1)", 536}};
  for (const auto& [statement, native] : refused) {
    const Outcome o = Run(Batch({statement, "INSERT INTO f (id, v) VALUES (" + std::to_string(native) + ", 'x')"}));
    EXPECT_EQ(o.natives, (Numbers{native})) << statement << "\n" << o.Describe();
    EXPECT_TRUE(o.raised && o.raisedNumber == native) << statement;
    if (!o.descriptions.empty()) {
      EXPECT_EQ(o.descriptions[0], native == 536
                                       ? "Invalid length parameter passed to the RIGHT function."
                                       : "Invalid length parameter passed to the LEFT or SUBSTRING function.");
    }
    EXPECT_EQ(One("SELECT COUNT(*) FROM f WHERE id = " + std::to_string(native)), "1")
        << "SQL Server runs the statement after it";
    Ok("DELETE FROM f WHERE id = " + std::to_string(native));
  }
}

TEST_P(Conformance, CharColumnsGiveTheirValuesBackPadded) {
  Ok("CREATE TABLE c (id int PRIMARY KEY, fijo char(5) NULL, ancho nchar(3) NULL, libre varchar(5) NULL)");
  Ok("INSERT INTO c (id, fijo, ancho, libre) VALUES (1, 'ab', 'ñ', 'ab')");
  Ok("INSERT INTO c (id, fijo, ancho, libre) VALUES (2, NULL, '', 'abcde')");
  EXPECT_EQ(Query("SELECT fijo, ancho, libre FROM c ORDER BY id"), (Strings{"ab   |ñ  |ab", "NULL|   |abcde"}))
      << "SQL Server pads char(n) and nchar(n) to n characters, not varchar";
  EXPECT_EQ(Query("SELECT id FROM c WHERE fijo = 'ab'"), (Strings{"1"}));
  EXPECT_EQ(One("SELECT LEN(fijo) FROM c WHERE id = 1"), "2");
  // Read as lists and lookups read, row by row.
  ado::RecordsetPtr rs;
  db_->AbrirRecordset("SELECT fijo, ancho FROM c WHERE id = 1", rs, nullptr, 0, 1, -1, true);
  ASSERT_FALSE(rs->EOF_());
  EXPECT_EQ(rs->Fields(0L).Value().ToText(), "ab   ");
  EXPECT_EQ(rs->Fields(1L).Value().ToText(), "ñ  ");
}

TEST_P(Conformance, IdentityColumnsNumberTheRows) {
  Ok("CREATE TABLE i (id int IDENTITY(1,1) PRIMARY KEY, v varchar(10) NULL)");
  Ok("INSERT INTO i (v) VALUES ('a')");
  Ok("INSERT INTO i (v) VALUES ('b')");
  Ok("INSERT INTO i (v) VALUES ('c')");
  EXPECT_EQ(Query("SELECT id, v FROM i ORDER BY id"), (Strings{"1|a", "2|b", "3|c"})) << "SQL Server numbers 1, 2, 3";
  EXPECT_EQ(One("SELECT @@IDENTITY"), "3") << "SQL Server: @@IDENTITY holds the session's last identity";

  Outcome o = Run(Batch({"INSERT INTO i (v) VALUES ('d')", "SELECT SCOPE_IDENTITY()"}));
  EXPECT_EQ(o.rows, (Strings{"4"})) << "SQL Server: SCOPE_IDENTITY() after the insert of the batch is 4\n"
                                    << o.Describe();
  o = Run(Batch({"INSERT INTO i (v) VALUES ('e')", "SELECT @@IDENTITY"}));
  EXPECT_EQ(o.rows, (Strings{"5"})) << "SQL Server: @@IDENTITY after the insert of the batch is 5\n" << o.Describe();

  Ok("CREATE TABLE j (id int IDENTITY(100,10) NOT NULL, v varchar(10) NULL)");
  Ok("INSERT INTO j (v) VALUES ('x')");
  Ok("INSERT INTO j (v) VALUES ('y')");
  EXPECT_EQ(Query("SELECT id FROM j ORDER BY id"), (Strings{"100", "110"}))
      << "SQL Server: IDENTITY(100,10) gives 100, 110";
  EXPECT_EQ(One("SELECT @@IDENTITY"), "110");
}

// Text another engine reads with a meaning of its own (PostgreSQL's E'' strings, $$ quotes,
// :: casts, typed literals, ^ as a power) is read as SQL Server reads it, or refused as it
// refuses it: the whole batch, before anything runs.
TEST_P(Conformance, OtherDialectsFormsMeanWhatTheyMeanInTSql) {
  Ok("CREATE TABLE fila (id int PRIMARY KEY, nombre varchar(10) NULL)");
  Ok("INSERT INTO fila (id, nombre) VALUES (1, 'uno')");
  Ok("INSERT INTO fila (id, nombre) VALUES (2, 'dos')");

  struct Refused {
    const char* statement;
    long native;
  };
  const Refused refused[] = {
      // T-SQL: the name E, then the string \' OR 1=1 --
      {"SELECT id FROM fila WHERE nombre = E'\\'' OR 1=1 --'", 102},
      {"SELECT $$a$$", 102},
      {"SELECT $1", 102},
      {"SELECT U&'d\\0061t'", 102},
      {"SELECT B'101'", 102},
      {"SELECT X'41'", 102},
      {"SELECT id::varchar(2) FROM fila", 102},
      {"SELECT :a", 102},
      {"SELECT id FROM fila WHERE nombre ~ 'n'", 102},
      {"SELECT id FROM fila WHERE nombre = date '2020-01-01'", 102},
      {"CREATE TABLE t1 (a decimal(10 2))", 102},
      {"CREATE TABLE t2 (a varchar(4 -1))", 102},
      {"SELECT CAST(id AS varchar(x)) FROM fila", 102},
      {"SELECT @x", 137},
      {"SELECT date '2020-01-01'", 207},  // T-SQL: the column date, named 2020-01-01
  };
  for (const Refused& c : refused) {
    const Outcome o = Run(Batch({"INSERT INTO fila (id, nombre) VALUES (3, 'tres')", c.statement}));
    EXPECT_EQ(o.natives, Numbers{c.native}) << c.statement << "\nSQL Server gives " << c.native << "\n" << o.Describe();
    EXPECT_EQ(o.rows, Strings{}) << c.statement;
    if (c.native == 102) {
      EXPECT_EQ(One("SELECT COUNT(*) FROM fila"), "2") << c.statement << "\nSQL Server runs nothing of the batch";
    }
    Run("DELETE FROM fila WHERE id = 3");
  }
  const Outcome e = Run("SELECT id FROM fila WHERE nombre = E'\\'' OR 1=1 --'");
  ASSERT_FALSE(e.descriptions.empty());
  EXPECT_EQ(e.descriptions.front(), "Incorrect syntax near 'E'\\'' OR 1=1 --''.");

  const std::pair<const char*, const char*> values[] = {
      {"SELECT 2 ^ 3", "1"},  // ^ is the exclusive or, not a power
      {"SELECT 3 ^ 5", "6"},
      {"SELECT 2 ^ 3 * 2", "4"},  // * first
      {"SELECT 2 ^ 3 + 1", "2"},  // then + - & ^ | from left to right
      {"SELECT 1 & 2 + 3", "3"},
      {"SELECT 1 & 2 - 3", "-3"},
      {"SELECT 6 | 1 - 2", "5"},
      {"SELECT ~1 + 2", "0"},  // ~ before all
      {"SELECT 1 |-1", "-1"},
      {"SELECT NULL ^ 1", "NULL"},
      {"SELECT id ^ 1 FROM fila WHERE id = 2", "3"},
      {"SELECT 'a'\r\n'b'", "a"},  // the value a in a column named b
      {"SELECT nombre 'n' FROM fila WHERE id = 1", "uno"},
  };
  for (const auto& [statement, value] : values) EXPECT_EQ(One(statement), value) << statement;

  // A string after a column of a select list is the column's name.
  auto rs = db_->Conexion()->Execute("SELECT nombre 'Nom', id AS 'el id', 'x'\r\n'y' FROM fila WHERE id = 1");
  ASSERT_TRUE(rs && rs->IsOpen() && rs->FieldCount() == 3);
  EXPECT_EQ(rs->Fields(0).Name(), "Nom");
  EXPECT_EQ(rs->Fields(1).Name(), "el id");
  EXPECT_EQ(rs->Fields(2).Name(), "y");
  EXPECT_EQ(Cell(rs->Fields(2).Value()), "x");
}

INSTANTIATE_TEST_SUITE_P(Engines, Conformance, ::testing::Values(std::string("sqlite"), std::string("postgresql")),
                         [](const ::testing::TestParamInfo<std::string>& engine) { return engine.param; });

}  // namespace
}  // namespace etapas
