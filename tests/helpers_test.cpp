// The small shared helpers: texts (letter case, trimming, UTF-8 with bad bytes,
// Windows-1252), SQL literals and names, values, JSON, the lookup-definitions file,
// database names and ADO type codes. Where a helper feeds a statement, the case runs on a
// real database.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "admin/json.h"
#include "components/ado_types.h"
#include "components/cls_consulta.h"
#include "components/json.h"
#include "components/sql_text.h"
#include "components/text.h"
#include "components/variant.h"
#include "db_fixture.h"
#include "engine/kept.h"
#include "engine/session.h"
#include "test_support.h"

namespace etapas {
namespace {

using test::Exec;
using test::Scalar;

// ---- letter case and trimming -------------------------------------------------------

TEST(TextCase, SpanishLettersFoldButSignsAndOtherBytesStay) {
  EXPECT_EQ(text::Upper("camión ñandú"), "CAMIÓN ÑANDÚ");
  EXPECT_EQ(text::Lower("CAMIÓN ÑANDÚ Ç"), "camión ñandú ç");
  // × and ÷ share the letters' rows in Latin-1 but have no case.
  EXPECT_EQ(text::Upper("÷"), "÷");
  EXPECT_EQ(text::Lower("×"), "×");
  // Letters outside Latin-1 and bytes that are not UTF-8 are left as they are.
  EXPECT_EQ(text::Upper("œ\xE9x"), "œ\xE9X");

  EXPECT_TRUE(text::EqualsNoCase("Año", "AÑO"));
  EXPECT_FALSE(text::EqualsNoCase("ANO", "AÑO"));
  EXPECT_FALSE(text::EqualsNoCase("abc", "abcd"));
  EXPECT_TRUE(text::StartsWithNoCase("Password=x", "PASSWORD"));
  EXPECT_EQ(text::FindNoCase("v_ta_Etapas", "ETAPAS"), 5u);
  EXPECT_EQ(text::RemoveAllNoCase("a WITH(NOLOCK) b with(nolock)", "with(nolock)"), "a  b ");
}

TEST(TextTrim, EachRuleTakesOffItsOwnCharacters) {
  EXPECT_EQ(text::Trim(" \t\r\nx y\n"), "x y");
  EXPECT_EQ(text::Trim(" \t12\n", text::kBlanksAndTabs), "12\n");
  EXPECT_EQ(text::Trim("\f\vSELECT 1\v", text::kWhiteSpace), "SELECT 1");
  EXPECT_EQ(text::Trim("\fx"), "\fx");
  EXPECT_EQ(text::TrimEnd("  nombre. . ", ". "), "  nombre");
  EXPECT_EQ(text::Trim(""), "");
  EXPECT_EQ(text::Trim(" \t "), "");
}

TEST(TextTrim, CompareKeyIsWhatSqlServersEqualsIgnores) {
  EXPECT_EQ(text::CompareKey("sa  "), text::CompareKey("SA"));
  EXPECT_EQ(text::CompareKey("camión "), "CAMIÓN");
  // Leading blanks and trailing tabs count.
  EXPECT_NE(text::CompareKey(" sa"), text::CompareKey("sa"));
  EXPECT_NE(text::CompareKey("sa\t"), text::CompareKey("sa"));
}

// The index of every text column is ordered by this comparison: one that disagreed with the
// keys, even on bytes no valid text holds, would misplace rows in files already written.
TEST(TextTrim, CompareNoCaseOrdersAsTheComparisonKeysDo) {
  auto sign = [](int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); };
  auto keys = [](std::string_view a, std::string_view b) { return text::CompareKey(a).compare(text::CompareKey(b)); };
  std::vector<std::string> texts = {
      "",         " ",        "  ",     "a",       "A",      "a ",   "A  ",   "ab", "aB ",  "b",     "0001",
      "0001 ",    "0002",     "camión", "CAMIÓN ", "camion", "ñu",   "Ñu",    "nu", "\xC3", "\xC3 ", "\xC3\xC3\xA1",
      "\xC3\xA1", "\xC3\x81", "a\t",    "a\t ",    " a",     "\xFF", "z\xC3", "{",  "`",    "~"};
  for (const auto& a : texts)
    for (const auto& b : texts) EXPECT_EQ(text::CompareNoCase(a, b), sign(keys(a, b))) << "'" << a << "' '" << b << "'";
  // Arbitrary bytes, blanks and the lead byte of the accented letters made frequent.
  std::mt19937 random(20261210);
  const std::string alphabet = std::string("aAzZ ~\x7F\xC3\xA0\xB7\xBE\xBF\x80\x9E") + '\0';
  auto any = [&] {
    std::string t(random() % 7, ' ');
    for (auto& c : t) c = alphabet[random() % alphabet.size()];
    return t;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string a = any(), b = any();
    ASSERT_EQ(text::CompareNoCase(a, b), sign(keys(a, b))) << "'" << a << "' '" << b << "'";
  }
}

// The entry found last is looked at first: it must never outlive a clear or a refill.
TEST(KeptByText, TheLastEntryFoundGoesWithTheEntriesLetGo) {
  engine::KeptByText<std::string> kept;
  kept.Put("SELECT 1", "one", 2);
  ASSERT_NE(kept.Find("SELECT 1"), nullptr);
  EXPECT_EQ(*kept.Find("SELECT 1"), "one");
  EXPECT_EQ(kept.Find("select 1"), nullptr);  // texts are kept exactly as sent
  kept.Put("SELECT 2", "two", 2);
  kept.Put("SELECT 3", "three", 2);  // past the limit: the others are let go
  EXPECT_EQ(kept.Find("SELECT 1"), nullptr);
  EXPECT_EQ(kept.size(), 1u);
  EXPECT_EQ(*kept.Find("SELECT 3"), "three");
  kept.Clear();
  EXPECT_EQ(kept.Find("SELECT 3"), nullptr);
  kept.Put("SELECT 3", "again", 2);
  EXPECT_EQ(*kept.Find("SELECT 3"), "again");
}

// ---- UTF-8 and Windows-1252 -----------------------------------------------------------

TEST(TextUtf8, SequencesAreValidOnlyInTheirShortestForm) {
  EXPECT_EQ(text::Utf8SequenceLength("a", 0), 1u);
  EXPECT_EQ(text::Utf8SequenceLength("ñ", 0), 2u);
  EXPECT_EQ(text::Utf8SequenceLength("€", 0), 3u);
  EXPECT_EQ(text::Utf8SequenceLength("😀", 0), 4u);
  EXPECT_EQ(text::Utf8SequenceLength("\x80", 0), 0u);              // a continuation byte alone
  EXPECT_EQ(text::Utf8SequenceLength("\xC0\xA7", 0), 0u);          // an overlong apostrophe
  EXPECT_EQ(text::Utf8SequenceLength("\xE0\x80\xA7", 0), 0u);      // the same in three bytes
  EXPECT_EQ(text::Utf8SequenceLength("\xED\xA0\x80", 0), 0u);      // a surrogate
  EXPECT_EQ(text::Utf8SequenceLength("\xF4\x90\x80\x80", 0), 0u);  // past U+10FFFF
  EXPECT_EQ(text::Utf8SequenceLength("\xE2\x82", 0), 0u);          // cut short
  EXPECT_EQ(text::Utf8SequenceLength("\xC3x", 0), 0u);             // no continuation
}

TEST(TextUtf8, BadBytesAreReplacedOrKeptAsTheyAre) {
  const std::string mixed = "a\xE9\xC3\xB1\xC0\xA7z";  // a, é in Latin-1, ñ, overlong ', z
  EXPECT_EQ(text::DecodeUtf8(mixed, text::BadUtf8::kReplace), U"a\uFFFDñ\uFFFD\uFFFDz");
  EXPECT_EQ(text::DecodeUtf8(mixed, text::BadUtf8::kKeepByte), U"a\u00E9ñ\u00C0\u00A7z");
  EXPECT_EQ(text::ReplaceBadUtf8(mixed), "a\xEF\xBF\xBDñ\xEF\xBF\xBD\xEF\xBF\xBDz");
  // Valid text comes back unchanged; NUL only where the reader refuses it.
  EXPECT_EQ(text::ReplaceBadUtf8("año €"), "año €");
  EXPECT_EQ(text::ReplaceBadUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(text::ReplaceBadUtf8(std::string("a\0b", 3), true),
            "a\xEF\xBF\xBD"
            "b");

  std::string back;
  for (char32_t c : text::DecodeUtf8("Ñu € 😀", text::BadUtf8::kReplace)) text::AppendUtf8(back, c);
  EXPECT_EQ(back, "Ñu € 😀");
}

TEST(TextUtf8, LengthAndLeftCountCharactersNotBytes) {
  EXPECT_EQ(text::Length("camión"), 6u);
  EXPECT_EQ(text::Left("camión", 5), "camió");
  EXPECT_EQ(text::Left("ab", 5), "ab");
  // A bad byte is one character: Left never cuts a valid sequence.
  EXPECT_EQ(text::Length("a\xFF\xC3\xB1"), 3u);
  EXPECT_EQ(text::Left("a\xFF\xC3\xB1", 2), "a\xFF");
}

TEST(TextCp1252, SharedFilesRoundTripAndUnmappableCharactersBecomeQuestionMarks) {
  const std::string utf8 = "Reparación €5 – “listo” Œ ž";
  const std::string cp = text::Utf8ToCp1252(utf8);
  EXPECT_EQ(cp,
            "Reparaci\xF3n \x80"
            "5 \x96 \x93listo\x94 \x8C \x9E");
  EXPECT_EQ(text::Cp1252ToUtf8(cp), utf8);
  // Windows-1252 has no Greek and no emoji; its five undefined bytes read as "?".
  EXPECT_EQ(text::Utf8ToCp1252("Ω😀"), "??");
  EXPECT_EQ(text::Cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "?????");
  // A Latin-1 byte that is not UTF-8 goes to the file as that same character.
  EXPECT_EQ(text::Utf8ToCp1252("caf\xE9"), "caf\xE9");
  // Every byte of the code page maps to one character and back.
  for (int b = 0x20; b < 0x100; ++b) {
    if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) continue;
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(text::Utf8ToCp1252(text::Cp1252ToUtf8(one)), one) << b;
  }
}

// ---- SQL literals and names -------------------------------------------------------------

TEST(SqlText, LiteralsAndNamesAsTsqlWritesThem) {
  EXPECT_EQ(sqltext::Doubled("O'Brien's"), "O''Brien''s");
  EXPECT_EQ(sqltext::Literal("it's"), "'it''s'");
  EXPECT_EQ(sqltext::Literal(""), "''");
  EXPECT_EQ(sqltext::Bracketed("a]b"), "[a]]b]");
  EXPECT_EQ(sqltext::Name("V_TA_ETAPAS"), "V_TA_ETAPAS");
  EXPECT_EQ(sqltext::Name("Año"), "[Año]");
  EXPECT_EQ(sqltext::Name("x y"), "[x y]");
  EXPECT_EQ(sqltext::Name(""), "[]");
}

TEST(SqlText, HostileTextsStayValuesAndNamesOnARealDatabase) {
  test::TempDataRoot root;
  test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
  auto db = test::Connect("CASA", "EMPRESA1");
  const std::string valor = "9'; DELETE FROM OTRA; --";
  const std::string tabla = "rara] ; DROP TABLE OTRA; --";
  Exec(*db, "CREATE TABLE OTRA (v varchar(10))");
  Exec(*db, "INSERT INTO OTRA (v) VALUES ('queda')");
  Exec(*db, "CREATE TABLE " + sqltext::Name(tabla) + " (v varchar(60))");
  Exec(*db, "INSERT INTO " + sqltext::Bracketed(tabla) + " (v) VALUES (" + sqltext::Literal(valor) + ")");
  EXPECT_EQ(Scalar(*db, "SELECT v FROM " + sqltext::Name(tabla) + " WHERE v = '" + sqltext::Doubled(valor) + "'"),
            valor);
  EXPECT_EQ(Scalar(*db, "SELECT v FROM OTRA"), "queda");
}

// ---- values -----------------------------------------------------------------------------

TEST(VariantConversions, TextsReadAsNumbersBooleansAndDates) {
  EXPECT_EQ(Variant(" 12,5\t").ToNumber(), 12.5);
  EXPECT_EQ(Variant("+3").ToNumber(), 3.0);
  EXPECT_EQ(Variant("12\n").ToNumber(), std::nullopt);
  EXPECT_EQ(Variant("12 abc").ToNumber(), std::nullopt);
  EXPECT_EQ(Variant("").ToNumber(), std::nullopt);
  EXPECT_EQ(Variant().ToNumber(), 0.0);
  EXPECT_EQ(Variant::Null().ToNumber(), std::nullopt);
  EXPECT_EQ(Variant(true).ToNumber(), -1.0);

  EXPECT_EQ(Variant(" verdadero ").ToBool(), true);
  EXPECT_EQ(Variant("FALSE").ToBool(), false);
  EXPECT_EQ(Variant("0").ToBool(), false);
  EXPECT_EQ(Variant("2").ToBool(), true);
  EXPECT_EQ(Variant("sí").ToBool(), std::nullopt);
  EXPECT_EQ(Variant::Null().ToBool(), std::nullopt);

  auto d = Variant("2024-02-29 23:59:58.5").ToDate();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->ToIso(), "2024-02-29 23:59:58");
  EXPECT_EQ(d->millisecond, 500);
  EXPECT_TRUE(DateTime::ParseIso("2024-01-05T08:30"));
  EXPECT_FALSE(DateTime::ParseIso("2024-13-01"));
  EXPECT_FALSE(DateTime::ParseIso("2024-01-01 24:00"));
  EXPECT_FALSE(DateTime::ParseIso("2024-01-01x"));
}

TEST(VariantConversions, TextFormsAreWhatStatementsAndFilesExpect) {
  EXPECT_EQ(Variant(true).ToText(), "True");
  EXPECT_EQ(Variant(42).ToText(), "42");
  EXPECT_EQ(Variant(2.5).ToText(), "2.5");
  EXPECT_EQ(Variant::Null().ToText(), "");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(1e20), "100000000000000000000");
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatNumber(1e-7), "0.0000001");
  EXPECT_EQ(FormatNumber(std::nan("")), "0");
  {
    // A Spanish desktop's decimal comma changes none of them, nor what is read back.
    test::SpanishLocale es;
    ASSERT_TRUE(es.Ok()) << "the es_ES.UTF-8 locale is not installed: run scripts/deps.sh";
    EXPECT_EQ(FormatNumber(1.5) + "|" + FormatNumber(-1e-7) + "|" + Variant(2.25).ToText(), "1.5|-0.0000001|2.25");
    size_t used = 0;
    EXPECT_EQ(ReadNumber(" +1.5e2x", &used), 150.0);
    EXPECT_EQ(used, 7u);
    EXPECT_EQ(ReadNumber("-1e999"), -HUGE_VAL);
    EXPECT_EQ(ReadNumber("1,5", &used), 1.0);
    EXPECT_EQ(ReadNumber("0x10", &used), 0.0);
    EXPECT_EQ(used, 1u);
    EXPECT_EQ(ReadNumber("+-1", &used) + static_cast<double>(used), 0.0);
  }
  // Kind and value both decide equality.
  EXPECT_FALSE(Variant(1) == Variant(1.0));
  EXPECT_FALSE(Variant(true) == Variant(1));
  EXPECT_TRUE(Variant("a") == Variant(std::string("a")));
}

// ---- JSON ---------------------------------------------------------------------------------

TEST(Json, StringsStayValidWhateverTheDatabaseHolds) {
  EXPECT_EQ(JsonString("dice \"hola\"\\\n"), "\"dice \\\"hola\\\"\\\\\\n\"");
  EXPECT_EQ(JsonString(std::string("\x01\x1F", 2)), "\"\\u0001\\u001f\"");
  EXPECT_EQ(JsonString("año €"), "\"año €\"");
  EXPECT_EQ(JsonString("caf\xE9"), "\"caf\\ufffd\"");
  EXPECT_EQ(JsonString("\xC0\xA7"), "\"\\ufffd\\ufffd\"");
}

TEST(Json, AdminValuesByKindAndColumnType) {
  EXPECT_EQ(admin::JsonValue(Variant::Null(), ado::adtype::kVarChar), "null");
  EXPECT_EQ(admin::JsonValue(Variant(), ado::adtype::kInteger), "null");
  EXPECT_EQ(admin::JsonValue(Variant(7), ado::adtype::kInteger), "7");
  // Engines without a Boolean type give bit columns back as numbers.
  EXPECT_EQ(admin::JsonValue(Variant(1), ado::adtype::kBoolean), "true");
  EXPECT_EQ(admin::JsonValue(Variant(0.0), ado::adtype::kBoolean), "false");
  EXPECT_EQ(admin::JsonValue(Variant(false), ado::adtype::kBoolean), "false");
  EXPECT_EQ(admin::JsonValue(Variant(2.5), ado::adtype::kDouble), "2.5");
  EXPECT_EQ(admin::JsonValue(Variant(std::numeric_limits<double>::infinity()), ado::adtype::kDouble), "null");
  EXPECT_EQ(admin::JsonValue(Variant("0003"), ado::adtype::kChar), "\"0003\"");
  EXPECT_EQ(admin::JsonValue(Variant(*DateTime::ParseIso("2024-05-01")), ado::adtype::kDBTimeStamp),
            "\"2024-05-01 00:00:00\"");
}

TEST(Json, AdminRowsOfARealTable) {
  test::TempDataRoot root;
  test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
  auto db = test::Connect("CASA", "EMPRESA1");
  Exec(*db, "CREATE TABLE T (c varchar(10), n int, b bit, x varchar(10))");
  Exec(*db, "INSERT INTO T (c, n, b, x) VALUES ('a\"b', 3, 1, NULL)");
  auto rs = db->Conexion()->OpenRecordset("SELECT c, n, b, x FROM T", 0, 1);
  ASSERT_FALSE(rs->EOF_());
  EXPECT_EQ(admin::JsonRow(*rs), "{\"c\": \"a\\\"b\", \"n\": 3, \"b\": true, \"x\": null}");
}

// ---- the lookup-definitions file ------------------------------------------------------------

std::string Registro(const std::string& nombre, const std::string& tabla, const std::string& campos,
                     const std::string& adicional) {
  auto campo = [](std::string v, size_t largo) {
    v.resize(largo, ' ');
    return v;
  };
  return campo(nombre, 100) + campo(tabla, 100) + campo(campos, 500) + campo(adicional, 500) + "\r\n";
}

TEST(DefinicionesConsulta, RecordsAreReadInWindows1252AndTrimmed) {
  const std::string carpeta = test::MakeTempFolder();
  const std::string ruta = carpeta + "/consultas.cvl";
  {
    std::ofstream f(ruta, std::ios::binary);
    f << Registro("Estados de reparaci\xF3n", "V_TA_ETAPAS", "CODIGOESTADO, Descripcion", "")
      << Registro("  Tiendas \x80", "V_TA_TPV", "CODIGO", "WHERE ACTIVO = 1")
      << std::string(600, 'x');  // a record cut short is not read
  }
  const auto defs = LeerDefinicionesConsulta(ruta);
  ASSERT_EQ(defs.size(), 2u);
  EXPECT_EQ(defs[0].Nombre, "Estados de reparación");
  EXPECT_EQ(defs[0].Tabla, "V_TA_ETAPAS");
  EXPECT_EQ(defs[0].Campos, "CODIGOESTADO, Descripcion");
  EXPECT_EQ(defs[0].Adicional, "");
  EXPECT_EQ(defs[1].Nombre, "Tiendas €");
  EXPECT_EQ(defs[1].Adicional, "WHERE ACTIVO = 1");
  EXPECT_TRUE(LeerDefinicionesConsulta(carpeta + "/no-existe.cvl").empty());
  std::filesystem::remove_all(carpeta);
}

// ---- database names and ADO types -----------------------------------------------------------

TEST(DatabaseNames, OnlyNamesThatStayInTheirServerFolder) {
  EXPECT_TRUE(engine::ValidDatabaseName("EMPRESA1", 128));
  EXPECT_TRUE(engine::ValidDatabaseName("CV_TORNASOLADAS", 128));
  EXPECT_TRUE(engine::ValidDatabaseName("año 2024", 128));
  EXPECT_FALSE(engine::ValidDatabaseName("", 128));
  EXPECT_FALSE(engine::ValidDatabaseName("../casa/empresa1", 128));
  EXPECT_FALSE(engine::ValidDatabaseName("a\\b", 128));
  EXPECT_FALSE(engine::ValidDatabaseName(".oculta", 128));
  EXPECT_FALSE(engine::ValidDatabaseName(std::string("a\0b", 3), 128));
  EXPECT_TRUE(engine::ValidDatabaseName(std::string(63, 'a'), 63));
  EXPECT_FALSE(engine::ValidDatabaseName(std::string(64, 'a'), 63));
}

TEST(AdoTypes, DeclaredTypesMapToTheirCodesAndSizes) {
  using namespace ado::adtype;
  long size = -1;
  EXPECT_EQ(engine::AdoTypeFromDeclared("varchar(4)", &size), kVarChar);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(engine::AdoTypeFromDeclared(" CHAR ( 10 ) ", &size), kChar);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(engine::AdoTypeFromDeclared("int IDENTITY(1,1)", &size), kInteger);
  EXPECT_EQ(engine::AdoTypeFromDeclared("varchar collate tsql_ci", nullptr), kVarChar);
  EXPECT_EQ(engine::AdoTypeFromDeclared("decimal(19,4)", &size), kNumeric);
  EXPECT_EQ(engine::AdoTypeFromDeclared("money", nullptr), kCurrency);
  EXPECT_EQ(engine::AdoTypeFromDeclared("BIT", nullptr), kBoolean);
  EXPECT_EQ(engine::AdoTypeFromDeclared("datetime", nullptr), kDBTimeStamp);
  EXPECT_EQ(engine::AdoTypeFromDeclared("nvarchar(max)", &size), kVarWChar);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(engine::AdoTypeFromDeclared("image", nullptr), kLongVarBinary);
  EXPECT_EQ(engine::AdoTypeFromDeclared("uniqueidentifier", nullptr), kGuid);
  // Anything unknown is read as text.
  EXPECT_EQ(engine::AdoTypeFromDeclared("geography", nullptr), kVarChar);
  EXPECT_EQ(engine::AdoTypeFromDeclared("", nullptr), kVarChar);
}

TEST(AdoTypes, ClassesOfTheCodes) {
  using namespace ado::adtype;
  for (int t : {kSmallInt, kInteger, kTinyInt, kBigInt}) {
    EXPECT_TRUE(IsInteger(t)) << t;
    EXPECT_TRUE(IsNumeric(t)) << t;
  }
  for (int t : {kSingle, kDouble, kCurrency, kNumeric}) {
    EXPECT_FALSE(IsInteger(t)) << t;
    EXPECT_TRUE(IsNumeric(t)) << t;
  }
  // A Boolean is not a number: the listing aligns and sorts numbers only.
  EXPECT_FALSE(IsNumeric(kBoolean));
  for (int t : {kDate, kDBDate, kDBTime, kDBTimeStamp}) EXPECT_TRUE(IsDate(t)) << t;
  for (int t : {kChar, kWChar, kVarChar, kLongVarChar, kVarWChar, kLongVarWChar}) {
    EXPECT_TRUE(IsText(t)) << t;
    EXPECT_FALSE(IsNumeric(t) || IsDate(t) || IsBinary(t)) << t;
  }
  EXPECT_TRUE(IsBinary(kVarBinary) && IsBinary(kLongVarBinary));
  EXPECT_FALSE(IsText(kGuid) || IsNumeric(kGuid) || IsDate(kGuid) || IsBinary(kGuid));
}

TEST(AdoTypes, ColumnsOfARealTableComeBackInTheirClasses) {
  test::TempDataRoot root;
  test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
  auto db = test::Connect("CASA", "EMPRESA1");
  Exec(*db,
       "CREATE TABLE T (i int, s smallint, m money, d decimal(9,2), f float, b bit, t datetime, "
       "c char(4), v varchar(20), n nvarchar(20))");
  Exec(*db, "INSERT INTO T VALUES (1, 2, 3.5, 4.25, 5.5, 1, '2024-01-02', 'ab', 'cd', 'ef')");
  auto rs = db->Conexion()->OpenRecordset("SELECT * FROM T", 0, 1);
  using namespace ado::adtype;
  auto tipo = [&](long i) { return rs->Fields(i).Type(); };
  EXPECT_TRUE(IsInteger(tipo(0)) && IsInteger(tipo(1)));
  EXPECT_TRUE(IsNumeric(tipo(2)) && IsNumeric(tipo(3)) && IsNumeric(tipo(4)));
  EXPECT_FALSE(IsInteger(tipo(2)) || IsInteger(tipo(3)) || IsInteger(tipo(4)));
  EXPECT_EQ(tipo(5), kBoolean);
  EXPECT_TRUE(IsDate(tipo(6)));
  for (long i = 7; i <= 9; ++i) EXPECT_TRUE(IsText(tipo(i))) << i;
}

}  // namespace
}  // namespace etapas
