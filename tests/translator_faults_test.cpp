// Inputs that crashed the translator, joined two literals into one, pasted a delimited
// type as bare text, or took the embedded engine's LIKE exponential time: each is run on
// the engine the tests run on, and its translation for both engines is checked.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "components/cls_datos.h"
#include "engine/sql/tsql.h"
#include "db_fixture.h"
#include "test_support.h"

namespace etapas {
namespace {

using engine::sql::Engine;
using engine::sql::SyntaxError;
using engine::sql::Translate;
using test::Exec;
using test::Rows;
using test::Scalar;

constexpr Engine kEngines[] = {Engine::SQLite, Engine::PostgreSQL};

class TranslatorFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
    db = test::Connect("CASA", "EMPRESA1");
    Exec(*db,
         "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
         "('0001','PRESUPUESTO','255','P',' '),('0002','EN REPARACION','','E',' 0001|')");
  }

  // The first error's native number of running `sql`, 0 when it ran.
  long NativeOf(const std::string& sql) {
    db->EjecutarSQL(sql);
    const auto& errors = db->Conexion()->Errors();
    return errors.Count() == 0 ? 0 : errors.Item(0).NativeError;
  }

  test::TempDataRoot root;
  std::unique_ptr<ClsDatos> db;
};

TEST_F(TranslatorFaults, NamesWithAnEmptyPartAreSyntaxErrors) {
  const std::vector<std::string> malformed = {
      "SELECT * FROM dbo.V_TA_ETAPAS..CODIGOESTADO",
      "SELECT * FROM dbo.a..b",
      "SELECT * FROM V_TA_ETAPAS..",
      "SELECT * FROM [dbo]..",
      "SELECT * FROM dbo.V_TA_ETAPAS.",
      "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE V_TA_ETAPAS.CODIGOESTADO = dbo.",
      "SELECT * FROM EMPRESA1...V_TA_ETAPAS",
      "SELECT * FROM dbo.EMPRESA1.dbo..V_TA_ETAPAS",
      "DELETE FROM dbo.V_TA_ETAPAS.;",
      "SELECT * FROM ..",
  };
  for (const auto& sql : malformed) {
    EXPECT_EQ(NativeOf(sql), 102) << sql;
    if (sql.find("FROM ..") == std::string::npos) {
      for (Engine e : kEngines) EXPECT_THROW(Translate(sql, {e, "EMPRESA1"}), SyntaxError) << sql;
    }
  }
  // The forms that name something still do.
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM EMPRESA1..V_TA_ETAPAS"), "2");
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM [EMPRESA1].[dbo].[V_TA_ETAPAS]"), "2");
  EXPECT_EQ(Scalar(*db, "SELECT e.* FROM dbo.V_TA_ETAPAS e WHERE e.CODIGOESTADO = '0002'"), "0002");
  EXPECT_EQ(Scalar(*db, "SELECT dbo.V_TA_ETAPAS.CODIGOESTADO FROM dbo.V_TA_ETAPAS WHERE CODIGOESTADO = '0001'"),
            "0001");
}

TEST_F(TranslatorFaults, AStringRightAfterAStringIsASyntaxError) {
  const std::vector<std::string> joined = {
      "SELECT N'a'N'b'",
      "SELECT 'a'N'b'",
      "SELECT n'a'n'b'",
      "UPDATE V_TA_ETAPAS SET Descripcion = N'X'N'; DROP TABLE V_TA_ETAPAS' WHERE CODIGOESTADO = '0001'",
      "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE Descripcion = 'PRESUPUESTO'N''",
  };
  for (const auto& sql : joined) {
    EXPECT_EQ(NativeOf(sql), 102) << sql;
    for (Engine e : kEngines) EXPECT_THROW(Translate(sql, {e, ""}), SyntaxError) << sql;
    EXPECT_THROW(engine::sql::SplitStatements(sql), SyntaxError) << sql;
  }
  EXPECT_EQ(Scalar(*db, "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'"), "PRESUPUESTO");
  // A doubled quote, with or without N, is one quote inside one literal; blanks keep two apart.
  EXPECT_EQ(Scalar(*db, "SELECT N'a''b'"), "a'b");
  EXPECT_EQ(Scalar(*db, "SELECT 'a''b'"), "a'b");
  EXPECT_EQ(Rows(*db, "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE CODIGOESTADO IN (N'0001',N'0002') ORDER BY 1"),
            (std::vector<std::string>{"0001", "0002"}));
}

TEST_F(TranslatorFaults, DelimitedTypesAreKnownTypesOrRefused) {
  // Known types keep their meaning whether delimited or not.
  Exec(*db, "CREATE TABLE T_TIPOS (C [int] NOT NULL, D [varchar](3) NULL, E [datetime] NULL)");
  Exec(*db, "INSERT INTO T_TIPOS (C, D, E) VALUES (1, 'abc', '2024-01-02 03:04:05')");
  EXPECT_EQ(NativeOf("INSERT INTO T_TIPOS (C, D) VALUES (2, 'abcd')"), 8152);
  EXPECT_EQ(Scalar(*db, "SELECT C FROM T_TIPOS WHERE D = 'ABC '"), "1");
  EXPECT_EQ(Scalar(*db, "SELECT CAST(C AS [varchar](10)) FROM T_TIPOS"), "1");
  EXPECT_EQ(Scalar(*db, "SELECT CAST('12' AS [int]) + 1"), "13");

  // On PostgreSQL a delimited name the translator does not know as a type would be read as
  // one of the engine's own names (its int4, a table's row type) or as bare text.
  for (const std::string sql :
       {"SELECT CAST('12' AS [int4]) + 1", "SELECT CAST(C AS [T_TIPOS]) FROM T_TIPOS", "CREATE TABLE T_OTRA (C [int4])",
        "CREATE TABLE T_OTRA (C [int4) ; --])", "ALTER TABLE T_TIPOS ADD F [int8]"}) {
    EXPECT_THROW(Translate(sql, {Engine::PostgreSQL, ""}), SyntaxError) << sql;
    if (test::OnPostgreSQL()) { EXPECT_EQ(NativeOf(sql), 102) << sql; }
  }
}

TEST_F(TranslatorFaults, LikeTakesLinearTimeInItsSubject) {
  Exec(*db, "CREATE TABLE T_TEXTOS (ID int NOT NULL, TEXTO varchar(200) NULL)");
  const std::string as(60, 'a');
  Exec(*db, "INSERT INTO T_TEXTOS (ID, TEXTO) VALUES (1, '" + as + "'), (2, '" + as + "b')");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Rows(*db, "SELECT ID FROM T_TEXTOS WHERE TEXTO LIKE '%a%a%a%a%a%a%a%a%a%a%a%a%b'"),
            (std::vector<std::string>{"2"}));
  EXPECT_EQ(Rows(*db, "SELECT ID FROM T_TEXTOS WHERE TEXTO LIKE '%a%_%a%[a]%a%a%[^b]%a%a%a%a%a%a%c%'"),
            std::vector<std::string>{});
  EXPECT_EQ(Rows(*db, "SELECT ID FROM T_TEXTOS WHERE TEXTO NOT LIKE '%A%A%A%A%A%A%A%A%A%A%A%A%B' ORDER BY ID"),
            (std::vector<std::string>{"1"}));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0);

  // The rules it keeps: letter case ignored, sets, ranges, negation, escape.
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  } cases[] = {
      {"Reparado", "rep%", true},
      {"Reparado", "%ADO", true},
      {"Reparado", "R_p%", true},
      {"Reparado", "[pqr]%", true},
      {"Reparado", "[^r]%", false},
      {"Reparado", "[a-s]eparad[o]", true},
      {"50%", "50!%", true},
      {"500", "50!%", false},
      {"a_b", "a!_b", true},
      {"axb", "a!_b", false},
      {"abc", "%b", false},
      {"", "%", true},
      {"", "_", false},
      {"abcbc", "%bc", true},
      {"aab", "%ab", true},
      {"[x]", "[[]x]", true},
      {"mississippi", "%iss%ipp%", true},
      {"mississippi", "m%ss%ss%", true},
      {"mississippi", "m%ss%ss%ss%", false},
  };
  for (const auto& c : cases) {
    const std::string escape = std::string(c.pattern).find('!') != std::string::npos ? " ESCAPE '!'" : "";
    const std::string sql =
        std::string("SELECT CASE WHEN '") + c.text + "' LIKE '" + c.pattern + "'" + escape + " THEN 1 ELSE 0 END";
    EXPECT_EQ(Scalar(*db, sql), c.match ? "1" : "0") << c.text << " LIKE " << c.pattern;
  }
}

}  // namespace
}  // namespace etapas

namespace etapas {
namespace {

// The engines read a statement as a C string: a NUL inside a comment, a literal or a name
// would silently cut the statement there (a DELETE would lose its WHERE). Such text is
// refused whole, and nothing is deleted.
TEST_F(TranslatorFaults, ANulCharacterIsRefusedNotACutStatement) {
  using namespace std::string_literals;
  const std::vector<std::string> cortadas = {
      "DELETE FROM V_TA_ETAPAS --x\0\nWHERE CODIGOESTADO = '0001'"s,
      "SELECT * FROM [EM\0PRESA1].dbo.V_TA_ETAPAS"s,
      "DELETE FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0\0' OR CODIGOESTADO = '0001'"s,
  };
  for (const auto& sql : cortadas) {
    for (Engine e : kEngines) EXPECT_THROW(Translate(sql, {e, "EMPRESA1"}), SyntaxError) << static_cast<int>(e);
    EXPECT_EQ(NativeOf(sql), 102);
  }
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "2");
}

// What the translator adds next to a quoted piece must not fuse with the quoted piece that
// follows ('' then '%x%' would read as one literal holding a quote).
TEST_F(TranslatorFaults, QuotedPiecesSideBySideStayApart) {
  const auto pg = Translate("SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE Descripcion LIKE Descripcion'%x%'",
                            {Engine::PostgreSQL, "EMPRESA1"});
  EXPECT_EQ(pg.sql.find("'''%x%'"), std::string::npos) << pg.sql;
  for (Engine e : kEngines) {
    const auto names = Translate("SELECT [a][b] FROM V_TA_ETAPAS", {e, "EMPRESA1"});
    EXPECT_EQ(names.sql.find("\"a\"\"b\""), std::string::npos) << names.sql;
  }
}

// A ";" inside the line comment that ends a CREATE TABLE is the comment's: the column
// comments the PostgreSQL translation adds must still be statements of their own.
TEST_F(TranslatorFaults, TheAddedCommentsNeverJoinAStatementEndingInAComment) {
  const auto pg = Translate("CREATE TABLE T (A int -- the last column);", {Engine::PostgreSQL, "EMPRESA1"});
  EXPECT_EQ(pg.sql.find("COMMENT ON"), std::string::npos) << pg.sql;
  ASSERT_FALSE(pg.then.empty());
  for (const auto& comment : pg.then) EXPECT_EQ(comment.rfind("COMMENT ON TABLE \"t\" IS ", 0), 0u) << comment;
}

// What the translator appends after a statement (LIMIT for TOP) must never land after a ";"
// that the splitter kept inside parentheses, as a statement of its own.
TEST_F(TranslatorFaults, ASemicolonInsideParenthesesIsASyntaxError) {
  for (Engine e : kEngines)
    EXPECT_THROW(Translate("DELETE V_TA_ETAPAS WHERE CODIGOESTADO IN (SELECT TOP (2) CODIGOESTADO FROM V_TA_ETAPAS;",
                           {e, "EMPRESA1"}),
                 SyntaxError);
}

}  // namespace
}  // namespace etapas
