// The shared module on real databases and real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "components/cls_consulta.h"
#include "components/cls_util.h"
#include "components/failure.h"
#include "components/text.h"
#include "system_fixture.h"

namespace etapas {
namespace {

using test::Exec;
using test::Rows;
using test::Scalar;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Common : public test::SystemTest {};

// ---- The failure convention -------------------------------------------------------------

TEST(FailureConvention, RetryRepeatsIgnoreSkipsAnythingElseLeavesAndReleases) {
  std::vector<int> answers = {kReintentar, kIgnorar, kAbandonar};
  size_t asked = 0;
  std::string trace;
  bool released = false;
  int attempts = 0;
  Pasos p([&](const RaisedError& e) {
    trace += "[" + std::to_string(e.Number()) + "]";
    return answers[asked++];
  });
  p.AlAbandonar([&] { released = true; });
  p.Paso([&] {
    trace += "a";
    if (++attempts == 1) throw RaisedError(11, "once");
  });
  p.Paso([&] {
    trace += "b";
    throw RaisedError(12, "ignored");
  });
  p.Paso([&] {
    trace += "c";
    throw std::out_of_range("bad index");
  });
  p.Paso([&] { trace += "d"; });
  EXPECT_FALSE(p.Ejecutar());
  EXPECT_EQ(trace, "a[11]ab[12]c[9]");
  EXPECT_TRUE(released);

  // A step can end the routine.
  std::string order;
  Pasos q(SaltarSiempre);
  q.Paso([&] { order += "1"; });
  q.Paso([&] {
    order += "2";
    q.Terminar();
  });
  q.Paso([&] { order += "3"; });
  EXPECT_TRUE(q.Ejecutar());
  EXPECT_EQ(order, "12");
}

// A reporter answering from a list, writing each failure's number into the trace.
Reportador Respondiendo(std::vector<int> answers, std::string& trace) {
  auto next = std::make_shared<size_t>(0);
  return [answers = std::move(answers), next, &trace](const RaisedError& e) {
    trace += "[" + std::to_string(e.Number()) + "]";
    return *next < answers.size() ? answers[(*next)++] : kAbandonar;
  };
}

TEST(FailureConvention, ABranchIsASubListWithTheSameAnswers) {
  std::string trace;
  int attempts = 0;
  bool released = false;
  Pasos p(Respondiendo({kReintentar, kIgnorar, kIgnorar}, trace));
  p.AlAbandonar([&] { released = true; });
  Pasos::Lista rama, otra;
  p.Paso([&] { trace += "a"; });
  p.Rama([&] { return attempts >= 0 ? &rama : &otra; });
  p.Paso([&] { trace += "z"; });
  rama.Paso([&] {
    trace += "b";
    if (++attempts == 1) throw RaisedError(11, "retried");
  });
  rama.Paso([&] {
    trace += "c";
    throw RaisedError(12, "ignored");
  });
  rama.Paso([&] {
    trace += "d";
    throw RaisedError(13, "the last one ignored");
  });
  otra.Paso([&] { trace += "x"; });
  // Retry repeats the branch's step, ignore goes on inside it, and after its last step
  // with the step that follows the branch.
  EXPECT_TRUE(p.Ejecutar());
  EXPECT_EQ(trace, "ab[11]bc[12]d[13]z");
  EXPECT_FALSE(released);

  // Anything else leaves the routine from inside the branch, releasing once.
  trace.clear();
  attempts = 0;
  Pasos q(Respondiendo({kAbandonar}, trace));
  int releases = 0;
  q.AlAbandonar([&] { ++releases; });
  q.Sublista(rama);
  q.Paso([&] { trace += "z"; });
  EXPECT_FALSE(q.Ejecutar());
  EXPECT_EQ(trace, "b[11]");
  EXPECT_EQ(releases, 1);

  // Terminar ends the whole routine from a sub-list; TerminarLista only the sub-list.
  trace.clear();
  Pasos r(SaltarSiempre);
  Pasos::Lista termina, sale, dentro;
  termina.Paso([&] {
    trace += "t";
    r.Terminar();
  });
  termina.Paso([&] { trace += "!"; });
  sale.Paso([&] { trace += "s"; });
  sale.Sublista(dentro);
  sale.Paso([&] { trace += "!"; });
  dentro.Paso([&] {
    trace += "d";
    r.TerminarLista();
  });
  dentro.Paso([&] { trace += "!"; });
  bool terminar = false;
  r.Rama([&] { return terminar ? &termina : &sale; });
  r.Paso([&] { trace += "|"; });
  r.Sublista(sale);
  r.Paso([&] { trace += "+"; });
  EXPECT_TRUE(r.Ejecutar());
  EXPECT_EQ(trace, "sd!|sd!+");  // TerminarLista left "dentro" only, each time
  trace.clear();
  terminar = true;
  EXPECT_TRUE(r.Ejecutar());
  EXPECT_EQ(trace, "t");

  // A choice that fails: retried, it chooses again; ignored, no list runs.
  trace.clear();
  int choices = 0;
  Pasos s(Respondiendo({kReintentar, kIgnorar}, trace));
  s.Rama([&]() -> const Pasos::Lista* {
    if (++choices <= 2) throw RaisedError(20 + choices, "choice");
    return &otra;
  });
  s.Paso([&] { trace += "z"; });
  EXPECT_TRUE(s.Ejecutar());
  EXPECT_EQ(trace, "[21][22]z");
  trace.clear();
  EXPECT_TRUE(s.Ejecutar());  // the third choice works
  EXPECT_EQ(trace, "xz");
}

TEST(FailureConvention, ALoopRunsItsBodyPerElementWithTheSameAnswers) {
  std::string trace;
  std::vector<std::string> elementos = {"A", "B", "C", "D"};
  size_t i = 99;
  int fallos = 0;
  Pasos p(Respondiendo({kReintentar, kIgnorar, kAbandonar}, trace));
  bool released = false;
  p.AlAbandonar([&] { released = true; });
  Pasos::Lista cuerpo;
  p.Paso([&] { trace += "<"; });
  p.PorCada([&] { return elementos.size(); }, i, cuerpo);
  p.Paso([&] { trace += ">"; });
  cuerpo.Paso([&] {
    trace += elementos[i];
    if (elementos[i] == "B") p.TerminarLista();  // B: on with the next element
  });
  cuerpo.Paso([&] {
    trace += "1";
    if (elementos[i] == "A" && ++fallos == 1) throw RaisedError(31, "retried");
    if (elementos[i] == "C") throw RaisedError(32, "ignored");
  });
  cuerpo.Paso([&] {
    trace += "2";
    if (elementos[i] == "D") throw RaisedError(33, "left");
  });
  // Retry repeats the step of the same element, ignore goes on with the element's next
  // step, TerminarLista with the next element, anything else leaves the whole routine.
  EXPECT_FALSE(p.Ejecutar());
  EXPECT_EQ(trace, "<A1[31]12BC1[32]2D12[33]");
  EXPECT_TRUE(released);

  // The index starts again with every run; Terminar from the body ends the routine.
  trace.clear();
  Pasos q(SaltarSiempre);
  Pasos::Lista corto;
  corto.Paso([&] {
    trace += elementos[i];
    if (i == 1) q.Terminar();
  });
  q.PorCada([&] { return elementos.size(); }, i, corto);
  q.Paso([&] { trace += ">"; });
  EXPECT_TRUE(q.Ejecutar());
  EXPECT_TRUE(q.Ejecutar());
  EXPECT_EQ(trace, "ABAB");

  // A count that fails: retried, counted again; ignored, the loop ends.
  trace.clear();
  int cuentas = 0;
  Pasos r(Respondiendo({kReintentar, kIgnorar}, trace));
  r.PorCada(
      [&]() -> size_t {
        if (++cuentas == 1 || cuentas == 3) throw RaisedError(40 + cuentas, "count");
        return elementos.size();
      },
      i, corto);
  r.Paso([&] { trace += ">"; });
  EXPECT_TRUE(r.Ejecutar());
  EXPECT_EQ(trace, "[41]A[43]>");
}

TEST(FailureConvention, AWhileLoopAsksItsConditionAsAStep) {
  std::string trace;
  int vueltas = 0, preguntas = 0;
  Pasos p(Respondiendo({kReintentar, kIgnorar}, trace));
  Pasos::Lista cuerpo;
  cuerpo.Paso([&] { trace += std::to_string(++vueltas); });
  p.Mientras(
      [&] {
        // The second question fails twice: retried it is asked again, ignored the body runs.
        if (++preguntas == 2 || preguntas == 3) throw RaisedError(50 + preguntas, "condition");
        return vueltas < 3;
      },
      cuerpo);
  p.Paso([&] { trace += "."; });
  EXPECT_TRUE(p.Ejecutar());
  EXPECT_EQ(trace, "1[52][53]23.");

  // A condition false at once runs no turn; TerminarLista in the body starts the next turn.
  trace.clear();
  vueltas = 0;
  Pasos q(SaltarSiempre);
  Pasos::Lista salta;
  salta.Paso([&] {
    ++vueltas;
    if (vueltas % 2 == 1) q.TerminarLista();
  });
  salta.Paso([&] { trace += std::to_string(vueltas); });
  q.Mientras([&] { return vueltas < 4; }, salta);
  q.Mientras([] { return false; }, salta);
  EXPECT_TRUE(q.Ejecutar());
  EXPECT_EQ(trace, "24");
}

// ---- Error reporting ----------------------------------------------------------------------

TEST_F(Common, ReportaErrorShowsLogsAndAnswers) {
  platform.answers = {4};
  const std::string log = root.Path() + "/temp/CVERR.LOG";
  EXPECT_EQ(ReportaError(RaisedError(3704, "  closed object  ", "ADODB"), std::nullopt, "GActualizarDatoScript"), 4);
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].title, "ADODB - GActualizarDatoScript Aviso al operador!!! - 2 ");
  EXPECT_EQ(platform.shown[0].prompt, "Ha ocurrido el Siguiente Error (3704) closed object");
  EXPECT_EQ(platform.shown[0].style, 18);

  // Without a routine name, answered OK, with a custom button set.
  EXPECT_EQ(ReportaError(RaisedError(5, "bad", "etapas"), 0), 1);
  EXPECT_EQ(platform.shown[1].title, "etapas Aviso al operador!!! - 2 ");
  EXPECT_EQ(platform.shown[1].style, 0);

  // Error 0: nothing shown, nothing logged, answer 0.
  EXPECT_EQ(ReportaError(RaisedError(0, "nada")), 0);
  EXPECT_EQ(platform.shown.size(), 2u);

  const std::string content = ReadFile(log);
  auto lines = test::Lines(content);
  ASSERT_EQ(lines.size(), 2u);
  // MM-DD-YYYY HH:MM:SS, then the fixed words; Windows-1252 with CR LF.
  EXPECT_EQ(lines[0].substr(2, 1), "-");
  EXPECT_EQ(lines[0].substr(10, 1), " ");
  EXPECT_EQ(lines[0].substr(19),
            " Rutina: - GActualizarDatoScript Mensaje Ha ocurrido el Siguiente Error (3704) closed object Respondi\xF3"
            " : Reintentar\r");
  EXPECT_EQ(lines[1].substr(19), " Rutina:  Mensaje Ha ocurrido el Siguiente Error (5) bad Respondi\xF3 : \r");
}

TEST_F(Common, LogFolderComesFromTempThenTmpThenTheSystemFolder) {
  platform.environment = {{"TEMP", root.Path() + "/t1/"}, {"TMP", root.Path() + "/t2"}};
  EXPECT_EQ(CarpetaLog(), root.Path() + "/t1/");
  platform.environment = {{"TEMP", "  "}, {"TMP", root.Path() + "/t2"}};
  EXPECT_EQ(CarpetaLog(), root.Path() + "/t2/");
  platform.environment = {{"TEMP", ""}, {"TMP", ""}};
  EXPECT_EQ(CarpetaLog(), root.Path() + "/");
  // An unwritable folder loses the line but still asks.
  platform.environment = {{"TEMP", root.Path() + "/no/such/folder"}};
  platform.answers = {5};
  EXPECT_EQ(ReportaError(RaisedError(1, "x")), 5);
}

TEST_F(Common, GrabaErrorAuxRecordsTheFailedChange) {
  ConnectSessions("operador");
  std::string proceso;
  GrabaErrorAux("INSERT INTO X VALUES (1)", proceso, 208, std::string(300, 'd'));
  EXPECT_EQ(proceso, "etapas");
  std::string otro = "etapas/SUCURSAL1";
  GrabaErrorAux("UPDATE X SET a = 1", otro, 547, "refused");
  auto rows = Rows(Home(), "SELECT Proceso, Error, LEN(Descripcion), SQL, pc, Usuario, fecha FROM AUX_ERR ORDER BY Id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].substr(0, rows[0].rfind('|')), "etapas|208|250|INSERT INTO X VALUES (1)|PC-PRUEBA|operador");
  EXPECT_EQ(rows[1].substr(0, rows[1].rfind('|')), "etapas/SUCURSAL1|547|7|UPDATE X SET a = 1|PC-PRUEBA|operador");
  const std::string fecha = rows[0].substr(rows[0].rfind('|') + 1);  // dd/mm/yy hh:mm
  ASSERT_EQ(fecha.size(), 14u);
  EXPECT_EQ(std::string() + fecha[2] + fecha[5] + fecha[8] + fecha[11], "// :");

  // No table to write to: nothing happens, nothing is shown.
  Exec(Home(), "DROP TABLE AUX_ERR");
  GrabaErrorAux("x", proceso, 1, "y");
  EXPECT_TRUE(platform.shown.empty());
}

// ---- Script execution and builders ----------------------------------------------------

TEST_F(Common, ScriptsRunAsOneTransactionAndFailuresAreRolledBackAndRecorded) {
  ConnectSessions();
  bool hayError = true;
  long numero = 99;
  std::string script = "previo", mensaje = "previo";

  // Nothing to send: outputs untouched, no error.
  GActualizarDatoScript({"", "   ", ""}, hayError, numero, false, false, script, mensaje, true);
  EXPECT_FALSE(hayError);
  EXPECT_EQ(numero, 99);
  EXPECT_EQ(script, "previo");

  const std::string insert = "INSERT INTO TA_MENU (Menu, Clave, Nombre) VALUES ('', 'A', 'uno')";
  GActualizarDatoScript({"", "   " + insert, ""}, hayError, numero, false, false, script, mensaje, true);
  EXPECT_FALSE(hayError);
  EXPECT_EQ(numero, 0);
  EXPECT_EQ(script, "BEGIN TRANSACTION \r\r\r   " + insert + "\r");
  EXPECT_EQ(Scalar(Home(), "SELECT Nombre FROM TA_MENU WHERE Clave = 'a'"), "uno");

  // The second statement is refused: the first is rolled back too.
  const std::string again = "INSERT INTO TA_MENU (Menu, Clave, Nombre) VALUES ('', 'B', 'dos')";
  GActualizarDatoScript({again, insert}, hayError, numero, false, false, script, mensaje, true);
  EXPECT_TRUE(hayError);
  EXPECT_EQ(numero, 2627);
  EXPECT_EQ(mensaje.substr(0, 7), "2627 : ");
  EXPECT_EQ(mensaje.substr(mensaje.size() - 2), "\r\n");
  EXPECT_EQ(mensaje.find("terminated"), std::string::npos);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM TA_MENU"), "1");
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].title, "Aviso al Operador!");
  EXPECT_EQ(platform.shown[0].style, 16);
  EXPECT_EQ(platform.shown[0].prompt, mensaje);
  EXPECT_EQ(Rows(Home(), "SELECT Proceso, Error, SQL FROM AUX_ERR"),
            (std::vector<std::string>{"etapas|2627|BEGIN TRANSACTION \r\r\r" + again + "\r" + insert + "\r"}));
  // The session is usable afterwards: no transaction was left open.
  Exec(Home(), "BEGIN TRANSACTION");
  Exec(Home(), "COMMIT TRANSACTION");

  // Duplicates ignored quietly: still rolled back and recorded, but nothing shown.
  GActualizarDatoScript({insert}, hayError, numero, true, false, script, mensaje, true);
  EXPECT_TRUE(hayError);
  EXPECT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(mensaje.find("2627 : "), std::string::npos);
  EXPECT_EQ(Scalar(Home(), "SELECT Descripcion FROM AUX_ERR WHERE Id = 2"), "");

  // A missing table: one error, one line.
  GActualizarDatoScript({"UPDATE NO_EXISTE SET a = 1 WHERE b = 2"}, hayError, numero, false, false, script, mensaje,
                        false);
  EXPECT_EQ(numero, 208);
  EXPECT_EQ(mensaje.substr(0, 6), "208 : ");
  EXPECT_EQ(platform.shown.size(), 1u);  // MuestraMensaje false
}

// A session that never connected: the routine reports through its convention, never
// dereferences the missing connection.
TEST_F(Common, AScriptOnASessionThatNeverConnectedIsReported) {
  bool hayError = false;
  long numero = 99;
  std::string script, mensaje;
  GActualizarDatoScript({"INSERT INTO AUX_ERR (Descripcion) VALUES ('x')"}, hayError, numero, false, false, script,
                        mensaje, true);
  EXPECT_TRUE(hayError);
  ASSERT_EQ(platform.shown.size(), 1u);  // the default answer leaves at the first report
  EXPECT_NE(platform.shown[0].title.find("GActualizarDatoScript"), std::string::npos);
  EXPECT_NE(platform.shown[0].prompt.find("3709"), std::string::npos);

  // Ignoring every report goes through to the end of the routine.
  platform.shown.clear();
  platform.answers = {5, 5, 5, 5};
  GActualizarDatoScript({"INSERT INTO AUX_ERR (Descripcion) VALUES ('x')"}, hayError, numero, false, false, script,
                        mensaje, true);
  EXPECT_TRUE(hayError);
  EXPECT_GE(platform.shown.size(), 1u);
  for (const auto& m : platform.shown) EXPECT_NE(m.title.find("GActualizarDatoScript"), std::string::npos);
}

TEST(ErrorText, ThreeErrorsGiveTwoLines) {
  ado::Errors errores;
  errores.Add({547, 547, "uno", "", ""});
  errores.Add({2627, 2627, "dos", "", ""});
  errores.Add({3621, 3621, "tres", "", ""});
  EXPECT_EQ(TextoErrores(errores), "547 : uno\r\n2627 : dos\r\n");
}

TEST_F(Common, BuildersWriteInsertAndUpdateTexts) {
  ConnectSessions();
  std::string v1 = "PC1", v2 = "O'Brien", v3 = "null", v4 = " NULL", v5 = "x", v6 = "14/05/24 10:31";
  AgregaCampo("Maquina", v1, "'", true);
  AgregaCampo("Usuario", v2, "'", false);
  AgregaCampo("Formulario", v3, "'", false);
  AgregaCampo("Tarea", v4, "'", false);
  AgregaCampo("Ingreso", v6, "'", false);
  AgregaCampo("NombreUsuario", v5, "'", false);
  EXPECT_EQ(v2, "OBrien");
  ListaSentencias.assign(1, "");
  std::string condicion;
  ArmaSentencia(ListaCampos, ListaSentencias, "Control_Acceso", false, condicion, false);
  ASSERT_EQ(ListaSentencias.size(), 3u);
  EXPECT_EQ(ListaSentencias[1],
            "INSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) VALUES "
            "('PC1','OBrien',Null,' NULL','14/05/24 10:31','x')");
  EXPECT_EQ(ListaSentencias[2], "");
  ASSERT_EQ(ListaCampos.size(), 1u);

  // The reset list gives empty parentheses.
  ArmaSentencia(ListaCampos, ListaSentencias, "T", false, condicion, false);
  EXPECT_EQ(ListaSentencias[3], "INSERT INTO T () VALUES ()");

  std::string a = "1", b = "2";
  AgregaCampo("A", a, "'", true);
  AgregaCampo("B", b, "'", false);
  condicion = "Id = 3";
  ArmaSentencia(ListaCampos, ListaSentencias, "T", true, condicion, true);
  EXPECT_EQ(ListaSentencias[5], "UPDATE T SET A = '1',B = '2'  WHERE Id = 3");
  EXPECT_EQ(condicion, " WHERE Id = 3");
  EXPECT_EQ(ListaCampos.size(), 2u);  // kept
  condicion = "where Id = 4";
  ArmaSentencia(ListaCampos, ListaSentencias, "T", true, condicion, false);
  EXPECT_EQ(ListaSentencias[7], "UPDATE T SET A = '1',B = '2' where Id = 4");
  condicion = "";
  ArmaSentencia(ListaCampos, ListaSentencias, "T", true, condicion, false);
  EXPECT_EQ(ListaSentencias[9].substr(ListaSentencias[9].size() - 8), "  WHERE ");

  // Dialect adaptation only for Oracle sessions.
  EXPECT_EQ(AdaptaSQL("Select TOP 1 * from Control_Acceso  with(nolock) "),
            "Select TOP 1 * from Control_Acceso  with(nolock) ");
  EXPECT_EQ(AdaptaSQLPara("Select TOP 1 * from Control_Acceso  with(nolock) ", "OraOLEDB.Oracle"),
            "Select  *  from Control_Acceso  with(nolock)  WHERE ROWNUM <=  1 ");
  EXPECT_EQ(AdaptaSQLPara("len", "oracle"), "LENGTH");
  EXPECT_EQ(AdaptaSQLPara("upper", "oracle"), "upper");
  EXPECT_EQ(AdaptaSQLPara("SELECT Laptop, top 5 * FROM T", "oracle"), "SELECT Lap *  FROM T WHERE ROWNUM <= , top 5 ");
  EXPECT_THROW(AdaptaSQLPara("SELECT top 5 a FROM T", "oracle"), RaisedError);
}

// ---- Configuration store --------------------------------------------------------------

TEST_F(Common, CfgReadsKeysAsStored) {
  std::string aux = "previo";
  EXPECT_EQ(Cfg("X", aux), "");  // not connected
  EXPECT_EQ(aux, "previo");
  ConnectSessions();
  Exec(Home(),
       "INSERT INTO TA_CONFIGURACION (Clave, Valor, ValorAux) VALUES ('VACIA', '', 'a'), "
       "('CON', ' valor ', ' aux '), ('[FECHA HASTA]', '31/12/2024', NULL), ('THEME', '  ', NULL)");
  EXPECT_EQ(Cfg("NO_HAY", aux), " ");
  EXPECT_EQ(aux, "");
  EXPECT_EQ(Cfg("VACIA", aux), "");
  EXPECT_EQ(aux, "a");
  EXPECT_EQ(Cfg("  con ", aux), " valor ");
  EXPECT_EQ(aux, " aux ");
  EXPECT_EQ(TablaConfiguracion, "TA_CONFIGURACION");
  EXPECT_EQ(Cfg(" [fecha hasta] ", aux), "31/12/2024");
  EXPECT_EQ(Cfg("theme", aux), "1");
  Exec(Home(), "DELETE TA_CONFIGURACION WHERE Clave = 'THEME'");
  EXPECT_EQ(Cfg("THEME", aux), "1");
  EXPECT_EQ(Cfg("it's", aux), " ");  // a quote cannot end the literal

  // A failure asks; ignore goes on, anything else gives an empty text.
  Exec(Stats(), "DROP TABLE TA_CONFIGURACION");
  platform.answers = {3};
  EXPECT_EQ(CfgCV("TimeOut", aux), "");
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_NE(platform.shown[0].title.find(" - CfgCV Aviso"), std::string::npos);
}

TEST_F(Common, GrabaCfgCVInsertsOrUpdatesTheStatisticsKey) {
  ConnectSessions();
  std::string aux;
  (void)CfgCV("x", aux);  // sets the table name, as start-up does
  GrabaCfgCV(" TimeOut ", Variant(0), "", false, "BaseDeDatos", true);
  EXPECT_EQ(Rows(Stats(), "SELECT Grupo, Clave, Valor, ValorAux, PoliticaNegocio FROM TA_CONFIGURACION"),
            (std::vector<std::string>{"BaseDeDatos|TIMEOUT|0||False"}));
  Exec(Stats(), "UPDATE TA_CONFIGURACION SET ValorAux = 'viejo'");
  GrabaCfgCV("TIMEOUT", Variant(" 600 "), "", true, "BaseDeDatos", false);
  EXPECT_EQ(Rows(Stats(), "SELECT Clave, Valor, ValorAux, PoliticaNegocio FROM TA_CONFIGURACION"),
            (std::vector<std::string>{"TIMEOUT| 600 |viejo|True"}));
  GrabaCfgCV("grserver", Variant("host"), "  nuevo ", false, "DATOS", true);
  EXPECT_EQ(CfgCV("GRSERVER", aux), "host");
  EXPECT_EQ(aux, "nuevo");
}

TEST_F(Common, CargaConfiguracionAppliesEachRule) {
  ConnectSessions("ana");
  SesionSistema.UsuarioLogeado = "ana";
  Exec(Home(),
       "INSERT INTO TA_CONFIGURACION (Clave, Valor) VALUES "
       "('MostrarStockenConsultas','si'),('TituloClientes','  Clientes  '),('UsaConsultaLike',' SI'),"
       "('CantidadDecimales',' 2 '),('UsaFacturaProforma','SI'),('PERIODO',' 2 0 2 4.5'),"
       "('RazonSocialPorUneg',' si '),('VALIDACODIGOBARRA',' si'),('CFondo','0'),('CLetra','255.5'),"
       "('ModuloOrdenDeTrabajo','no'),('V_ModificaCPrecio','No'),('C_ModificaCPrecio','S'),"
       "('MaxDto','12,34567'),('PideClave_StockNeg','  '),('CONDIVA','2'),('Top_Default','   '),"
       "('UNIDADDEMEDIDA_M3',' m3 ')");
  Exec(Home(), "INSERT INTO ta_usuarios (Nombre, UNegocio, verproforma) VALUES ('ANA', '', 0)");
  CargaConfiguracion("/prog/");
  const TConfigSistema& c = ConfigSistema;
  EXPECT_EQ(TablaConfiguracion, "ta_configuracion");
  EXPECT_TRUE(c.MostrarStockenConsultas);
  EXPECT_EQ(c.TituloClientes, "Clientes");
  EXPECT_EQ(c.ArchivoDocTareas, "/prog/CVDOCTareas.cvl");
  EXPECT_FALSE(c.UsaConsultaLike);        // untrimmed " SI" is not "SI"
  EXPECT_EQ(c.CantidadDecimales, " 2 ");  // raw
  EXPECT_EQ(c.TituloProveedores, "");
  EXPECT_FALSE(c.UsaFacturaProforma);  // narrowed by the user's verproforma
  EXPECT_EQ(c.UNegocio, "   1");
  EXPECT_EQ(c.UNIDADDEMEDIDA_M3, "m3");
  EXPECT_EQ(c.PERIODO, 2024);  // blanks removed: 2024.5, halves to even
  EXPECT_TRUE(c.RazonSocialPorUneg);
  EXPECT_TRUE(c.VALIDACODIGOBARRA);
  EXPECT_EQ(c.CFondo, 16776960);
  EXPECT_EQ(c.CLetra, 256);
  EXPECT_FALSE(c.ModuloOrdenDeTrabajo);
  EXPECT_FALSE(c.V_ModificaCPrecio);
  EXPECT_TRUE(c.C_ModificaCPrecio);
  EXPECT_FALSE(c.MADERERA);
  EXPECT_EQ(c.MaxDto, 123457);  // 12.34567 in four decimals
  EXPECT_EQ(c.MaxDtoProforma, 0);
  EXPECT_FALSE(c.PideClave_StockNeg);
  EXPECT_EQ(c.CONDIVAEMPRESA, 2);
  EXPECT_EQ(c.Top_Default, "1000");
}

TEST_F(Common, CargaConfiguracionWithNothingStored) {
  ConnectSessions();
  SesionSistema.UsuarioLogeado = "nadie";
  Exec(Home(), "INSERT INTO TA_CONFIGURACION (Clave, Valor) VALUES ('PERIODO', '99999'), ('UsaFacturaProforma', 'SI')");
  ConfigSistema.PERIODO = 7;
  CargaConfiguracion("/p/");
  EXPECT_EQ(ConfigSistema.PERIODO, 7);            // out of range leaves the field
  EXPECT_TRUE(ConfigSistema.UsaFacturaProforma);  // no user row: unchanged
  EXPECT_TRUE(ConfigSistema.ModuloOrdenDeTrabajo);
  EXPECT_EQ(ConfigSistema.CantidadDecimales, " ");
  EXPECT_EQ(ConfigSistema.CFondo, 16776960);
  EXPECT_EQ(ConfigSistema.CLetra, 0);
  EXPECT_EQ(ConfigSistema.CONDIVAEMPRESA, 1);
  EXPECT_EQ(ConfigSistema.UNegocio, "   1");
  EXPECT_TRUE(platform.shown.empty());

  // A user name with a quote is a value, not SQL.
  SesionSistema.UsuarioLogeado = "o'brien";
  Exec(Home(), "INSERT INTO ta_usuarios (Nombre, UNegocio) VALUES ('O''BRIEN', '  7')");
  CargaConfiguracion("/p/");
  EXPECT_EQ(ConfigSistema.UNegocio, "  7");
}

// ---- Value helpers --------------------------------------------------------------------

TEST(ValueHelpers, BooleansPatternsAndServerNames) {
  EXPECT_TRUE(ValorBooleano("si", false));
  EXPECT_FALSE(ValorBooleano(" si", false));
  EXPECT_TRUE(ValorBooleano("", true));
  EXPECT_FALSE(ValorBooleano("Falso", true));
  EXPECT_FALSE(ValorBooleano("2", false));
  EXPECT_TRUE(ValorBooleano("2", true));
  EXPECT_TRUE(ValorBooleano("Verdadero", false));

  DateTime d{2024, 5, 14, 10, 31, 7, 853};
  EXPECT_EQ(Formatear(d, FormatoFechaHora()), "14/05/24 10:31");
  EXPECT_EQ(Formatear(d, FormatoFecha() + " " + FormatoHora()), "14/05/24 10:31");

  EXPECT_EQ(ExtraeServidor("SRV"), "SRV");
  EXPECT_EQ(ExtraeServidor("SRV:1433"), "SRV");
  EXPECT_EQ(ExtraeServidor("tcp/HOST:1433"), "HOST");
  EXPECT_EQ(ExtraeServidor("a/b/c"), "b/c");
  EXPECT_EQ(ExtraeServidor(":1433"), "");
  EXPECT_EQ(ExtraeServidor("/"), "");
  EXPECT_EQ(ExtraeServidor(" SRV "), " SRV ");

  EXPECT_EQ(ValNumero(" 4 5.6x"), 45.6);
  EXPECT_EQ(ValNumero("abc"), 0);
  EXPECT_EQ(CInt(2.5), 2);
  EXPECT_EQ(CInt(3.5), 4);
  EXPECT_THROW(CInt(40000), RaisedError);
}

TEST_F(Common, FechaServidorIsTheServersClockToTheSecond) {
  ConnectSessions();
  DateTime before = DateTime::Now();
  DateTime f = FechaServidor();
  EXPECT_EQ(f.millisecond, 0);
  EXPECT_EQ(f.year, before.year);
  EXPECT_LE(
      std::abs((f.hour * 3600 + f.minute * 60 + f.second) - (before.hour * 3600 + before.minute * 60 + before.second)),
      2);
  // Without a connection it falls back to the local clock, showing nothing.
  SesionSistema.Datos->Conexion()->Close();
  DateTime g = FechaServidor();
  EXPECT_EQ(g.year, before.year);
  EXPECT_TRUE(platform.shown.empty());
}

// ---- Lookup-definitions file ----------------------------------------------------------

TEST_F(Common, GrabaConsultasBaseWritesElevenFixedRecords) {
  const std::string path = platform.folder + "/consultas.cvl";
  Consulta().ArchivoConsultas(path);
  GrabaConsultasBase();
  std::string bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 13222u);
  for (size_t r = 0; r < 11; ++r) {
    EXPECT_EQ(bytes.substr(r * 1202 + 1200, 2), "\r\n");
    EXPECT_EQ(bytes.substr(r * 1202 + 700, 500), std::string(500, ' '));
  }
  const size_t r9 = 8 * 1202;
  EXPECT_EQ(bytes.substr(r9, 100), "TAREAS" + std::string(94, ' '));
  EXPECT_EQ(bytes.substr(r9 + 100, 100), "V_TA_Tareas" + std::string(89, ' '));
  EXPECT_EQ(bytes.substr(r9 + 200, 500), "|Descripcion|IdTarea|" + std::string(479, ' '));

  // Appended after the last complete record, and the other spelling reaches the same file.
  Consulta().ArchivoConsultas(platform.folder + "/CONSULTAS.CVL");
  EXPECT_EQ(Consulta().ArchivoConsultas(), path);
  std::ofstream(path, std::ios::app | std::ios::binary) << "partial";
  GrabaConsultasBase();
  bytes = ReadFile(path);
  EXPECT_EQ(bytes.size(), 22u * 1202);
  EXPECT_EQ(bytes.substr(11 * 1202, 9), "ARTICULOS");
}

// ---- Utility components ---------------------------------------------------------------

TEST(Utilities, ClsUtilOperations) {
  EXPECT_EQ(ClsUtil::ANumero("0012"), 12);
  EXPECT_EQ(ClsUtil::ANumero("  12,5 kg"), 12.5);
  EXPECT_EQ(ClsUtil::ANumero(""), 0);
  EXPECT_EQ(ClsUtil::ExtraerValor("= SRV ", "="), " SRV ");
  EXPECT_EQ(ClsUtil::ExtraerValor("SRV", "="), "SRV");
  EXPECT_EQ(ClsUtil::ExtraerValor("a|b|c", "|"), "b|c");
  EXPECT_EQ(ClsUtil::CompletarRuta("/opt/etapas"), "/opt/etapas/");
  EXPECT_EQ(ClsUtil::CompletarRuta("/opt/etapas/"), "/opt/etapas/");
  EXPECT_EQ(ClsUtil::RecortarTexto("Atención", 7), "Atenció");
  EXPECT_THROW(ClsUtil::RecortarTexto("x", -1), RaisedError);
  EXPECT_EQ(ClsUtil::ContarPalabras("  select  top\t1 "), 3);
  for (std::string s : {"Corvela", "pelusin", "", "cl@ve con ñ"})
    EXPECT_EQ(ClsUtil::Decodificar(ClsUtil::Codificar(s)), s);
  EXPECT_NE(ClsUtil::Codificar("pelusin"), "pelusin");
  EXPECT_EQ(ClsUtil::Decodificar("plain"), "plain");
  EXPECT_EQ(ClsUtil::ValorCampo(Variant::Null()).ToText(), "");
  EXPECT_EQ(ClsUtil::ValorCampo(Variant(2.5)).ToText(), "2.5");
  EXPECT_EQ(ClsUtil::ValorCampo(Variant(true)).ToText(), "True");
  EXPECT_EQ(ClsUtil::ValorCampo(Variant(DateTime{2024, 5, 14, 10, 31, 7, 0})).ToText(), "2024-05-14 10:31:07");
  EXPECT_EQ(ClsUtil::FormatoCodigo(" 13 ", 4), "0013");
  EXPECT_EQ(ClsUtil::FormatoCodigo("abc", 4), "abc");
  EXPECT_EQ(ClsUtil::FormatoCodigo("12345", 4), "12345");
  EXPECT_EQ(ClsUtil::FormatoCodigo(" 7 "), "7");
}

TEST(Utilities, IniFilesIgnoreCaseInFileSectionAndKeyNames) {
  test::TempDataRoot root;
  std::ofstream(root.Path() + "/KT512rl.INI") << "; comment\n[PC1|ANA BaseDeDatos]\nServidor = SRV \n"
                                                 "[ana styles]\nStyles=4\n";
  EXPECT_EQ(ClsIni::LeerValor("kt512rl.ini", "pc1|ana basededatos", "SERVIDOR", "d"), "SRV");
  EXPECT_EQ(ClsIni::LeerValor("KT512RL.ini", "ANAStyles", "Styles", "1"), "1");
  EXPECT_EQ(ClsIni::LeerValor("KT512rl.INI", "ANA STYLES", "styles", "1"), "4");
  EXPECT_EQ(ClsIni::LeerValor("missing.ini", "x", "y", "def"), "def");
}

// A user's own settings ($XDG_CONFIG_HOME/etapas) come before the data root's, file by file;
// relative folders in servers.conf still start at the data root.
TEST(Utilities, SettingsFilesAreLookedForInTheConfigurationFolderFirst) {
  test::TempDataRoot root;
  const std::string config = std::getenv("XDG_CONFIG_HOME") + std::string("/etapas");
  std::ofstream(root.Path() + "/KT512rl.INI") << "[PC1]\nServidor=RAIZ\n";
  EXPECT_EQ(ClsIni::LeerValor("KT512rl.INI", "PC1", "Servidor", "d"), "RAIZ");
  std::filesystem::create_directories(config);
  std::ofstream(config + "/kt512RL.ini") << "[PC1]\nServidor=CONFIG\n";
  EXPECT_EQ(ClsIni::LeerValor("KT512rl.INI", "PC1", "Servidor", "d"), "CONFIG");
  EXPECT_EQ(ClsIni::RutaArchivo("KT512rl.INI"), config + "/kt512RL.ini");

  std::ofstream(root.Path() + "/servers.conf", std::ios::app) << "OTRO = sqlite de_la_raiz\n";
  std::ofstream(config + "/servers.conf") << "OTRO = sqlite de_la_configuracion\n";
  auto master = test::Connect("OTRO", "master");
  ASSERT_TRUE(master->Conectado()) << master->MotivoFallo();
  test::Exec(*master, "CREATE DATABASE [NUEVA]");
  EXPECT_TRUE(std::filesystem::exists(root.Path() + "/de_la_configuracion/nueva.db"));
  EXPECT_FALSE(std::filesystem::exists(root.Path() + "/de_la_raiz"));
  // A directory of that name is no settings file.
  std::filesystem::remove(config + "/kt512RL.ini");
  std::filesystem::create_directory(config + "/KT512RL.INI");
  EXPECT_EQ(ClsIni::LeerValor("KT512rl.INI", "PC1", "Servidor", "d"), "RAIZ");
}

// A Windows editor's byte-order mark hides no entry; a number that is not one is refused,
// naming the file and the line.
TEST(Utilities, TheServerDirectoryReadsAMarkedFileAndRefusesBadNumbers) {
  test::TempDataRoot root;
  const std::string config = std::getenv("XDG_CONFIG_HOME") + std::string("/etapas");
  std::filesystem::create_directories(config);
  std::ofstream(config + "/servers.conf") << "\xEF\xBB\xBFPRIMERO = sqlite primera\n"
                                          << "MALO = postgresql 127.0.0.1:1 connect_timeout=abc\n"
                                          << "PUERTO = postgresql 127.0.0.1:x1\n"
                                          << "MUCHOS = postgresql 127.0.0.1:1 connections_at_once=-3\n";
  auto master = test::Connect("PRIMERO", "master");
  ASSERT_TRUE(master->Conectado()) << master->MotivoFallo();
  test::Exec(*master, "CREATE DATABASE [NUEVA]");
  EXPECT_TRUE(std::filesystem::exists(root.Path() + "/primera/nueva.db"));
  auto motivo = [](const char* servidor) {
    ClsDatos db;
    db.Servidor(servidor);
    db.BaseDatos("master");
    std::string cadena;
    db.Conectar(false, 3, cadena, true, false);
    return db.MotivoFallo();
  };
  EXPECT_NE(motivo("MALO").find("(" + config +
                                "/servers.conf, line 2) gives connect_timeout 'abc', which is not a whole number."),
            std::string::npos)
      << motivo("MALO");
  EXPECT_NE(motivo("PUERTO").find("line 3) gives the port 'x1'"), std::string::npos) << motivo("PUERTO");
  EXPECT_NE(motivo("MUCHOS").find("line 4) gives connections_at_once '-3', which is not a whole number."),
            std::string::npos)
      << motivo("MUCHOS");
}

}  // namespace
}  // namespace etapas
