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
#include "fuzz/pg_tokens.h"
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
  // A string after an expression, outside a select list, is a syntax error of T-SQL's.
  const std::string like = "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE Descripcion LIKE Descripcion'%x%'";
  EXPECT_EQ(NativeOf(like), 102);
  for (Engine e : kEngines) {
    EXPECT_THROW(Translate(like, {e, "EMPRESA1"}), SyntaxError);
    const auto names = Translate("SELECT [a][b] FROM V_TA_ETAPAS", {e, "EMPRESA1"});
    EXPECT_EQ(names.sql.find("\"a\"\"b\""), std::string::npos) << names.sql;
  }
}

// Forms of PostgreSQL and of the embedded engine that T-SQL reads otherwise, or not at all:
// refused on both engines before anything is translated, as SQL Server refuses them.
TEST_F(TranslatorFaults, FormsOfOtherDialectsAreSyntaxErrors) {
  const std::vector<std::string> refused = {
      "SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = E'\\'' OR 1=1 --'",
      "SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = e'x'",
      "SELECT $$0001$$",
      "SELECT $t$0001$t$",
      "SELECT $1",
      "SELECT U&'d\\0061t'",
      "SELECT U&\"x\" FROM V_TA_ETAPAS",
      "SELECT B'101'",
      "SELECT x'41'",
      "SELECT CODIGOESTADO::int FROM V_TA_ETAPAS",
      "SELECT :p",
      "SELECT ?",
      "SELECT `CODIGOESTADO` FROM V_TA_ETAPAS",
      "SELECT @ -1",
      "SELECT 1 FROM V_TA_ETAPAS WHERE Descripcion ~ 'P'",
      "SELECT 1 FROM V_TA_ETAPAS WHERE Descripcion ~* 'p'",
      "SELECT 1 FROM V_TA_ETAPAS WHERE Descripcion = text 'x'",
      "SELECT 1 FROM V_TA_ETAPAS WHERE Descripcion = 'PRESU'\n'PUESTO'",
      "SELECT ^ 2",
      "CREATE TABLE T (a decimal(10 2))",
      "CREATE TABLE T (a varchar(4 -1))",
      "CREATE TABLE T (a varchar(x))",
      "CREATE TABLE T (a varchar(1.5))",
      "CREATE TABLE T (a numeric(1,2,3))",
      "CREATE TABLE T (a varchar())",
      "CREATE TABLE T (a int IDENTITY(1//,1))",
      "ALTER TABLE V_TA_ETAPAS ADD a decimal(10 2) NULL",
      "SELECT CAST(Color AS varchar(4 -1)) FROM V_TA_ETAPAS",
      "SELECT CONVERT(decimal(10 2), Color) FROM V_TA_ETAPAS",
  };
  for (const auto& sql : refused) {
    EXPECT_EQ(NativeOf(sql), 102) << sql;
    for (Engine e : kEngines) EXPECT_THROW(Translate(sql, {e, "EMPRESA1"}), SyntaxError) << sql;
  }
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "2");
  // Variables: nothing declares or binds them (the embedded engine would read Null,
  // PostgreSQL the absolute value of a column).
  EXPECT_EQ(NativeOf("SELECT @x"), 137);
  EXPECT_EQ(NativeOf("SELECT @@ROWCOUNT"), 40000);
  EXPECT_EQ(NativeOf("DECLARE @x int"), 40000);
  // What stays: the forms the system writes.
  EXPECT_EQ(Scalar(*db, "SELECT CODIGOESTADO 'c' FROM @admin_V_TA_ETAPAS WHERE Tipo = 'E'"), "0002");
  EXPECT_EQ(Scalar(*db, "SELECT TOP 1 'x' FROM V_TA_ETAPAS"), "x");
  EXPECT_EQ(Scalar(*db, "SELECT CAST(Color AS varchar(10)) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'"), "255");
}

// What the fuzzer's oracle takes for PostgreSQL's reading of a translation.
TEST(PgTokens, ReadAsPostgreSqlReads) {
  namespace pg = test::pg;
  auto read = [](const std::string& text) {
    std::string out;
    for (const auto& t : pg::Tokenize(text))
      if (pg::Significant(t))
        out += (out.empty() ? "" : " ") + std::to_string(static_cast<int>(t.kind)) + ":" + t.value;
    return out;
  };
  auto kind = [](pg::Kind k) { return std::to_string(static_cast<int>(k)) + ":"; };
  // The string ends before OR, and the last quote is in a comment.
  EXPECT_EQ(read("C = E'\\'' OR 1=1 --'"), kind(pg::Kind::Name) + "C " + kind(pg::Kind::Self) + "= " +
                                               kind(pg::Kind::EscapeString) + "' " + kind(pg::Kind::Name) + "OR " +
                                               kind(pg::Kind::Number) + "1 " + kind(pg::Kind::Self) + "= " +
                                               kind(pg::Kind::Number) + "1");
  EXPECT_EQ(read("'a'\n'b'"), kind(pg::Kind::String) + "ab");  // one literal across the line break
  EXPECT_EQ(read("'a' 'b'"), kind(pg::Kind::String) + "a " + kind(pg::Kind::String) + "b");
  EXPECT_EQ(read("/* a /* b */ c */ 1"), kind(pg::Kind::Number) + "1");
  EXPECT_EQ(read("1|-1"),
            kind(pg::Kind::Number) + "1 " + kind(pg::Kind::Operator) + "|- " + kind(pg::Kind::Number) + "1");
  EXPECT_EQ(read("a=-1"), kind(pg::Kind::Name) + "a " + kind(pg::Kind::Self) + "= " + kind(pg::Kind::Self) + "- " +
                              kind(pg::Kind::Number) + "1");
  EXPECT_EQ(read("$$x$$ $1 a::b U&'x' X'41'"), kind(pg::Kind::DollarString) + "x " + kind(pg::Kind::Parameter) + "$1 " +
                                                   kind(pg::Kind::Name) + "a " + kind(pg::Kind::Cast) +
                                                   ":: " + kind(pg::Kind::Name) + "b " + kind(pg::Kind::UnicodeString) +
                                                   "x " + kind(pg::Kind::BitString) + "41");
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
