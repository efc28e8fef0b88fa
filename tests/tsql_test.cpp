#include "engine/sql/tsql.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/sqlite/text_rules.h"

namespace etapas::engine::sql {
namespace {

using Strings = std::vector<std::string>;

std::string ToSqlite(std::string_view tsql, std::string own = "EMPRESA1") {
  return Translate(tsql, {Engine::SQLite, std::move(own)}).sql;
}

// Non-blank tokens as "kind:value", kinds abbreviated: W word, Q quoted name, T string,
// N number, V variable, S symbol, C comment.
std::string Kinds(std::string_view text) {
  std::string out;
  for (const Token& t : Tokenize(text)) {
    if (t.kind == TokenKind::Space) continue;
    out += out.empty() ? "" : " ";
    out += "WQTNVS-C"[static_cast<int>(t.kind)];
    out += ":" + t.value;
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Tokenize

TEST(TokenizeTest, TokensCoverTheTextExactly) {
  const std::string text =
      "SELECT  TOP 1 [a]]b], \"c\"\"d\", N'it''s' --x\r/* y */ FROM t WITH(NOLOCK) WHERE x<>@p AND @@ROWCOUNT>=0.5;\n";
  std::string joined;
  for (const Token& t : Tokenize(text)) joined += t.text;
  EXPECT_EQ(joined, text);
}

TEST(TokenizeTest, StringsAndDelimitedNames) {
  using K = TokenKind;
  const auto toks = Tokenize("'it''s' N'año' n'' [NUMERO ASIENTO] [a]]b] \"x\"\"y\" 'a;b\rc'");
  ASSERT_EQ(toks.size(), 13u);
  EXPECT_EQ(toks[0].kind, K::String);
  EXPECT_EQ(toks[0].text, "'it''s'");
  EXPECT_EQ(toks[0].value, "it's");
  EXPECT_EQ(toks[2].kind, K::String);
  EXPECT_EQ(toks[2].text, "N'año'");
  EXPECT_EQ(toks[2].value, "año");
  EXPECT_EQ(toks[4].text, "n''");
  EXPECT_EQ(toks[4].value, "");
  EXPECT_EQ(toks[6].kind, K::QuotedName);
  EXPECT_EQ(toks[6].value, "NUMERO ASIENTO");
  EXPECT_EQ(toks[8].value, "a]b");
  EXPECT_EQ(toks[10].kind, K::QuotedName);
  EXPECT_EQ(toks[10].value, "x\"y");
  EXPECT_EQ(toks[12].value, "a;b\rc");
}

TEST(TokenizeTest, VariablesNumbersWordsAndSymbols) {
  EXPECT_EQ(Kinds("FROM @admin_MA_CUENTAS WHERE @@ROWCOUNT = @p1"),
            "W:FROM V:@admin_MA_CUENTAS W:WHERE V:@@ROWCOUNT S:= V:@p1");
  EXPECT_EQ(Kinds("12 3.5 1e3 1.5E-3 0x1F .5 7e"), "N:12 N:3.5 N:1e3 N:1.5E-3 N:0x1F N:.5 N:7 W:e");
  EXPECT_EQ(Kinds("#tmp _x A$B AÑO db..t t.c"), "W:#tmp W:_x W:A$B W:AÑO W:db S:. S:. W:t W:t S:. W:c");
  EXPECT_EQ(Kinds("a<>b<=c>=d!=e||f::g<h @"), "W:a S:<> W:b S:<= W:c S:>= W:d S:!= W:e S:|| W:f S::: W:g S:< W:h S:@");
  EXPECT_EQ(Kinds("N'x' [y] \"z\" -- c"), "T:x Q:y Q:z C:-- c");
}

TEST(TokenizeTest, CommentsAndBlanks) {
  using K = TokenKind;
  const auto toks = Tokenize("-- a\rSELECT/* x /* nested */ y */1\t\r\n");
  ASSERT_EQ(toks.size(), 6u);
  EXPECT_EQ(toks[0].kind, K::Comment);
  EXPECT_EQ(toks[0].text, "-- a");  // a lone CR ends the line
  EXPECT_EQ(toks[1].kind, K::Space);
  EXPECT_EQ(toks[3].kind, K::Comment);
  EXPECT_EQ(toks[3].text, "/* x /* nested */ y */");
  EXPECT_EQ(toks[4].kind, K::Number);
  EXPECT_EQ(toks[5].text, "\t\r\n");
}

TEST(TokenizeTest, UnterminatedLiteralsAreSyntaxErrors) {
  for (const char* text : {"SELECT 'abc", "SELECT N'abc", "SELECT 'it''", "SELECT [abc", "SELECT [a]]", "SELECT \"abc",
                           "SELECT 1 /* abc", "SELECT 1 /* a /* b */", "SELECT 1 /*"}) {
    EXPECT_THROW(Tokenize(text), SyntaxError) << text;
  }
  EXPECT_NO_THROW(Tokenize("SELECT 1 -- no end of line"));
}

// ---------------------------------------------------------------------------------------
// SplitStatements

TEST(SplitStatementsTest, StatementsSeparatedOnlyByCarriageReturns) {
  EXPECT_EQ(
      SplitStatements("BEGIN TRANSACTION \r\r\rINSERT INTO T (a) VALUES ('x')\rUPDATE T SET a = 'y' WHERE b = 1\r"),
      (Strings{"BEGIN TRANSACTION", "INSERT INTO T (a) VALUES ('x')", "UPDATE T SET a = 'y' WHERE b = 1"}));
  EXPECT_EQ(SplitStatements("BEGIN TRANSACTION \r\r\rINSERT INTO Control_Acceso "
                            "(Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) VALUES "
                            "('PC1','SA','ETAPAS','','14/05/24 10:31','sa')\r"),
            (Strings{"BEGIN TRANSACTION",
                     "INSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) "
                     "VALUES ('PC1','SA','ETAPAS','','14/05/24 10:31','sa')"}));
  EXPECT_EQ(SplitStatements("COMMIT TRANSACTION\rBEGIN TRAN\rTRUNCATE TABLE t\rrollback\rUSE db\rSELECT 1"),
            (Strings{"COMMIT TRANSACTION", "BEGIN TRAN", "TRUNCATE TABLE t", "rollback", "USE db", "SELECT 1"}));
}

TEST(SplitStatementsTest, SemicolonsAndGoLines) {
  EXPECT_EQ(SplitStatements("SELECT 1; SELECT 2;\nGO\nselect 3\r\n  go  \r\nSELECT 4\rGo -- done\rSELECT 5\ngo"),
            (Strings{"SELECT 1", "SELECT 2", "select 3", "SELECT 4", "SELECT 5"}));
  // GO separates only on a line of its own.
  EXPECT_EQ(SplitStatements("SELECT 1 AS go\nFROM t"), (Strings{"SELECT 1 AS go\nFROM t"}));
}

TEST(SplitStatementsTest, SeparatorsInsideLiteralsAndCommentsDoNotSplit) {
  EXPECT_EQ(SplitStatements("INSERT INTO t (a) VALUES ('x;y\rSELECT ''z'';')\r"
                            "SELECT [a;b SELECT], \"GO\" FROM t -- ; DELETE t\r/* ; UPDATE t\rGO\r */"),
            (Strings{"INSERT INTO t (a) VALUES ('x;y\rSELECT ''z'';')",
                     "SELECT [a;b SELECT], \"GO\" FROM t -- ; DELETE t\r/* ; UPDATE t\rGO\r */"}));
  EXPECT_EQ(SplitStatements("SELECT (1;2)"), (Strings{"SELECT (1;2)"}));
}

TEST(SplitStatementsTest, ClausesThatLookLikeStatementsStayInTheirStatement) {
  for (const char* text : {
           "SELECT * FROM t WITH(NOLOCK) WHERE a = 1",
           "SELECT * FROM t WITH (NOLOCK)\rWHERE a = 1",
           "SELECT  top 1 * FROM V_TA_ETAPAS WITH(NOLOCK)",
           "INSERT INTO t (a) SELECT b FROM u",
           "INSERT INTO t (a)\rEXEC p",
           "INSERT INTO t WITH (TABLOCK) (a)\rSELECT b FROM u",
           "UPDATE t SET a = 1",
           "UPDATE t WITH (ROWLOCK)\rSET a = (SELECT MAX(b) FROM u)",
           "WITH c AS (SELECT 1 AS x) SELECT x FROM c",
           "WITH c (x) AS (SELECT 1), d AS (SELECT 2 AS y)\rINSERT INTO t (a)\rSELECT x FROM c, d",
           "WITH c AS (SELECT 1 AS x)\rUPDATE t SET a = 1\rWHERE a IN (SELECT x FROM c)",
           "SELECT a FROM t UNION ALL SELECT b FROM u EXCEPT SELECT c FROM v INTERSECT SELECT d FROM w",
           "CREATE TABLE c (id int, p int REFERENCES p (id) ON DELETE CASCADE ON UPDATE SET NULL)",
           "ALTER TABLE c ADD CONSTRAINT fk FOREIGN KEY (p) REFERENCES p (id) ON DELETE SET NULL",
           "ALTER TABLE c DROP COLUMN x",
           "ALTER TABLE c ALTER COLUMN x int",
           "ALTER DATABASE db SET RECOVERY SIMPLE",
           "CREATE VIEW v AS\rSELECT a FROM t",
           "DECLARE c CURSOR FOR SELECT a FROM t FOR UPDATE",
           "BEGIN TRANSACTION Carga",
           "COMMIT WORK",
           "INSERT OR REPLACE INTO t (a) VALUES (1)",
           "INSERT INTO t (a) VALUES (1) ON CONFLICT (a) DO UPDATE SET b = 2",
           "GRANT SELECT, INSERT, UPDATE, DELETE ON t TO u",
           "SELECT TOP 1 a FROM t ORDER BY a DESC",
       }) {
    EXPECT_EQ(SplitStatements(text), (Strings{text}));
  }
}

TEST(SplitStatementsTest, NewStatementStartsWithoutSeparator) {
  EXPECT_EQ(SplitStatements("UPDATE t SET a = 1 WHERE b = 2\rSET NOCOUNT ON"),
            (Strings{"UPDATE t SET a = 1 WHERE b = 2", "SET NOCOUNT ON"}));
  EXPECT_EQ(SplitStatements("INSERT INTO t (a) SELECT b FROM u\rSELECT * FROM t"),
            (Strings{"INSERT INTO t (a) SELECT b FROM u", "SELECT * FROM t"}));
  EXPECT_EQ(SplitStatements("WITH c AS (SELECT 1 AS x) SELECT x FROM c\rSELECT 2"),
            (Strings{"WITH c AS (SELECT 1 AS x) SELECT x FROM c", "SELECT 2"}));
  EXPECT_EQ(SplitStatements("SELECT 1\rWITH c AS (SELECT 2 AS y) SELECT y FROM c"),
            (Strings{"SELECT 1", "WITH c AS (SELECT 2 AS y) SELECT y FROM c"}));
  EXPECT_EQ(SplitStatements("DECLARE @x int\rSET @x = 1\rSELECT @x"),
            (Strings{"DECLARE @x int", "SET @x = 1", "SELECT @x"}));
  EXPECT_EQ(SplitStatements("ALTER TABLE t ADD c int\rDROP TABLE u\rCREATE TABLE v (a int)"),
            (Strings{"ALTER TABLE t ADD c int", "DROP TABLE u", "CREATE TABLE v (a int)"}));
  EXPECT_EQ(SplitStatements("DELETE t WHERE a = 1\rDELETE u\rEXEC p 1\rEXECUTE q\rMERGE INTO t USING u ON 1 = 1"),
            (Strings{"DELETE t WHERE a = 1", "DELETE u", "EXEC p 1", "EXECUTE q", "MERGE INTO t USING u ON 1 = 1"}));
  EXPECT_EQ(SplitStatements("INSERT INTO t (a) VALUES (1) INSERT INTO t (a) VALUES (2)"),
            (Strings{"INSERT INTO t (a) VALUES (1)", "INSERT INTO t (a) VALUES (2)"}));
}

TEST(SplitStatementsTest, TriggerBodiesStayWhole) {
  const std::string sqliteTrigger =
      "CREATE TRIGGER tr AFTER UPDATE OF a ON t FOR EACH ROW WHEN new.a <> old.a BEGIN\n"
      "  UPDATE t SET b = CASE WHEN new.a > 0 THEN 1 ELSE 0 END WHERE id = new.id;\n"
      "  INSERT INTO log (id) VALUES (new.id);\n"
      "  DELETE FROM q WHERE id = old.id;\n"
      "END";
  EXPECT_EQ(SplitStatements(sqliteTrigger + ";\rINSERT INTO t (a) VALUES (1)\rSELECT 1"),
            (Strings{sqliteTrigger, "INSERT INTO t (a) VALUES (1)", "SELECT 1"}));
  // A T-SQL routine body runs to the end of the batch.
  const std::string tsqlTrigger =
      "CREATE TRIGGER tr ON t AFTER INSERT, DELETE AS\r"
      "BEGIN\r  SET NOCOUNT ON;\r  BEGIN TRAN\r  UPDATE u SET a = 1\r  COMMIT\rEND\r"
      "INSERT INTO l VALUES (1)";
  EXPECT_EQ(SplitStatements(tsqlTrigger + "\rGO\rSELECT 1"), (Strings{tsqlTrigger, "SELECT 1"}));
}

TEST(SplitStatementsTest, EmptyAndCommentOnlyStatementsAreDropped) {
  EXPECT_TRUE(SplitStatements("").empty());
  EXPECT_TRUE(SplitStatements(";;\r\n  ;  -- nothing\r\nGO\r\n/* x */").empty());
  EXPECT_EQ(SplitStatements("\r\n  SELECT 1  ;  \r\n"), (Strings{"SELECT 1"}));
  EXPECT_THROW(SplitStatements("SELECT 'x\rSELECT 2"), SyntaxError);
}

// ---------------------------------------------------------------------------------------
// Translate

struct Case {
  const char* tsql;
  const char* sql;
};

TEST(TranslateTest, StatementsOfTheSystem) {
  const Case cases[] = {
      {"SELECT  top 1 * FROM V_TA_ETAPAS WITH(NOLOCK) ", "SELECT * FROM V_TA_ETAPAS LIMIT 1"},
      {"SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS WHERE CODIGOESTADO<>'0013'",
       "SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS WHERE CODIGOESTADO<>'0013'"},
      {"select * from V_TA_ETAPAS where CODIGOESTADO = '0013'",
       "select * from V_TA_ETAPAS where CODIGOESTADO = '0013'"},
      {"DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0013'", "DELETE FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"},
      {"SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO",
       "SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO"},
      {"SELECT TA_TAREAS.USUARIO, TA_MENU.Proceso, TA_MENU.Clave , TA_MENU.Nombre  FROM TA_TAREAS  with(nolock) "
       "INNER JOIN TA_MENU ON TA_TAREAS.TAREA = TA_MENU.Clave  WHERE (TA_TAREAS.USUARIO = 'sa ') AND "
       "(TA_MENU.Proceso LIKE '%etapas%')",
       "SELECT TA_TAREAS.USUARIO, TA_MENU.Proceso, TA_MENU.Clave , TA_MENU.Nombre  FROM TA_TAREAS "
       "INNER JOIN TA_MENU ON TA_TAREAS.TAREA = TA_MENU.Clave  WHERE (TA_TAREAS.USUARIO = 'sa ') AND "
       "(TA_MENU.Proceso LIKE '%etapas%')"},
      {"INSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) VALUES "
       "('PC1','SA','ETAPAS','','14/05/24 10:31','sa')",
       "INSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) VALUES "
       "('PC1','SA','ETAPAS','','14/05/24 10:31','sa')"},
      {"select  top 1 * from AUX_ERR  with(nolock)", "select * from AUX_ERR LIMIT 1"},
      {"UPDATE Control_Acceso SET Tarea = 'x'  WHERE Id = 1", "UPDATE Control_Acceso SET Tarea = 'x'  WHERE Id = 1"},
      {"SELECT VALOR, valoraux FROM TA_CONFIGURACION with(nolock)  WHERE CLAVE = 'THEME'",
       "SELECT VALOR, valoraux FROM TA_CONFIGURACION  WHERE CLAVE = 'THEME'"},
      {"SELECT * FROM ta_configuracion with(nolock)  WHERE CLAVE = 'TimeOut'",
       "SELECT * FROM ta_configuracion  WHERE CLAVE = 'TimeOut'"},
      {"Select * from ta_usuarios  with(nolock)  where Nombre = 'sa'",
       "Select * from ta_usuarios  where Nombre = 'sa'"},
      {"select  getDate() as fecha", "select  tsql_getdate() as fecha"},
      {"SELECT * FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO",
       "SELECT * FROM V_TA_TPV  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO"},
      {"UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '0002'",
       "UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '0002'"},
      {"UPDATE V_TA_TPV SET CONECTADO = 0, ULTIMA_DETECCION = '2024-05-14 10:31:07' WHERE CODIGO = '0002'",
       "UPDATE V_TA_TPV SET CONECTADO = 0, ULTIMA_DETECCION = '2024-05-14 10:31:07' WHERE CODIGO = '0002'"},
      {"UPDATE V_TA_TPV SET PEND_ARTICULOS = 1,PEND_PRECIOS = 1 WHERE CODIGO = '0002'",
       "UPDATE V_TA_TPV SET PEND_ARTICULOS = 1,PEND_PRECIOS = 1 WHERE CODIGO = '0002'"},
      {"SELECT * FROM @admin_MA_CUENTAS WHERE codigo = '1'", "SELECT * FROM \"MA_CUENTAS\" WHERE codigo = '1'"},
      {"SELECT CODIGOESTADO,DESCRIPCION FROM [EMPRESA1].DBO.V_TA_ETAPAS WHERE CODIGOESTADO = '0013'",
       "SELECT CODIGOESTADO,DESCRIPCION FROM \"V_TA_ETAPAS\" WHERE CODIGOESTADO = '0013'"},
      {"INSERT INTO V_TA_ETAPAS(CODIGOESTADO,DESCRIPCION)  VALUES ('0013','EN REPARACION')",
       "INSERT INTO V_TA_ETAPAS(CODIGOESTADO,DESCRIPCION)  VALUES ('0013','EN REPARACION')"},
      {"UPDATE V_TA_ETAPAS SET DESCRIPCION='EN REPARACION'  , Color='255'   WHERE CODIGOESTADO = '0013'",
       "UPDATE V_TA_ETAPAS SET DESCRIPCION='EN REPARACION'  , Color='255'   WHERE CODIGOESTADO = '0013'"},
      {"SELECT * FROM  V_TA_ETAPAS WHERE CODIGOESTADO = '0013'",
       "SELECT * FROM  V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"},
      {"UPDATE MV_ASIENTOS SET [NUMERO ASIENTO]=5  WHERE CUENTA = '1'",
       "UPDATE MV_ASIENTOS SET \"NUMERO ASIENTO\"=5  WHERE CUENTA = '1'"},
      {"SELECT * FROM V_TA_ETAPAS", "SELECT * FROM V_TA_ETAPAS"},
      {"Select TOP 1 * from Control_Acceso  with(nolock)", "Select * from Control_Acceso LIMIT 1"},
  };
  for (const Case& c : cases) {
    const Translation t = Translate(c.tsql, {Engine::SQLite, "EMPRESA1"});
    EXPECT_EQ(t.sql, c.sql);
    const bool query = std::toupper(static_cast<unsigned char>(c.tsql[0])) == 'S';
    EXPECT_EQ(t.kind, query ? StatementKind::Query : StatementKind::Other) << c.tsql;
    EXPECT_TRUE(t.otherDatabases.empty()) << c.tsql;
  }
}

TEST(TranslateTest, TransactionStatements) {
  const std::pair<const char*, StatementKind> cases[] = {
      {"BEGIN TRAN", StatementKind::Begin},
      {"begin transaction Carga", StatementKind::Begin},
      {"BEGIN TRANSACTION", StatementKind::Begin},
      {"BEGIN", StatementKind::Begin},
      {"COMMIT", StatementKind::Commit},
      {"commit tran", StatementKind::Commit},
      {"COMMIT TRANSACTION Carga;", StatementKind::Commit},
      {"COMMIT WORK", StatementKind::Commit},
      {"ROLLBACK", StatementKind::Rollback},
      {"ROLLBACK TRANSACTION", StatementKind::Rollback},
      {"rollback work", StatementKind::Rollback},
  };
  for (const auto& [tsql, kind] : cases) {
    const Translation t = Translate(tsql, {});
    EXPECT_EQ(t.kind, kind) << tsql;
    EXPECT_EQ(t.sql, kind == StatementKind::Begin    ? "BEGIN TRANSACTION"
                     : kind == StatementKind::Commit ? "COMMIT TRANSACTION"
                                                     : "ROLLBACK TRANSACTION");
  }
  EXPECT_EQ(Translate("BEGIN TRY", {}).kind, StatementKind::Other);
}

TEST(TranslateTest, DatabaseStatementsCarryOnlyTheName) {
  const struct {
    const char* tsql;
    StatementKind kind;
    const char* name;
  } cases[] = {
      {"CREATE DATABASE [Empresa 2]", StatementKind::CreateDatabase, "Empresa 2"},
      {"create database EMPRESA1", StatementKind::CreateDatabase, "EMPRESA1"},
      {"DROP DATABASE \"X\"", StatementKind::DropDatabase, "X"},
      {"DROP DATABASE IF EXISTS x", StatementKind::DropDatabase, "x"},
      {"USE EMPRESA1", StatementKind::Use, "EMPRESA1"},
      {"use [a]]b];", StatementKind::Use, "a]b"},
  };
  for (const auto& c : cases) {
    const Translation t = Translate(c.tsql, {});
    EXPECT_EQ(t.kind, c.kind) << c.tsql;
    EXPECT_EQ(t.databaseName, c.name);
    EXPECT_EQ(t.sql, "");
  }
  EXPECT_THROW(Translate("USE", {}), SyntaxError);
  EXPECT_THROW(Translate("CREATE DATABASE 'x'", {}), SyntaxError);
}

TEST(TranslateTest, SessionOptionsTranslateToNothing) {
  for (const char* tsql : {"SET NOCOUNT ON", "SET ANSI_NULLS OFF", "set transaction isolation level read uncommitted",
                           "SET DATEFORMAT dmy", "SET XACT_ABORT ON;"}) {
    const Translation t = Translate(tsql, {});
    EXPECT_EQ(t.sql, "") << tsql;
    EXPECT_EQ(t.kind, StatementKind::Other);
  }
  // Not an option: nothing declares or binds variables.
  EXPECT_THROW(ToSqlite("SET @x = 1"), SyntaxError);
  EXPECT_EQ(ToSqlite("  -- nothing\r\n"), "");
}

TEST(TranslateTest, TopBecomesLimitAtTheEndOfItsSelect) {
  const Case cases[] = {
      {"SELECT TOP 5 a FROM t ORDER BY a", "SELECT a FROM t ORDER BY a LIMIT 5"},
      {"select distinct top (3) a from t", "select distinct a from t LIMIT 3"},
      {"SELECT ALL TOP(2)a FROM t", "SELECT ALL a FROM t LIMIT 2"},
      {"SELECT TOP (1 + 1) a FROM t", "SELECT a FROM t LIMIT (tsql_add(1, 1))"},  // moved as translated
      {"SELECT TOP (2 ^ 1) a FROM t", "SELECT a FROM t LIMIT (tsql_xor(2, 1))"},
      {"SELECT TOP (1) +a FROM t", "SELECT +a FROM t LIMIT 1"},  // a sign, not a sum with the count
      {"SELECT TOP 1 -a + b FROM t", "SELECT tsql_add(-a, b) FROM t LIMIT 1"},
      {"SELECT a FROM t WHERE b IN (SELECT TOP 1 b FROM u ORDER BY c) ORDER BY a",
       "SELECT a FROM t WHERE b IN (SELECT b FROM u ORDER BY c LIMIT 1) ORDER BY a"},
      {"SELECT TOP 2 a, (SELECT TOP 1 x FROM u WHERE u.k = t.k) FROM t",
       "SELECT a, (SELECT x FROM u WHERE u.k = t.k LIMIT 1) FROM t LIMIT 2"},
      {"WITH c AS (SELECT TOP 3 a FROM t) SELECT a FROM c", "WITH c AS (SELECT a FROM t LIMIT 3) SELECT a FROM c"},
      {"INSERT INTO u (a) SELECT TOP 4 a FROM t", "INSERT INTO u (a) SELECT a FROM t LIMIT 4"},
      {"SELECT TOP 1 a FROM t -- last one\r", "SELECT a FROM t LIMIT 1 -- last one"},
      {"SELECT TOP 1 a FROM t;", "SELECT a FROM t LIMIT 1;"},
      {"SELECT 'TOP 1' AS [top]", "SELECT 'TOP 1' AS \"top\""},
      // Nothing in the engine matches these; they are left for it to reject.
      {"SELECT TOP 10 PERCENT a FROM t", "SELECT TOP 10 PERCENT a FROM t"},
      {"SELECT TOP 1 WITH TIES a FROM t ORDER BY a", "SELECT TOP 1 WITH TIES a FROM t ORDER BY a"},
      {"SELECT TOP 3 a FROM t UNION SELECT b FROM u", "SELECT TOP 3 a FROM t UNION SELECT b FROM u"},
      {"SELECT a FROM t UNION ALL SELECT TOP 3 b FROM u", "SELECT a FROM t UNION ALL SELECT TOP 3 b FROM u"},
      {"SELECT a FROM t UNION SELECT b FROM u WHERE b IN (SELECT TOP 1 c FROM v)",
       "SELECT a FROM t UNION SELECT b FROM u WHERE b IN (SELECT c FROM v LIMIT 1)"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToSqlite(c.tsql), c.sql) << c.tsql;
}

TEST(TranslateTest, TableHintsAreRemoved) {
  const Case cases[] = {
      {"SELECT * FROM t with(nolock) WHERE a = 1", "SELECT * FROM t WHERE a = 1"},
      {"SELECT * FROM t WITH (NOLOCK)\rWHERE a = 1", "SELECT * FROM t\rWHERE a = 1"},
      {"SELECT * FROM t With ( NoLock , RowLock ) JOIN u WITH(UPDLOCK,HOLDLOCK) ON t.a = u.a",
       "SELECT * FROM t JOIN u ON t.a = u.a"},
      {"SELECT * FROM t (NOLOCK) WHERE a = 1", "SELECT * FROM t WHERE a = 1"},
      {"SELECT * FROM [t](nolock)WHERE a = 1", "SELECT * FROM \"t\" WHERE a = 1"},
      {"UPDATE t WITH (ROWLOCK) SET a = 1", "UPDATE t SET a = 1"},
      {"SELECT * FROM t WITH(NOLOCK)", "SELECT * FROM t"},
      {"SELECT * FROM t AS a (NOLOCK), u b (NOLOCK) WHERE a.x = b.x", "SELECT * FROM t AS a, u b WHERE a.x = b.x"},
      // Not hints: an unknown option, a call whose argument is named like a hint, a CTE.
      {"SELECT * FROM t WITH (FOO)", "SELECT * FROM t WITH (FOO)"},
      {"SELECT f(nolock), g (rowlock) FROM t", "SELECT f(nolock), g (rowlock) FROM t"},
      {"WITH nolock AS (SELECT 1 AS a) SELECT a FROM nolock", "WITH nolock AS (SELECT 1 AS a) SELECT a FROM nolock"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToSqlite(c.tsql), c.sql) << c.tsql;
}

TEST(TranslateTest, LiteralsAndDelimitedNamesAreNeverRewritten) {
  EXPECT_EQ(ToSqlite("SELECT 'DELETE x WHERE top 1', 'with(nolock)', 'getdate()', '[a]' FROM t"),
            "SELECT 'DELETE x WHERE top 1', 'with(nolock)', 'getdate()', '[a]' FROM t");
  EXPECT_EQ(ToSqlite("SELECT [with(nolock)], [TOP 1], [getdate] FROM [DELETE]"),
            "SELECT \"with(nolock)\", \"TOP 1\", \"getdate\" FROM \"DELETE\"");
  EXPECT_EQ(ToSqlite("SELECT N'año', n'it''s', 'N''x' FROM t"), "SELECT 'año', 'it''s', 'N''x' FROM t");
  EXPECT_EQ(ToSqlite("SELECT [a]]b], \"c\"\"d\", [e\"f] FROM #tmp"),
            "SELECT \"a]b\", \"c\"\"d\", \"e\"\"f\" FROM \"#tmp\"");
}

TEST(TranslateTest, FunctionsAndDelete) {
  EXPECT_EQ(ToSqlite("SELECT ISNULL(a, 0), len(b), GetDate(), LEN (c), isnull, t.len FROM t"),
            "SELECT IFNULL(a, 0), tsql_len(b), tsql_getdate(), tsql_len (c), isnull, t.len FROM t");
  // SQL Server's text functions are the backend's; LEFT JOIN and a column named left stay.
  EXPECT_EQ(ToSqlite("SELECT LEFT(a, 1), Right(a, 2), SUBSTRING(a, 1, 2), CHARINDEX('x', a), REPLACE(a, 'x', 'y'), "
                     "t.left FROM t LEFT JOIN u ON 1 = 1"),
            "SELECT tsql_left(a, 1), tsql_right(a, 2), tsql_substring(a, 1, 2), tsql_charindex('x', a), "
            "tsql_replace(a, 'x', 'y'), t.left FROM t LEFT JOIN u ON 1 = 1");
  EXPECT_EQ(ToSqlite("INSERT INTO t (a) VALUES (1) SELECT @@IDENTITY, SCOPE_IDENTITY()"),
            "INSERT INTO t (a) VALUES (1) SELECT last_insert_rowid(), last_insert_rowid()");
  EXPECT_EQ(ToSqlite("DELETE t"), "DELETE FROM t");
  EXPECT_EQ(ToSqlite("delete [my t] where a = 1"), "delete FROM \"my t\" where a = 1");
  EXPECT_EQ(ToSqlite("DELETE FROM t WHERE a = 1"), "DELETE FROM t WHERE a = 1");
  EXPECT_EQ(ToSqlite("DELETE @admin_MA_CUENTAS WHERE x = 1"), "DELETE FROM \"MA_CUENTAS\" WHERE x = 1");
  EXPECT_EQ(ToSqlite("DELETE dbo.t"), "DELETE FROM \"t\"");
  EXPECT_EQ(ToSqlite("CREATE TABLE c (p int REFERENCES p (id) ON DELETE CASCADE)"),
            "CREATE TABLE c (p int REFERENCES p (id) ON DELETE CASCADE CONSTRAINT \"tsql_type_p\" CHECK "
            "(typeof(\"p\") IN ('integer', 'null')))");
  EXPECT_EQ(ToSqlite("CREATE TRIGGER tr AFTER DELETE ON t BEGIN DELETE u WHERE id = old.id; END"),
            "CREATE TRIGGER tr AFTER DELETE ON t BEGIN DELETE FROM u WHERE id = old.id; END");
}

TEST(TranslateTest, LiteralsCompareAsSqlServerComparesText) {
  EXPECT_EQ(ToSqlite("SELECT CASE WHEN 'abc' = 'ABC  ' THEN 1 ELSE 0 END"),
            "SELECT CASE WHEN 'abc' COLLATE TSQLCI = 'ABC  ' COLLATE TSQLCI THEN 1 ELSE 0 END");
  EXPECT_EQ(ToSqlite("SELECT 1 WHERE upper(x) <> N'a' AND 'b' >= ltrim(p) AND (SELECT 'c') < 'd'"),
            "SELECT 1 WHERE upper(x) <> 'a' COLLATE TSQLCI AND 'b' COLLATE TSQLCI >= ltrim(p) AND (SELECT 'c') < 'd' "
            "COLLATE TSQLCI");
  // A column compares as its own collation says, a case-sensitive one too.
  EXPECT_EQ(ToSqlite("SELECT 1 FROM t WHERE a = 'x' AND 'y' != t.b AND [c d] <= 'z' AND 'w' > e COLLATE BINARY"),
            "SELECT 1 FROM t WHERE a = 'x' AND 'y' != t.b AND \"c d\" <= 'z' AND 'w' > e COLLATE BINARY");
  // Part of a larger operand, already collated, compared with a number, or assigned: as written.
  EXPECT_EQ(ToSqlite("SELECT 1 WHERE 'a' + 'b' = x + 'c' AND 'e' COLLATE BINARY = 'E' AND '1' = 1 AND 2 < '3'"),
            "SELECT 1 WHERE tsql_add('a', 'b') = tsql_add(x, 'c') AND 'e' COLLATE BINARY = 'E' AND '1' = 1 AND "
            "2 < '3'");
  EXPECT_EQ(ToSqlite("UPDATE t SET a = 'x' WHERE 'q' = 'Q'"),
            "UPDATE t SET a = 'x' WHERE 'q' COLLATE TSQLCI = 'Q' COLLATE TSQLCI");
  EXPECT_EQ(ToSqlite("SELECT TOP 1 a FROM t WHERE 'x' = 'X'"),
            "SELECT a FROM t WHERE 'x' COLLATE TSQLCI = 'X' COLLATE TSQLCI LIMIT 1");
  // What a quoted text holds changes nothing.
  EXPECT_EQ(ToSqlite("SELECT 1 WHERE a = '''=''' AND 'x = ''y''' = 'z'"),
            "SELECT 1 WHERE a = '''=''' AND 'x = ''y''' COLLATE TSQLCI = 'z' COLLATE TSQLCI");

  // The other engine reads a literal as the type of what it meets: only text is cast.
  EXPECT_EQ(Translate("SELECT CASE WHEN 'abc' <> 'ABC ' THEN 1 ELSE 0 END", {Engine::PostgreSQL, ""}).sql,
            "SELECT CASE WHEN CAST('abc' AS bpchar) COLLATE tsql_ci <> CAST('ABC ' AS bpchar) COLLATE tsql_ci THEN 1 "
            "ELSE 0 END");
  EXPECT_EQ(Translate("SELECT 1 WHERE UPPER(x) = 'A' AND CAST(y AS varchar(3)) > 'b' AND GETDATE() > '2024-01-01' "
                      "AND a = 'c' AND '1' = 1",
                      {Engine::PostgreSQL, ""})
                .sql,
            "SELECT 1 WHERE UPPER(x) = CAST('A' AS bpchar) COLLATE tsql_ci AND CAST(y AS varchar(3)) > CAST('b' AS "
            "bpchar) COLLATE tsql_ci AND CAST(statement_timestamp() AS timestamp(3)) > '2024-01-01' AND a = 'c' AND "
            "'1' = 1");
}

TEST(TranslateTest, IdentityStartsAtItsSeedAndStepsByItsIncrement) {
  Translation t = Translate("CREATE TABLE j (id int IDENTITY(100,10) PRIMARY KEY, x int)", {});
  EXPECT_EQ(t.sql,
            "CREATE TABLE j (id INTEGER PRIMARY KEY AUTOINCREMENT, x int CONSTRAINT \"tsql_type_x\" CHECK "
            "(typeof(\"x\") IN ('integer', 'null')))");
  ASSERT_EQ(t.then.size(), 2u);
  EXPECT_EQ(t.then[0], "INSERT INTO main.sqlite_sequence (name, seq) VALUES ('j', 99)");
  EXPECT_EQ(t.then[1].rfind("CREATE TRIGGER \"tsql_identity_j\" AFTER INSERT ON \"j\" BEGIN ", 0), 0u) << t.then[1];
  EXPECT_TRUE(Translate("CREATE TABLE i (id int IDENTITY(1,1) PRIMARY KEY)", {}).then.empty());
  EXPECT_TRUE(Translate("CREATE TABLE i (id int IDENTITY PRIMARY KEY)", {}).then.empty());
  EXPECT_EQ(Translate("CREATE TABLE dbo.[it's] (id int IDENTITY(0, 1) NOT NULL)", {}).then,
            (Strings{"INSERT INTO main.sqlite_sequence (name, seq) VALUES ('it''s', -1)"}));
  EXPECT_EQ(Translate("CREATE TEMP TABLE k (id int IDENTITY(-5, 1))", {}).then,
            (Strings{"INSERT INTO temp.sqlite_sequence (name, seq) VALUES ('k', -6)"}));
  EXPECT_THROW(Translate("CREATE TABLE k (id int IDENTITY(1.5, 1))", {}), SyntaxError);
  EXPECT_THROW(Translate("CREATE TABLE k (id int IDENTITY(@@TRANCOUNT, 1))", {}), SyntaxError);
  EXPECT_THROW(Translate("CREATE TABLE k (id int IDENTITY(1, 2, 3))", {}), SyntaxError);
}

TEST(TranslateTest, MultiPartNames) {
  EXPECT_EQ(ToSqlite("SELECT a FROM [EMPRESA1].DBO.V_TA_ETAPAS", "empresa1"), "SELECT a FROM \"V_TA_ETAPAS\"");
  EXPECT_EQ(ToSqlite("SELECT a FROM empresa1..t JOIN dbo.u ON t.a = u.a", "EMPRESA1"),
            "SELECT a FROM \"t\" JOIN \"u\" ON t.a = u.a");
  EXPECT_EQ(ToSqlite("SELECT dbo.t.a, TA_TAREAS.USUARIO, x.[b c] FROM dbo.[t]"),
            "SELECT \"t\".a, TA_TAREAS.USUARIO, x.\"b c\" FROM \"t\"");

  // Another database's tables are named bare: the session runs the statement there.
  const Translation t =
      Translate("SELECT * FROM [EMPRESA1].DBO.V_TA_ETAPAS a JOIN Otra..u ON a.x = u.x JOIN OTRA.dbo.v ON v.y = a.y",
                {Engine::SQLite, "CENTRAL"});
  EXPECT_EQ(t.sql, "SELECT * FROM \"V_TA_ETAPAS\" a JOIN \"u\" ON a.x = u.x JOIN \"v\" ON v.y = a.y");
  EXPECT_EQ(t.otherDatabases, (Strings{"EMPRESA1", "Otra"}));
  EXPECT_FALSE(t.ownTables);
  EXPECT_TRUE(
      Translate("SELECT * FROM V_TA_TPV JOIN [CASA].dbo.V_TA_ETAPAS ON 1 = 1", {Engine::SQLite, "TPV1"}).ownTables);
  // Without a session database every database named is another one.
  EXPECT_EQ(Translate("SELECT * FROM x.dbo.t", {}).otherDatabases, (Strings{"x"}));
}

TEST(TranslateTest, CreateTableColumns) {
  EXPECT_EQ(ToSqlite("CREATE TABLE [dbo].[Control_Acceso] (\n"
                     "  [Id] [int] IDENTITY(1,1) NOT NULL,\n"
                     "  [Maquina] [varchar](4) NOT NULL,\n"
                     "  Activo bit NOT NULL DEFAULT 0,\n"
                     "  Ingreso datetime CONSTRAINT DF_Ingreso DEFAULT getdate(),\n"
                     "  Importe money NULL,\n"
                     "  Nota nvarchar(max) NULL,\n"
                     "  Clave char (2) COLLATE Modern_Spanish_CI_AS,\n"
                     "  Otra varchar(3) COLLATE Latin1_General_CS_AS NOT NULL,\n"
                     "  Texto ntext COLLATE NOCASE,\n"
                     "  Total AS (Importe * 2),\n"
                     "  CONSTRAINT [PK_Control_Acceso] PRIMARY KEY CLUSTERED ([Id] ASC) WITH (PAD_INDEX = OFF) ON "
                     "[PRIMARY]\n"
                     ") ON [PRIMARY] TEXTIMAGE_ON [PRIMARY]"),
            "CREATE TABLE \"Control_Acceso\" (\n"
            "  \"Id\" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL,\n"
            "  \"Maquina\" varchar(4) COLLATE TSQLCI NOT NULL CONSTRAINT \"tsql_len_Maquina\" CHECK "
            "(length(\"Maquina\") <= 4),\n"
            "  Activo bit NOT NULL DEFAULT 0,\n"
            "  Ingreso datetime CONSTRAINT DF_Ingreso DEFAULT (tsql_getdate()),\n"
            "  Importe money NULL CONSTRAINT \"tsql_type_Importe\" CHECK (typeof(\"Importe\") IN ('integer', 'real', "
            "'null')),\n"
            "  Nota \"nvarchar(max)\" COLLATE TSQLCI NULL,\n"
            "  Clave char (2) COLLATE TSQLCI CONSTRAINT \"tsql_len_Clave\" CHECK (length(\"Clave\") <= 2),\n"
            "  Otra varchar(3) COLLATE BINARY NOT NULL CONSTRAINT \"tsql_len_Otra\" CHECK (length(\"Otra\") <= 3),\n"
            "  Texto ntext COLLATE TSQLCI,\n"
            "  Total AS (Importe * 2),\n"
            "  CONSTRAINT \"PK_Control_Acceso\" UNIQUE (\"Id\" ASC)\n"
            ")");
  EXPECT_EQ(ToSqlite("CREATE TABLE t (Id int IDENTITY (1, 1) PRIMARY KEY NONCLUSTERED, Nombre sysname)"),
            "CREATE TABLE t (Id INTEGER PRIMARY KEY AUTOINCREMENT, Nombre sysname COLLATE TSQLCI)");
  EXPECT_EQ(
      ToSqlite("CREATE TABLE t (a varchar(4), b int NOT NULL, PRIMARY KEY CLUSTERED (a, b))"),
      "CREATE TABLE t (a varchar(4) COLLATE TSQLCI CONSTRAINT \"tsql_len_a\" CHECK (length(\"a\") <= 4), "
      "b int NOT NULL CONSTRAINT \"tsql_type_b\" CHECK (typeof(\"b\") IN ('integer', 'null')), PRIMARY KEY (a, b))");
  EXPECT_EQ(ToSqlite("ALTER TABLE dbo.t ADD [NUMERO ASIENTO] nvarchar(10) NULL"),
            "ALTER TABLE \"t\" ADD \"NUMERO ASIENTO\" nvarchar(10) COLLATE TSQLCI NULL CONSTRAINT "
            "\"tsql_len_NUMERO ASIENTO\" CHECK (length(\"NUMERO ASIENTO\") <= 10)");
  EXPECT_EQ(ToSqlite("CREATE UNIQUE NONCLUSTERED INDEX ix ON dbo.t (a ASC) INCLUDE (b) WITH (FILLFACTOR = 90) ON "
                     "[PRIMARY]"),
            "CREATE UNIQUE INDEX ix ON \"t\" (a ASC)");
  EXPECT_EQ(ToSqlite("CREATE INDEX ix ON t (a) WHERE a > 0"), "CREATE INDEX ix ON t (a) WHERE a > 0");
}

// A partition scheme's clause names one column; a clause of that shape holding anything else
// is no storage clause and stays, for the engine to refuse, with its literal.
TEST(TranslateTest, OnlyStorageClausesAreDropped) {
  const std::string bare = ToSqlite("CREATE TABLE t (a int)");
  EXPECT_EQ(ToSqlite("CREATE TABLE t (a int) ON ps_fecha([a])"), bare);
  EXPECT_EQ(ToSqlite("CREATE TABLE t (a int) ON [PRIMARY]"), bare);
  EXPECT_NE(ToSqlite("CREATE TABLE t (E datetime on LEN('c'))").find("'c'"), std::string::npos);
  EXPECT_NE(ToSqlite("CREATE TABLE t (a int) ON ps(a, 'x')").find("'x'"), std::string::npos);
}

TEST(TranslateTest, FailuresAndUnsupportedEngines) {
  EXPECT_THROW(Translate("SELECT 'abc", {}), SyntaxError);
  EXPECT_THROW(Translate("SELECT [abc FROM t", {}), SyntaxError);
  // Unbalanced parentheses are the engine's to report, not a reason to fail here.
  EXPECT_NO_THROW(Translate("SELECT TOP (1 a FROM t WITH (NOLOCK", {}));
  EXPECT_NO_THROW(Translate("CREATE TABLE t (a varchar(4)", {}));
}

// ---------------------------------------------------------------------------------------
// PostgreSQL: the same passes, the engine's names, types and pattern matching

std::string ToPg(std::string_view tsql, std::string own = "EMPRESA1") {
  return Translate(tsql, {Engine::PostgreSQL, std::move(own)}).sql;
}

TEST(TranslatePgTest, TheSystemsStatements) {
  EXPECT_EQ(ToPg("SELECT  top 1 * FROM V_TA_ETAPAS WITH(NOLOCK) "), "SELECT * FROM V_TA_ETAPAS LIMIT 1");
  EXPECT_EQ(ToPg("Select TOP 1 * from Control_Acceso  with(nolock) "), "Select * from Control_Acceso LIMIT 1");
  EXPECT_EQ(ToPg("DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0003'"),
            "DELETE FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0003'");
  EXPECT_EQ(ToPg("select  getDate() as fecha"), "select  CAST(statement_timestamp() AS timestamp(3)) as fecha");
  EXPECT_EQ(ToPg("SELECT ISNULL(a, 'x'), LEN(b), SCOPE_IDENTITY(), @@IDENTITY, CURRENT_TIMESTAMP"),
            "SELECT COALESCE(a, 'x'), tsql_len(b), lastval(), lastval(), CAST(statement_timestamp() AS timestamp(3))");
  EXPECT_EQ(ToPg("SELECT LEFT(a, 1), RIGHT(a, 2), SUBSTRING(a, 1, 2), CHARINDEX('x', a, 2), REPLACE(a, 'x', 'y')"),
            "SELECT tsql_left(a, 1), tsql_right(a, 2), SUBSTRING(a, 1, 2), tsql_charindex('x', a, 2), "
            "tsql_replace(a, 'x', 'y')");
  EXPECT_EQ(ToPg("SELECT * FROM @admin_V_TA_ETAPAS WHERE [NUMERO ASIENTO] = N'x'"),
            "SELECT * FROM \"v_ta_etapas\" WHERE \"numero asiento\" = 'x'");
  // Bare names are folded by the engine; delimited and Spanish ones are written folded.
  EXPECT_EQ(ToPg("SELECT AÑO, [Año], Limit, [a\"b] FROM [dbo].[T]"),
            "SELECT \"año\", \"año\", \"limit\", \"a\"\"b\" FROM \"t\"");
  EXPECT_EQ(ToPg("SELECT CAST(x AS datetime), CAST(y AS nvarchar(10)), CAST(z AS bit), CAST(w AS varchar(max))"),
            "SELECT CAST(x AS timestamp(3)), CAST(y AS varchar(10)), CAST(z AS smallint), CAST(w AS text)");
  const auto begin = Translate("BEGIN TRANSACTION ", {Engine::PostgreSQL, ""});
  EXPECT_EQ(begin.kind, StatementKind::Begin);
  EXPECT_EQ(Translate("CREATE DATABASE [TPV1]", {Engine::PostgreSQL, ""}).databaseName, "TPV1");
}

TEST(TranslatePgTest, LikeBecomesACaseInsensitiveMatchThatKnowsSets) {
  EXPECT_EQ(ToPg("SELECT 1 FROM t WHERE (TA_MENU.Proceso LIKE '%ETAPAS%')"),
            "SELECT 1 FROM t WHERE (TA_MENU.Proceso COLLATE \"und-x-icu\" ~* '^.*ETAPAS.* *$')");
  EXPECT_EQ(
      ToPg("SELECT 1 FROM t WHERE a LIKE '[EP]_%' AND b NOT LIKE '[^0-9]x'"),
      "SELECT 1 FROM t WHERE a COLLATE \"und-x-icu\" ~* '^[EP]..* *$' AND b COLLATE \"und-x-icu\" !~* '^[^0-9]x *$'");
  // Characters the expressions treat specially stand for themselves, as in T-SQL.
  EXPECT_EQ(ToPg("SELECT 1 FROM t WHERE a LIKE 'a.b(c)+$|\\''x'"),
            "SELECT 1 FROM t WHERE a COLLATE \"und-x-icu\" ~* '^a\\.b\\(c\\)\\+\\$\\|\\\\''x *$'");
  EXPECT_EQ(ToPg("SELECT 1 FROM t WHERE a LIKE '5!%[' ESCAPE '!'"),
            "SELECT 1 FROM t WHERE a COLLATE \"und-x-icu\" ~* '^5%\\[ *$'");
  // A pattern that is not a literal keeps % and _, without an escape character.
  EXPECT_EQ(ToPg("SELECT 1 FROM t, u WHERE t.a LIKE u.b"),
            "SELECT 1 FROM t, u WHERE t.a COLLATE \"und-x-icu\" ILIKE u.b");
  EXPECT_EQ(ToPg("SELECT 1 FROM t WHERE a LIKE b"), "SELECT 1 FROM t WHERE a COLLATE \"und-x-icu\" ILIKE b ESCAPE ''");
}

TEST(TranslatePgTest, OtherDatabasesAreNamedForTheDriver) {
  auto t = Translate("SELECT CODIGOESTADO FROM [EMPRESA1].DBO.V_TA_ETAPAS WHERE CODIGOESTADO = '0002'",
                     {Engine::PostgreSQL, "empresa1"});
  EXPECT_EQ(t.sql, "SELECT CODIGOESTADO FROM \"v_ta_etapas\" WHERE CODIGOESTADO = '0002'");
  EXPECT_TRUE(t.otherDatabases.empty());
  t = Translate("SELECT CODIGOESTADO FROM [CASA].DBO.V_TA_ETAPAS e WHERE e.CODIGOESTADO = '0002'",
                {Engine::PostgreSQL, "TPV1"});
  EXPECT_EQ(t.sql, "SELECT CODIGOESTADO FROM \"v_ta_etapas\" e WHERE e.CODIGOESTADO = '0002'");
  EXPECT_EQ(t.otherDatabases, Strings{"CASA"});
  EXPECT_FALSE(t.ownTables);
  EXPECT_FALSE(Translate("UPDATE CASA..V_TA_TPV SET CONECTADO = 1", {Engine::PostgreSQL, "TPV1"}).ownTables);
  for (const char* mixed :
       {"SELECT * FROM V_TA_TPV JOIN [CASA].dbo.V_TA_ETAPAS ON 1 = 1", "SELECT * FROM [CASA].dbo.V_TA_ETAPAS, V_TA_TPV",
        "INSERT INTO V_TA_ETAPAS SELECT * FROM [CASA].dbo.V_TA_ETAPAS",
        "DELETE V_TA_ETAPAS WHERE CODIGOESTADO IN (SELECT CODIGOESTADO FROM CASA.dbo.V_TA_ETAPAS)"})
    EXPECT_TRUE(Translate(mixed, {Engine::PostgreSQL, "TPV1"}).ownTables) << mixed;
}

TEST(TranslatePgTest, CreateTableKeepsTheDeclarationInComments) {
  Translation t = Translate(
      "CREATE TABLE V_TA_ETAPAS (\n  CODIGOESTADO varchar(4) NOT NULL PRIMARY KEY,\n"
      "  PosiblesEstadoPrevio varchar(max) NULL\n);",
      {Engine::PostgreSQL, "EMPRESA1"});
  EXPECT_EQ(t.sql,
            "CREATE TABLE V_TA_ETAPAS (\n  CODIGOESTADO bpchar COLLATE tsql_ci NOT NULL PRIMARY KEY CONSTRAINT "
            "\"tsql_len_codigoestado\" CHECK (char_length(\"codigoestado\") <= 4),\n"
            "  PosiblesEstadoPrevio bpchar COLLATE tsql_ci NULL\n);");
  EXPECT_EQ(t.then, (Strings{"COMMENT ON TABLE \"v_ta_etapas\" IS 'tsql:V_TA_ETAPAS'",
                             "COMMENT ON COLUMN \"v_ta_etapas\".\"codigoestado\" IS 'tsql:varchar(4):CODIGOESTADO'",
                             "COMMENT ON COLUMN \"v_ta_etapas\".\"posiblesestadoprevio\" IS "
                             "'tsql:varchar(max):PosiblesEstadoPrevio'"}));
  t = Translate(
      "CREATE TABLE dbo.[Control Acceso] (Id int IDENTITY(1,1) PRIMARY KEY, Ok bit NOT NULL DEFAULT 0, "
      "Fecha datetime DEFAULT getdate(), Imp money, D decimal(10, 2), C char(3) COLLATE Latin1_General_CS_AS, "
      "F float, CONSTRAINT [UQ_x] UNIQUE NONCLUSTERED (Imp) WITH (FILLFACTOR = 90) ON [PRIMARY])",
      {Engine::PostgreSQL, "EMPRESA1"});
  EXPECT_EQ(
      t.sql,
      "CREATE TABLE \"control acceso\" (Id integer GENERATED BY DEFAULT AS IDENTITY (START WITH 1 INCREMENT BY 1) "
      "PRIMARY KEY, Ok smallint NOT NULL DEFAULT 0, Fecha timestamp(3) DEFAULT CAST(statement_timestamp() AS "
      "timestamp(3)), Imp numeric(19,4), D numeric(10,2), C bpchar(3) COLLATE \"C\", F double precision, "
      "CONSTRAINT \"uq_x\" UNIQUE (Imp))");
  EXPECT_EQ(t.then, (Strings{"COMMENT ON TABLE \"control acceso\" IS 'tsql:Control Acceso'",
                             "COMMENT ON COLUMN \"control acceso\".\"id\" IS 'tsql:int:Id'",
                             "COMMENT ON COLUMN \"control acceso\".\"ok\" IS 'tsql:bit:Ok'",
                             "COMMENT ON COLUMN \"control acceso\".\"fecha\" IS 'tsql:datetime:Fecha'",
                             "COMMENT ON COLUMN \"control acceso\".\"imp\" IS 'tsql:money:Imp'",
                             "COMMENT ON COLUMN \"control acceso\".\"d\" IS 'tsql:decimal(10,2):D'",
                             "COMMENT ON COLUMN \"control acceso\".\"c\" IS 'tsql:char(3):C'",
                             "COMMENT ON COLUMN \"control acceso\".\"f\" IS 'tsql:float:F'"}));
  t = Translate("ALTER TABLE t ADD [NÚMERO] nvarchar(10) NULL", {Engine::PostgreSQL, "EMPRESA1"});
  EXPECT_EQ(t.sql,
            "ALTER TABLE t ADD \"número\" bpchar COLLATE tsql_ci NULL CONSTRAINT \"tsql_len_número\" CHECK "
            "(char_length(\"número\") <= 10)");
  EXPECT_EQ(t.then, (Strings{"COMMENT ON COLUMN \"t\".\"número\" IS 'tsql:nvarchar(10):NÚMERO'"}));
  // A statement ending in a line comment cannot swallow the comments that follow it.
  t = Translate("CREATE TABLE T (A int -- the last column);", {Engine::PostgreSQL, "EMPRESA1"});
  EXPECT_EQ(t.sql, "CREATE TABLE T (A int -- the last column);");
  EXPECT_EQ(t.then, (Strings{"COMMENT ON TABLE \"t\" IS 'tsql:T'"}));
}

TEST(QuoteIdentifierTest, DoublesEmbeddedQuotes) {
  EXPECT_EQ(QuoteIdentifier("a"), "\"a\"");
  EXPECT_EQ(QuoteIdentifier("NUMERO ASIENTO"), "\"NUMERO ASIENTO\"");
  EXPECT_EQ(QuoteIdentifier("a\"b\"\""), "\"a\"\"b\"\"\"\"\"");
  EXPECT_EQ(QuoteIdentifier(""), "\"\"");
}

TEST(QuoteNameTest, EachEngineGetsTheNameItCompares) {
  EXPECT_EQ(QuoteName(Engine::SQLite, "NÚMERO \"Asiento\""), "\"NÚMERO \"\"Asiento\"\"\"");
  EXPECT_EQ(QuoteName(Engine::PostgreSQL, "NÚMERO \"Asiento\""), "\"número \"\"asiento\"\"\"");
}

// ---------------------------------------------------------------------------------------
// "+" joins strings or adds numbers as the operands' values decide

TEST(TranslateTest, PlusBecomesACallWithItsOperandsByPrecedence) {
  const Case cases[] = {
      {"SELECT 'a' + 'b'", "SELECT tsql_add('a', 'b')"},
      {"SELECT N'a'+N'b'", "SELECT tsql_add('a','b')"},
      {"SELECT 'x' + 'y' + 'z'", "SELECT tsql_add(tsql_add('x', 'y'), 'z')"},
      {"SELECT a - b + c FROM t", "SELECT tsql_add(a - b, c) FROM t"},
      {"SELECT a + b * c - d + e % 2 FROM t", "SELECT tsql_add(tsql_add(a, b * c) - d, e % 2) FROM t"},
      {"SELECT -a + -b, 2 * -a + 1, a & 1 + b FROM t",
       "SELECT tsql_add(-a, -b), tsql_add(2 * -a, 1), tsql_add((a & 1), b) FROM t"},
      {"SELECT a + (b + c) FROM t", "SELECT tsql_add(a, (tsql_add(b, c))) FROM t"},
      {"SELECT ISNULL(t.a, '') + [b c] AS n, v + dbo.f(x, y) FROM t",
       "SELECT tsql_add(IFNULL(t.a, ''), \"b c\") AS n, tsql_add(v, \"f\"(x, y)) FROM t"},
      {"SELECT CASE WHEN a = 1 THEN 'x' + b ELSE c END + 'y' FROM t",
       "SELECT tsql_add(CASE WHEN a = 1 THEN tsql_add('x', b) ELSE c END, 'y') FROM t"},
      {"SELECT ROW_NUMBER() OVER (ORDER BY a) + 1 FROM t", "SELECT tsql_add(ROW_NUMBER() OVER (ORDER BY a), 1) FROM t"},
      {"UPDATE t SET a = a + 1 WHERE b + 1 > 2 AND c = 'p' + 'q' OR NOT d+1<=e",
       "UPDATE t SET a = tsql_add(a, 1) WHERE tsql_add(b, 1) > 2 AND c = tsql_add('p', 'q') OR NOT tsql_add(d,1)<=e"},
      {"SELECT a FROM t WHERE b BETWEEN c + 1 AND d + 2 ORDER BY a + b DESC",
       "SELECT a FROM t WHERE b BETWEEN tsql_add(c, 1) AND tsql_add(d, 2) ORDER BY tsql_add(a, b) DESC"},
      {"SELECT TOP 1 a + b FROM t", "SELECT tsql_add(a, b) FROM t LIMIT 1"},
      {"INSERT INTO t (a) VALUES ('a' + CAST(1 AS varchar(2)))",
       "INSERT INTO t (a) VALUES (tsql_add('a', CAST(1 AS varchar(2))))"},
      // Signs, strings and names are not additions.
      {"SELECT +1, a * +2, '1 + 2', [a+b] FROM t", "SELECT +1, a * +2, '1 + 2', \"a+b\" FROM t"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToSqlite(c.tsql), c.sql) << c.tsql;
}

TEST(TranslatePgTest, PlusIsLeftToTheEngine) {
  EXPECT_EQ(ToPg("SELECT 'a' + 'b' + c FROM t"), "SELECT 'a' + 'b' + c FROM t");
}

// ---------------------------------------------------------------------------------------
// ^ & | ~ as SQL Server groups them; forms another engine reads otherwise

TEST(TranslateTest, BitwiseOperatorsKeepSqlServersGrouping) {
  const Case sqlite[] = {
      {"SELECT a ^ b FROM t", "SELECT tsql_xor(a, b) FROM t"},
      {"SELECT a ^ b ^ c, a & b - c, a | b + c, 2 ^ 3 * 2 FROM t",
       "SELECT tsql_xor(tsql_xor(a, b), c), (a & b) - c, tsql_add((a | b), c), tsql_xor(2, 3 * 2) FROM t"},
      {"SELECT ~a + 1 FROM t", "SELECT tsql_add(~a, 1) FROM t"},
      // Operators written together stay apart.
      {"SELECT 1|-1, a=-1, a*~b FROM t", "SELECT (1| -1), a= -1, a* ~b FROM t"},
  };
  for (const Case& c : sqlite) EXPECT_EQ(ToSqlite(c.tsql), c.sql) << c.tsql;
  const Case pg[] = {
      {"SELECT a ^ b FROM t", "SELECT (a # b) FROM t"},
      {"SELECT a ^ b ^ c, a & b - c, a | b + c, 2 ^ 3 * 2 FROM t",
       "SELECT ((a # b) # c), (a & b) - c, (a | b) + c, (2 # 3 * 2) FROM t"},
      {"SELECT ~a + 1, ~(a + 1) * 2, - ~a FROM t", "SELECT (~a) + 1, (~(a + 1)) * 2, - (~a) FROM t"},
      {"SELECT 1|-1, a=-1, a*~b FROM t", "SELECT (1| -1), a= -1, a*(~b) FROM t"},
      {"SELECT TOP (2 ^ 1) a ^ b FROM t", "SELECT (a # b) FROM t LIMIT ((2 # 1))"},
  };
  for (const Case& c : pg) EXPECT_EQ(ToPg(c.tsql), c.sql) << c.tsql;
  for (Engine e : {Engine::SQLite, Engine::PostgreSQL})
    for (const char* missing : {"SELECT ^ 2", "SELECT 2 ^", "SELECT a ^ FROM t"})
      EXPECT_THROW(Translate(missing, {e, ""}), SyntaxError) << missing;
}

TEST(TranslatePgTest, AStringAfterAColumnNamesIt) {
  EXPECT_EQ(
      ToPg("SELECT a 'x', b AS 'y', 'p'\r\n'q', [date] '2020', CASE WHEN a = 1 THEN 'r' END 's' FROM t"),
      "SELECT a AS \"x\", b AS \"y\", 'p'\r\nAS \"q\", \"date\" AS \"2020\", CASE WHEN a = 1 THEN 'r' END AS \"s\" "
      "FROM t");
  EXPECT_EQ(ToSqlite("SELECT a 'x', b AS 'y' FROM t"), "SELECT a 'x', b AS 'y' FROM t");  // the engine's reading too
  // Strings that are values stay values.
  EXPECT_EQ(ToPg("SELECT TOP 1 'x' FROM t"), "SELECT 'x' FROM t LIMIT 1");
  EXPECT_EQ(ToPg("SELECT DISTINCT TOP (2) 'x' FROM t"), "SELECT DISTINCT 'x' FROM t LIMIT 2");
  EXPECT_EQ(ToPg("SELECT a AT TIME ZONE 'UTC' FROM t"), "SELECT a AT TIME ZONE 'UTC' FROM t");
  // Anywhere else a string after an expression is a syntax error (PostgreSQL: a typed value).
  for (Engine e : {Engine::SQLite, Engine::PostgreSQL})
    for (const char* typed :
         {"SELECT a FROM t WHERE d = date '2020-01-01'", "SELECT a FROM t WHERE b = 'x'\n'y'", "SELECT a FROM t 'u'",
          "SELECT a FROM t ORDER BY a 'x'", "UPDATE t SET a = b 'x'", "SELECT f(a 'x') FROM t"})
      EXPECT_THROW(Translate(typed, {e, ""}), SyntaxError) << typed;
}

// ---------------------------------------------------------------------------------------
// @@TRANCOUNT: a place in the text where the session writes its nesting count

// The translation with `count` written at each place.
std::string WithCount(const Translation& t, const std::string& count) {
  std::string sql = t.sql;
  for (size_t k = t.trancountAt.size(); k-- > 0;) sql.insert(t.trancountAt[k], count);
  return sql;
}

TEST(TranslateTest, TrancountLeavesAPlaceForTheCount) {
  Translation t = Translate("SELECT @@TRANCOUNT AS n", {});
  EXPECT_EQ(t.sql, "SELECT  AS n");
  EXPECT_EQ(t.trancountAt, (std::vector<size_t>{7}));

  const Case cases[] = {
      {"SELECT @@TRANCOUNT AS n", "SELECT 12 AS n"},
      {"SELECT 1 FROM t WHERE @@TRANCOUNT>0", "SELECT 1 FROM t WHERE 12 >0"},
      {"  SELECT@@trancount", "SELECT 12"},
      {"SELECT a FROM t WHERE b=@@TRANCOUNT--x\r", "SELECT a FROM t WHERE b= 12 --x"},
      {"SELECT (@@TRANCOUNT),-@@TRANCOUNT", "SELECT (12),- 12"},
      {"SELECT 1-@@TRANCOUNT-1, 2/@@TRANCOUNT*3", "SELECT 1- 12 -1, 2/ 12 *3"},
      {"SELECT @@TRANCOUNT + @@TRANCOUNT", "SELECT tsql_add(12, 12)"},
      {"SELECT @@TRANCOUNT@@TRANCOUNT", "SELECT 12 12"},  // two tokens stay two
      {"SELECT 'x' AS [@@TRANCOUNT], '@@TRANCOUNT'", "SELECT 'x' AS \"@@TRANCOUNT\", '@@TRANCOUNT'"},
  };
  for (const Case& c : cases) {
    for (Engine e : {Engine::SQLite, Engine::PostgreSQL}) {
      t = Translate(c.tsql, {e, "EMPRESA1"});
      // PostgreSQL keeps "+" and folds delimited names.
      if (e == Engine::PostgreSQL && std::string_view(c.tsql).find_first_of("+[") != std::string_view::npos) continue;
      EXPECT_EQ(WithCount(t, "12"), c.sql) << c.tsql;
      EXPECT_TRUE(std::is_sorted(t.trancountAt.begin(), t.trancountAt.end())) << c.tsql;
      EXPECT_TRUE(std::adjacent_find(t.trancountAt.begin(), t.trancountAt.end()) == t.trancountAt.end()) << c.tsql;
    }
  }
  EXPECT_EQ(Translate("SELECT @@TRANCOUNT + @@TRANCOUNT", {Engine::PostgreSQL, ""}).trancountAt,
            (std::vector<size_t>{7, 10}));
}

// ---------------------------------------------------------------------------------------
// ALTER TABLE ... ADD of several columns

TEST(TranslateTest, AddingColumnsIsOneStatementPerColumn) {
  Translation t = Translate("ALTER TABLE dbo.t ADD a int NULL, [b c] varchar(10) NULL", {});
  EXPECT_EQ(t.sql,
            "ALTER TABLE \"t\" ADD COLUMN a int NULL CONSTRAINT \"tsql_type_a\" CHECK (typeof(\"a\") IN ('integer', "
            "'null'))");
  EXPECT_EQ(t.then, (Strings{"ALTER TABLE \"t\" ADD COLUMN \"b c\" varchar(10) COLLATE TSQLCI NULL CONSTRAINT "
                             "\"tsql_len_b c\" CHECK (length(\"b c\") <= 10)"}));
  t = Translate("ALTER TABLE t ADD COLUMN a int, b datetime DEFAULT getdate(), c int NOT NULL DEFAULT 0 + 1;", {});
  EXPECT_EQ(t.sql,
            "ALTER TABLE t ADD COLUMN a int CONSTRAINT \"tsql_type_a\" CHECK (typeof(\"a\") IN ('integer', 'null'))");
  EXPECT_EQ(t.then,
            (Strings{"ALTER TABLE t ADD COLUMN b datetime DEFAULT (tsql_getdate())",
                     "ALTER TABLE t ADD COLUMN c int NOT NULL DEFAULT tsql_add(0, 1) CONSTRAINT \"tsql_type_c\" "
                     "CHECK (typeof(\"c\") IN ('integer', 'null'))"}));
  t = Translate("ALTER TABLE t ADD a varchar(2) DEFAULT @@TRANCOUNT, CONSTRAINT u UNIQUE (a)", {});
  EXPECT_EQ(WithCount(t, "0"),
            "ALTER TABLE t ADD COLUMN a varchar(2) COLLATE TSQLCI DEFAULT 0 CONSTRAINT \"tsql_len_a\" "
            "CHECK (length(\"a\") <= 2)");
  EXPECT_EQ(t.then, (Strings{"ALTER TABLE t ADD CONSTRAINT u UNIQUE (a)"}));
  EXPECT_THROW(Translate("ALTER TABLE t ADD a int, b int DEFAULT @@TRANCOUNT", {}), SyntaxError);
  // One column stays as written.
  EXPECT_TRUE(Translate("ALTER TABLE t ADD a int", {}).then.empty());
}

TEST(TranslatePgTest, AddingColumnsNamesAddForEach) {
  Translation t = Translate("ALTER TABLE t ADD a int NULL, [B] varchar(10) NULL", {Engine::PostgreSQL, ""});
  EXPECT_EQ(t.sql,
            "ALTER TABLE t ADD a integer NULL, ADD \"b\" bpchar COLLATE tsql_ci NULL CONSTRAINT \"tsql_len_b\" "
            "CHECK (char_length(\"b\") <= 10)");
  EXPECT_EQ(t.then, (Strings{"COMMENT ON COLUMN \"t\".\"a\" IS 'tsql:int:a'",
                             "COMMENT ON COLUMN \"t\".\"b\" IS 'tsql:varchar(10):B'"}));
  t = Translate("ALTER TABLE t ADD COLUMN a int,b bit, CONSTRAINT u UNIQUE (a)", {Engine::PostgreSQL, ""});
  EXPECT_EQ(t.sql, "ALTER TABLE t ADD COLUMN a integer,ADD COLUMN b smallint, ADD CONSTRAINT u UNIQUE (a)");
}

// ---------------------------------------------------------------------------------------
// The translations run on SQLite

// Compares as the server's default collation does: case-insensitive, trailing blanks ignored.
int CompareCaseInsensitive(void*, int na, const void* a, int nb, const void* b) {
  auto pa = static_cast<const unsigned char*>(a), pb = static_cast<const unsigned char*>(b);
  while (na > 0 && pa[na - 1] == ' ') --na;
  while (nb > 0 && pb[nb - 1] == ' ') --nb;
  for (int i = 0; i < na && i < nb; ++i) {
    const int d = std::tolower(pa[i]) - std::tolower(pb[i]);
    if (d != 0) return d;
  }
  return na - nb;
}

void FixedDate(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_text(ctx, "2024-05-14 10:31:07", -1, SQLITE_STATIC);
}

// "+" as SQL Server evaluates it: NULL wins, two strings are joined, else a number is added.
void Add(sqlite3_context* ctx, int, sqlite3_value** v) {
  const int a = sqlite3_value_type(v[0]), b = sqlite3_value_type(v[1]);
  if (a == SQLITE_NULL || b == SQLITE_NULL) return sqlite3_result_null(ctx);
  if (a == SQLITE_TEXT && b == SQLITE_TEXT) {
    std::string joined = reinterpret_cast<const char*>(sqlite3_value_text(v[0]));
    joined += reinterpret_cast<const char*>(sqlite3_value_text(v[1]));
    return sqlite3_result_text(ctx, joined.c_str(), -1, SQLITE_TRANSIENT);
  }
  for (sqlite3_value* x : {v[0], v[1]})
    if (sqlite3_value_numeric_type(x) == SQLITE_TEXT) return sqlite3_result_error(ctx, "Conversion failed", -1);
  if (sqlite3_value_numeric_type(v[0]) == SQLITE_INTEGER && sqlite3_value_numeric_type(v[1]) == SQLITE_INTEGER)
    return sqlite3_result_int64(ctx, sqlite3_value_int64(v[0]) + sqlite3_value_int64(v[1]));
  sqlite3_result_double(ctx, sqlite3_value_double(v[0]) + sqlite3_value_double(v[1]));
}

sqlite3* OpenDatabase() {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  // The text functions are the engine's own (tsql_len, like, upper...).
  engine::sqlite::RegisterTextRules(db);
  sqlite3_create_collation_v2(db, "TSQLCI", SQLITE_UTF8, nullptr, CompareCaseInsensitive, nullptr);
  sqlite3_create_function_v2(db, "tsql_getdate", 0, SQLITE_UTF8, nullptr, FixedDate, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "tsql_add", 2, SQLITE_UTF8, nullptr, Add, nullptr, nullptr, nullptr);
  return db;
}

// Runs translations as a session does: further statements after the first, the nesting
// count where @@TRANCOUNT stood, another database's statements on that database.
class SqliteRunTest : public ::testing::Test {
 protected:
  void SetUp() override { db_ = OpenDatabase(); }
  void TearDown() override {
    for (auto& [name, db] : others_) sqlite3_close_v2(db);
    sqlite3_close_v2(db_);
  }

  sqlite3* DatabaseFor(const Translation& t) {
    if (t.otherDatabases.empty()) return db_;
    EXPECT_EQ(t.otherDatabases.size(), 1u);
    std::string name = t.otherDatabases.front();
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    sqlite3*& db = others_[name];
    if (db == nullptr) db = OpenDatabase();
    return db;
  }

  // Runs one engine statement; false (with lastError_) when it fails.
  bool Step(sqlite3* db, const std::string& sql, Strings& rows) {
    rows.clear();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, &tail) != SQLITE_OK) {
      lastError_ = sqlite3_errmsg(db);
      ADD_FAILURE() << lastError_ << "\n  in: " << sql;
      return false;
    }
    EXPECT_STREQ(tail, "") << "more than one statement in: " << sql;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto text = sqlite3_column_text(stmt, i);
        row += (i ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
      }
      rows.push_back(row);
    }
    lastError_ = rc == SQLITE_DONE ? "" : sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    return lastError_.empty();
  }

  // Splits and translates a T-SQL batch and runs it; returns the rows of the last statement
  // as "v1|v2" lines. A failure reports the translated text.
  Strings Run(std::string_view batch, const std::string& own = "EMPRESA1") {
    Strings rows;
    for (const std::string& statement : SplitStatements(batch)) {
      const Translation t = Translate(statement, {Engine::SQLite, own});
      // Only the outermost BEGIN and COMMIT reach the engine.
      if (t.kind == StatementKind::Begin && trancount_++ > 0) continue;
      if (t.kind == StatementKind::Commit && (trancount_ == 0 || --trancount_ > 0)) continue;
      if (t.kind == StatementKind::Rollback) trancount_ = 0;
      if (t.sql.empty()) continue;
      std::string sql = t.sql;
      for (auto at = t.trancountAt.rbegin(); at != t.trancountAt.rend(); ++at)
        sql.insert(*at, std::to_string(trancount_));
      sqlite3* db = DatabaseFor(t);
      if (!Step(db, sql, rows)) return rows;
      for (const std::string& then : t.then)
        if (!Step(db, then, rows)) return rows;
    }
    return rows;
  }

  void Exec(std::string_view batch, const std::string& own = "EMPRESA1") {
    Run(batch, own);
    ASSERT_EQ(lastError_, "") << batch;
  }

  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3*> others_;
  int trancount_ = 0;
  std::string lastError_;
};

TEST_F(SqliteRunTest, StatementsOfTheSystemRun) {
  Exec(
      "CREATE TABLE [dbo].[V_TA_ETAPAS] ([CODIGOESTADO] [char](4) NOT NULL PRIMARY KEY CLUSTERED,\r"
      " [DESCRIPCION] [varchar](50) NULL, [Color] [varchar](10) NULL) ON [PRIMARY]\r"
      "CREATE TABLE TA_TAREAS (USUARIO varchar(20) NOT NULL, TAREA varchar(10) NOT NULL,\r"
      " PRIMARY KEY (USUARIO, TAREA))\r"
      "CREATE TABLE TA_MENU (Clave varchar(10) PRIMARY KEY, Proceso varchar(50), Nombre varchar(50))\r"
      "CREATE TABLE Control_Acceso (Id int IDENTITY(1,1) PRIMARY KEY, Maquina varchar(50), Usuario varchar(20),\r"
      " Formulario varchar(50), Tarea varchar(50), Ingreso varchar(20), NombreUsuario varchar(50),\r"
      " Alta datetime DEFAULT getdate())\r"
      "CREATE TABLE AUX_ERR (Numero int, Texto nvarchar(max))\r"
      "CREATE TABLE TA_CONFIGURACION (CLAVE varchar(20), VALOR varchar(100), valoraux varchar(100))\r"
      "CREATE TABLE ta_usuarios (Nombre varchar(20), Clave varchar(20))\r"
      "CREATE TABLE V_TA_TPV (CODIGO char(4), INTERNET bit, BAJA bit, CONECTADO bit, ULTIMA_DETECCION datetime,\r"
      " PEND_ARTICULOS bit, PEND_PRECIOS bit)\r"
      "CREATE TABLE MA_CUENTAS (codigo varchar(10), nombre varchar(50))\r"
      "CREATE TABLE MV_ASIENTOS ([NUMERO ASIENTO] int, CUENTA varchar(10), Importe money)\r"
      "INSERT INTO V_TA_ETAPAS VALUES ('0001', 'PENDIENTE', '0'); INSERT INTO V_TA_ETAPAS VALUES ('0002', 'LISTO', "
      "'1')\r"
      "INSERT INTO TA_TAREAS VALUES ('SA', 'T1'); INSERT INTO TA_MENU VALUES ('T1', 'Etapas', 'Etapas')\r"
      "INSERT INTO TA_CONFIGURACION VALUES ('THEME', 'Oscuro', ''); INSERT INTO TA_CONFIGURACION VALUES "
      "('TimeOut', '30', '')\r"
      "INSERT INTO ta_usuarios VALUES ('SA', ''); INSERT INTO MA_CUENTAS VALUES ('1', 'Caja')\r"
      "INSERT INTO V_TA_TPV VALUES ('0002', 0, 0, 0, NULL, 0, 0); INSERT INTO MV_ASIENTOS VALUES (1, '1', 10)");

  EXPECT_EQ(Run("SELECT  top 1 * FROM V_TA_ETAPAS WITH(NOLOCK) "), (Strings{"0001|PENDIENTE|0"}));
  EXPECT_EQ(Run("INSERT INTO V_TA_ETAPAS(CODIGOESTADO,DESCRIPCION)  VALUES ('0013','EN REPARACION')\r"
                "UPDATE V_TA_ETAPAS SET DESCRIPCION='EN REPARACION'  , Color='255'   WHERE CODIGOESTADO = '0013'\r"
                "SELECT * FROM  V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"),
            (Strings{"0013|EN REPARACION|255"}));
  EXPECT_EQ(Run("SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS WHERE CODIGOESTADO<>'0013'"),
            (Strings{"0001|PENDIENTE", "0002|LISTO"}));
  EXPECT_EQ(Run("select * from V_TA_ETAPAS where CODIGOESTADO = '0013'"), (Strings{"0013|EN REPARACION|255"}));
  EXPECT_EQ(Run("SELECT CODIGOESTADO,DESCRIPCION FROM [EMPRESA1].DBO.V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"),
            (Strings{"0013|EN REPARACION"}));
  Exec("DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0013'");
  EXPECT_EQ(Run("SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO"),
            (Strings{"0001|PENDIENTE", "0002|LISTO"}));
  EXPECT_EQ(Run("SELECT * FROM V_TA_ETAPAS").size(), 2u);

  // The user is stored as 'SA'; the server compares without case and trailing blanks.
  EXPECT_EQ(Run("SELECT TA_TAREAS.USUARIO, TA_MENU.Proceso, TA_MENU.Clave , TA_MENU.Nombre  FROM TA_TAREAS  "
                "with(nolock) INNER JOIN TA_MENU ON TA_TAREAS.TAREA = TA_MENU.Clave  WHERE (TA_TAREAS.USUARIO = "
                "'sa ') AND (TA_MENU.Proceso LIKE '%etapas%')"),
            (Strings{"SA|Etapas|T1|Etapas"}));
  EXPECT_EQ(Run("Select * from ta_usuarios  with(nolock)  where Nombre = 'sa'"), (Strings{"SA|"}));
  EXPECT_EQ(Run("SELECT VALOR, valoraux FROM TA_CONFIGURACION with(nolock)  WHERE CLAVE = 'THEME'"),
            (Strings{"Oscuro|"}));
  EXPECT_EQ(Run("SELECT * FROM ta_configuracion with(nolock)  WHERE CLAVE = 'TimeOut'"), (Strings{"TimeOut|30|"}));
  EXPECT_EQ(Run("select  getDate() as fecha"), (Strings{"2024-05-14 10:31:07"}));

  Exec(
      "BEGIN TRANSACTION \r\r\rINSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) "
      "VALUES ('PC1','SA','ETAPAS','','14/05/24 10:31','sa')\r");
  Exec("COMMIT TRANSACTION");
  Exec(
      "BEGIN TRANSACTION \r\r\rINSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) "
      "VALUES ('PC2','SA','ETAPAS','','14/05/24 10:32','sa')\r");
  Exec("ROLLBACK TRANSACTION");
  Exec("UPDATE Control_Acceso SET Tarea = 'x'  WHERE Id = 1");
  EXPECT_EQ(Run("Select TOP 1 * from Control_Acceso  with(nolock)"),
            (Strings{"1|PC1|SA|ETAPAS|x|14/05/24 10:31|sa|2024-05-14 10:31:07"}));
  EXPECT_EQ(Run("select  top 1 * from AUX_ERR  with(nolock)"), Strings{});

  EXPECT_EQ(Run("SELECT * FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO").size(), 1u);
  Exec("UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '0002'");
  Exec("UPDATE V_TA_TPV SET CONECTADO = 0, ULTIMA_DETECCION = '2024-05-14 10:31:07' WHERE CODIGO = '0002'");
  Exec("UPDATE V_TA_TPV SET PEND_ARTICULOS = 1,PEND_PRECIOS = 1 WHERE CODIGO = '0002'");
  EXPECT_EQ(Run("SELECT * FROM V_TA_TPV"), (Strings{"0002|0|0|0|2024-05-14 10:31:07|1|1"}));

  EXPECT_EQ(Run("SELECT * FROM @admin_MA_CUENTAS WHERE codigo = '1'"), (Strings{"1|Caja"}));
  Exec("UPDATE MV_ASIENTOS SET [NUMERO ASIENTO]=5  WHERE CUENTA = '1'");
  EXPECT_EQ(Run("SELECT [NUMERO ASIENTO] FROM MV_ASIENTOS"), (Strings{"5"}));
}

TEST_F(SqliteRunTest, IdentityNumbersFromItsSeedByItsIncrement) {
  Exec(
      "CREATE TABLE [a'b] (id int IDENTITY(100,10) PRIMARY KEY, x int NOT NULL UNIQUE)\r"
      "CREATE TABLE o (id int IDENTITY(5,1) NOT NULL, x int)");
  EXPECT_EQ(Run("INSERT INTO [a'b] (x) VALUES (1) SELECT @@IDENTITY"), (Strings{"100"}));
  EXPECT_EQ(Run("INSERT INTO [a'b] (x) VALUES (2) SELECT SCOPE_IDENTITY()"), (Strings{"110"}));
  EXPECT_EQ(Run("INSERT INTO o (x) VALUES (1) SELECT @@IDENTITY"), (Strings{"5"}));
  Exec("INSERT INTO [a'b] (x) VALUES (3), (4), (5)\rINSERT INTO [a'b] (x) SELECT 6 UNION ALL SELECT 7");
  EXPECT_EQ(Run("INSERT INTO [a'b] (x) VALUES (8) SELECT @@IDENTITY"), (Strings{"170"}));
  EXPECT_EQ(Run("SELECT id, x FROM [a'b] ORDER BY id"),
            (Strings{"100|1", "110|2", "120|3", "130|4", "140|5", "150|6", "160|7", "170|8"}));
  EXPECT_EQ(Run("INSERT INTO o (x) VALUES (2), (3) SELECT id FROM o ORDER BY id"), (Strings{"5", "6", "7"}));
}

TEST_F(SqliteRunTest, LiteralsCompareIgnoringCaseAndTrailingBlanks) {
  Exec("CREATE TABLE c (a varchar(5), b varchar(5) COLLATE Latin1_General_CS_AS)\rINSERT INTO c VALUES ('Ab', 'Ab')");
  EXPECT_EQ(Run("SELECT CASE WHEN 'abc' = 'ABC  ' THEN 1 ELSE 0 END, CASE WHEN 'abc' <> 'ABC ' THEN 1 ELSE 0 END"),
            (Strings{"1|0"}));
  EXPECT_EQ(Run("SELECT CASE WHEN 'a' < 'B' THEN 1 ELSE 0 END"), (Strings{"1"}));
  EXPECT_EQ(Run("SELECT COUNT(*) FROM c WHERE a = 'AB ' AND 'aB' = a"), (Strings{"1"}));
  EXPECT_EQ(Run("SELECT COUNT(*) FROM c WHERE b = 'AB' OR 'ab' = b"), (Strings{"0"}));
  EXPECT_EQ(Run("SELECT COUNT(*) FROM c WHERE b = 'Ab'"), (Strings{"1"}));
}

TEST_F(SqliteRunTest, OtherDatabasesRunOnTheirOwnDatabase) {
  Exec("CREATE TABLE V_TA_ETAPAS (CODIGOESTADO char(4), DESCRIPCION varchar(50))", "OTRA");
  Exec("CREATE TABLE EMPRESA1.dbo.V_TA_ETAPAS (CODIGOESTADO char(4), DESCRIPCION varchar(50))", "OTRA");
  Exec(
      "INSERT INTO [EMPRESA1].DBO.V_TA_ETAPAS VALUES ('0013', 'REMOTA')\rINSERT INTO V_TA_ETAPAS VALUES ('0013', "
      "'LOCAL')",
      "OTRA");
  const std::string select =
      "SELECT CODIGOESTADO,DESCRIPCION FROM [EMPRESA1].DBO.V_TA_ETAPAS WHERE CODIGOESTADO = '0013'";
  EXPECT_EQ(Run(select, "OTRA"), (Strings{"0013|REMOTA"}));
  EXPECT_EQ(Run("SELECT DESCRIPCION FROM empresa1..V_TA_ETAPAS", "OTRA"), (Strings{"REMOTA"}));
  EXPECT_EQ(Run("SELECT DESCRIPCION FROM dbo.V_TA_ETAPAS", "OTRA"), (Strings{"LOCAL"}));
  // Named as its own database, the session's tables are its own.
  EXPECT_EQ(Run("SELECT DESCRIPCION FROM OTRA.dbo.V_TA_ETAPAS", "OTRA"), (Strings{"LOCAL"}));
}

TEST_F(SqliteRunTest, CreatedTablesKeepTheServersRules) {
  Exec(
      "CREATE TABLE [dbo].[Pruebas] (\r"
      "  [Id] [int] IDENTITY(1,1) NOT NULL,\r"
      "  [Codigo] [varchar](4) NOT NULL,\r"
      "  [Activo] [bit] NOT NULL DEFAULT 1,\r"
      "  [Alta] [datetime] DEFAULT getdate(),\r"
      "  [Importe] [money] NULL,\r"
      "  [Nota] [nvarchar](max) NULL,\r"
      "  [Exacto] varchar(10) COLLATE Latin1_General_CS_AS NULL,\r"
      "  CONSTRAINT [PK_Pruebas] PRIMARY KEY CLUSTERED ([Id] ASC) WITH (PAD_INDEX = OFF) ON [PRIMARY]\r"
      ") ON [PRIMARY] TEXTIMAGE_ON [PRIMARY]\r"
      "CREATE TABLE Lineas (a varchar(4), b int NOT NULL, c money, PRIMARY KEY CLUSTERED (a, b))");
  Exec(
      "INSERT INTO Pruebas (Codigo, Importe, Nota, Exacto) VALUES ('ab', 1.5, N'año', 'Xy')\r"
      "INSERT INTO Pruebas (Codigo) VALUES ('CD  ')");
  EXPECT_EQ(Run("SELECT Id, Codigo, Activo, Alta, Importe, Nota FROM Pruebas ORDER BY Id"),
            (Strings{"1|ab|1|2024-05-14 10:31:07|1.5|año", "2|CD  |1|2024-05-14 10:31:07|NULL|NULL"}));

  // varchar(4) refuses longer text.
  Run("INSERT INTO Pruebas (Codigo) VALUES ('ABCDE')");
  EXPECT_NE(lastError_.find("tsql_len_Codigo"), std::string::npos) << lastError_;
  EXPECT_EQ(Run("SELECT COUNT(*) FROM Pruebas WHERE Codigo = 'AB' OR Codigo = 'cd'"), (Strings{"2"}));
  EXPECT_EQ(Run("SELECT COUNT(*) FROM Pruebas WHERE Exacto = 'xy'"), (Strings{"0"}));

  Exec("INSERT INTO Lineas VALUES ('a', 1, 2.5)");
  Run("INSERT INTO Lineas VALUES ('A', 1, 3)");
  EXPECT_NE(lastError_.find("UNIQUE"), std::string::npos) << "the key ignores case: " << lastError_;

  // Declared types are kept as written for the driver to read.
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_, "SELECT Id, Codigo, Activo, Alta, Importe, Nota FROM Pruebas", -1, &stmt, nullptr),
            SQLITE_OK);
  Strings types;
  for (int i = 0; i < sqlite3_column_count(stmt); ++i) types.emplace_back(sqlite3_column_decltype(stmt, i));
  sqlite3_finalize(stmt);
  EXPECT_EQ(types, (Strings{"INTEGER", "varchar(4)", "bit", "datetime", "money", "nvarchar(max)"}));

  Exec("ALTER TABLE Pruebas ADD Extra char(2) NULL");
  Run("UPDATE Pruebas SET Extra = 'abc'");
  EXPECT_NE(lastError_.find("tsql_len_Extra"), std::string::npos) << lastError_;
}

TEST_F(SqliteRunTest, TriggersAndSubqueriesRun) {
  Exec(
      "CREATE TABLE t (id int IDENTITY(1,1) PRIMARY KEY, a varchar(10), b int)\r"
      "CREATE TABLE log (id int, n int)\r"
      "CREATE TRIGGER tr AFTER UPDATE OF a ON t FOR EACH ROW BEGIN\r"
      "  UPDATE t SET b = CASE WHEN new.a = 'X' THEN 1 ELSE 0 END WHERE id = new.id;\r"
      "  INSERT INTO log (id, n) VALUES (new.id, (SELECT COUNT(*) FROM t));\r"
      "END;\r"
      "INSERT INTO t (a) VALUES ('p')\rINSERT INTO t (a) VALUES ('q')\rINSERT INTO t (a) VALUES ('r')\r"
      "UPDATE t SET a = 'X' WHERE id = 2");
  EXPECT_EQ(Run("SELECT * FROM log"), (Strings{"2|3"}));
  EXPECT_EQ(Run("SELECT TOP 1 id FROM t WHERE id IN (SELECT TOP 2 id FROM t WITH (NOLOCK) ORDER BY id DESC) "
                "ORDER BY id"),
            (Strings{"2"}));
  EXPECT_EQ(Run("SELECT a, LEN(a), ISNULL(b, -1) FROM t (NOLOCK) WHERE id = 2"), (Strings{"X|1|1"}));
}

TEST_F(SqliteRunTest, PlusAddsNumbersAndJoinsStrings) {
  Exec("CREATE TABLE t (a varchar(10), b int, c varchar(10))\rINSERT INTO t VALUES ('x', 2, NULL)");
  EXPECT_EQ(Run("SELECT 'a' + 'b', NULL + 'x', 1 + 2, '1' + 1, 1 + 2 * 3 - 4 + '5'"), (Strings{"ab|NULL|3|2|8"}));
  EXPECT_EQ(Run("SELECT a + 'y' + a, b + b * 2, a + c, CASE WHEN b > 1 THEN a + '!' END + a FROM t"),
            (Strings{"xyx|6|NULL|x!x"}));
  Exec("UPDATE t SET a = a + 'z', b = b + 1 WHERE a + 'z' = 'xz'");
  EXPECT_EQ(Run("SELECT a, b FROM t"), (Strings{"xz|3"}));
  Run("SELECT 'a' + 1");
  EXPECT_EQ(lastError_, "Conversion failed");
}

TEST_F(SqliteRunTest, TrancountIsTheNestingCount) {
  EXPECT_EQ(Run("SELECT @@TRANCOUNT AS n"), (Strings{"0"}));
  EXPECT_EQ(Run("BEGIN TRAN\rBEGIN TRANSACTION\rSELECT @@TRANCOUNT, 10+@@TRANCOUNT WHERE @@TRANCOUNT>1"),
            (Strings{"2|12"}));
  EXPECT_EQ(Run("COMMIT\rSELECT @@TRANCOUNT"), (Strings{"1"}));
  EXPECT_EQ(Run("ROLLBACK\rSELECT @@TRANCOUNT"), (Strings{"0"}));
}

TEST_F(SqliteRunTest, AddedColumnsKeepTheirRules) {
  Exec(
      "CREATE TABLE t (id int)\rINSERT INTO t VALUES (1)\r"
      "ALTER TABLE t ADD a char(2) NULL, b int NOT NULL DEFAULT 5, c varchar(3) NULL DEFAULT 'AB'");
  EXPECT_EQ(Run("SELECT id, a, b, c FROM t WHERE c = 'ab'"), (Strings{"1|NULL|5|AB"}));
  Run("UPDATE t SET a = 'abc'");
  EXPECT_NE(lastError_.find("tsql_len_a"), std::string::npos) << lastError_;
}

}  // namespace
}  // namespace etapas::engine::sql
