// The PostgreSQL engine on real servers (scripts/pg.sh starts them; skipped without
// ETAPAS_TEST_ENGINE=postgresql): the suite's logins, the typical request with the home
// database on one server and points of sale spread over both plus one whose server is down,
// bounded connection attempts, transactions, the data the engine gives back, and the
// window's events going through while a server keeps the program waiting (the hung server
// needs no real one: those tests run always).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <utility>

#include <netinet/tcp.h>

#include "components/cls_util.h"
#include "components/pool_conexiones.h"
#include "components/schema_files.h"
#include "engine/session.h"
#include "components/platform.h"
#include "components/text.h"
#include "editor_fixture.h"

extern char** environ;

namespace etapas {
namespace {

using test::Exec;
using test::Rows;
using test::Scalar;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A loopback port: listening but never answering (a hung server), or closed (a server
// that is down).
class Port {
 public:
  explicit Port(bool listen) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || (listen && ::listen(fd_, 8) != 0))
      ADD_FAILURE() << "no loopback port";
    number_ = ntohs(a.sin_port);
    if (!listen) Close();
  }
  ~Port() { Close(); }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  std::string Address() const { return "127.0.0.1:" + std::to_string(number_); }

 private:
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
  int number_ = 0;
};

std::string HomeServer() { return test::Env("ETAPAS_TEST_PG_HOME", "127.0.0.1:55432"); }
std::string PosServer() { return test::Env("ETAPAS_TEST_PG_POS", "127.0.0.1:55433"); }
std::string Superuser() { return test::Env("ETAPAS_TEST_PG_USER", "etapas"); }

// Adds servers to the test root's directory: sessions log in with their own logins there,
// and only "master" sessions as the servers' superuser.
void AddServer(const test::TempDataRoot& root, const std::string& name, const std::string& address,
               const std::string& options = "") {
  std::ofstream out(root.Path() + "/servers.conf", std::ios::app);
  out << name << " = postgresql " << address << " admin=" << Superuser() << " prefix=" << root.Prefix()
      << text::Lower(name) << "_" << (options.empty() ? "" : " " + options) << "\n";
}

std::unique_ptr<ClsDatos> Open(const std::string& server, const std::string& database, const std::string& user,
                               const std::string& password) {
  auto db = std::make_unique<ClsDatos>();
  db->Servidor(server);
  db->BaseDatos(database);
  db->Usuario(user);
  db->Clave(password);
  std::string cadena;
  db->Conectar(false, 3, cadena, true, false);
  return db;
}

test::ProcessResult Admin(std::vector<std::string> args) {
  args.insert(args.begin(), ETAPAS_ADMIN_PATH);
  test::RunOptions options;
  options.timeoutSeconds = 120;
  return test::RunProcess(args, {}, options);
}

long FirstNative(ClsDatos& db) {
  auto& errors = db.Conexion()->Errors();
  return errors.Count() ? errors.Item(0).NativeError : 0;
}

// Counts the events let through, and runs `onEvents` (once) the first time.
class PlataformaEspera : public PlataformaGuionada {
 public:
  PlataformaEspera() { SetPlatform(this); }
  ~PlataformaEspera() override { SetPlatform(nullptr); }
  PlataformaEspera(const PlataformaEspera&) = delete;
  PlataformaEspera& operator=(const PlataformaEspera&) = delete;
  void DoEvents() override {
    PlataformaGuionada::DoEvents();
    if (onEvents) std::exchange(onEvents, nullptr)();
  }
  std::function<void()> onEvents;
};

#define SKIP_WITHOUT_SERVERS() \
  if (!test::OnPostgreSQL()) GTEST_SKIP() << "no PostgreSQL servers (ETAPAS_TEST_ENGINE)"

// ---- The typical request across servers ----------------------------------------------------

class PgTypicalRequest : public test::EditorTest {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SERVERS();
    EditorTest::SetUp();
    AddServer(root, "PGCASA", HomeServer());
    AddServer(root, "PGNORTE", PosServer());
    AddServer(root, "PGSUR", HomeServer());
    AddServer(root, "PGCAIDO", down.Address());
    // The administrator's tool lays every database, with the logins of the suite.
    const std::string su = Superuser();
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"init", "--server", "PGCASA", "--database", "EMPRESA1", "--kind", "home", "--user", su},
             {"init", "--server", "PGCASA", "--database", "CV_TORNASOLADAS", "--kind", "stats", "--user", su},
             {"add-pos", "--server", "PGCASA", "--database", "EMPRESA1", "--code", "1", "--description",
              "Sucursal Norte", "--pos-server", "PGNORTE", "--pos-database", "TPV1", "--user", su},
             {"add-pos", "--server", "PGCASA", "--database", "EMPRESA1", "--code", "2", "--description", "Sucursal Sur",
              "--pos-server", "PGSUR", "--pos-database", "TPV2", "--user", su},
             {"add-pos", "--server", "PGCASA", "--database", "EMPRESA1", "--code", "3", "--description",
              "Sucursal Caida", "--pos-server", "PGCAIDO", "--pos-database", "TPV3", "--no-create", "--user", su}}) {
      auto r = Admin(args);
      ASSERT_EQ(r.exitCode, 0) << args[0] << " " << args[4] << ": " << r.stderrText;
    }
    // The home login is the company database's own.
    home = Open("PGCASA", "EMPRESA1", "EMPRESA1", "EMPRESA1");
    ASSERT_TRUE(home->Conectado()) << home->MotivoFallo();
    Exec(*home,
         "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
         "('0001','PRESUPUESTO','255','P',' '),('0003','REPARADO','','F',' 0001|')");
    platform.commandLine =
        "@Server=PGCASA; @DbName=EMPRESA1; @Usuario=EMPRESA1; @Password=EMPRESA1; @UsuarioLogeado=EMPRESA1;";
  }

  std::vector<std::string> Shown() const {
    std::vector<std::string> t;
    for (const auto& m : platform.shown) t.push_back(m.title + "|" + m.prompt);
    return t;
  }

  Port down{false};
  std::unique_ptr<ClsDatos> home;
};

TEST_F(PgTypicalRequest, SavedStatusReachesBothServersAndTheStoppedOneIsReported) {
  Load();
  ASSERT_EQ(SesionSistema.Datos->Proveedor(), "postgresql");
  ASSERT_TRUE(SesionSistema.DatosEstadistica->Conectado());
  Confirm("13");
  EXPECT_TRUE(form.bNuevo);
  form.Escribir(1, "EN GARANTIA");
  form.ElegirTipo('T');
  form.AlternarEntrada(1);  // 0003
  const auto start = Clock::now();
  form.Botonera1_Click("GRABAR");
  // A point whose server is down costs a refused connection, not a wait.
  EXPECT_LT(SecondsSince(start), 10.0);

  EXPECT_EQ(
      Rows(*home,
           "SELECT CODIGOESTADO, Descripcion, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"),
      (std::vector<std::string>{"0013|EN GARANTIA|T| 0003|"}));
  // Each point of sale is read with its own login (name and password: its database's).
  auto norte = Open("PGNORTE", "TPV1", "TPV1", "TPV1");
  auto sur = Open("PGSUR", "TPV2", "TPV2", "TPV2");
  ASSERT_TRUE(norte->Conectado()) << norte->MotivoFallo();
  ASSERT_TRUE(sur->Conectado()) << sur->MotivoFallo();
  for (ClsDatos* pos : {norte.get(), sur.get()})
    EXPECT_EQ(Rows(*pos, "SELECT CODIGOESTADO, Descripcion, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS"),
              (std::vector<std::string>{"0013|EN GARANTIA|T| 0003|"}));
  EXPECT_EQ(Shown(), (std::vector<std::string>{
                         "Aviso al operador|No se pudo conectar al Punto de ventas Sucursal Caida",
                         "Aviso al operador|El cambio de Tabla de Status quedó pendiente para 1 punto de venta. Se "
                         "enviará en la próxima grabación que los alcance, o con etapas-admin sincronizar."}));
  EXPECT_EQ(Rows(*home, "SELECT DESTINO, VALOR1 FROM V_TA_REPLICACION_PENDIENTE"),
            std::vector<std::string>{"0003|'0013'"});
  EXPECT_EQ(Rows(*home, "SELECT CODIGO, CONECTADO, ULTIMA_DETECCION IS NULL FROM V_TA_TPV ORDER BY CODIGO"),
            (std::vector<std::string>{"0001|True|1", "0002|True|1", "0003|False|0"}));

  // Saved again: an update at home and at both points.
  Confirm("0013");
  EXPECT_TRUE(form.bModifica);
  form.Escribir(1, "GARANTIA EXTENDIDA");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(*home, "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"), "1");
  EXPECT_EQ(Scalar(*norte, "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013  '"), "GARANTIA EXTENDIDA");
  EXPECT_EQ(Scalar(*sur, "select descripcion from v_ta_etapas"), "GARANTIA EXTENDIDA");
}

// ---- Logins and connections ----------------------------------------------------------------

class PgServers : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SERVERS();
    AddServer(root, "PGUNO", HomeServer());
    master = Open("PGUNO", "master", "nadie", "");
    ASSERT_TRUE(master->Conectado()) << master->MotivoFallo();
  }

  test::TempDataRoot root;
  std::unique_ptr<ClsDatos> master;
};

TEST_F(PgServers, CreatedDatabasesHaveTheirOwnLoginAndNobodyElses) {
  Exec(*master, "CREATE DATABASE [Tienda_Ñ1]");
  master->EjecutarSQL("create database [TIENDA_ñ1]");
  EXPECT_EQ(FirstNative(*master), 1801);

  auto own = Open("PGUNO", "tienda_Ñ1", "TIENDA_Ñ1", "Tienda_Ñ1");  // the password is the name as created
  ASSERT_TRUE(own->Conectado()) << own->MotivoFallo();
  EXPECT_EQ(own->Proveedor(), "postgresql");
  Exec(*own, "CREATE TABLE T (a int)");

  auto wrong = Open("PGUNO", "Tienda_Ñ1", "Tienda_Ñ1", "otra");
  EXPECT_FALSE(wrong->Conectado());
  EXPECT_NE(wrong->MotivoFallo().find("Login failed"), std::string::npos) << wrong->MotivoFallo();

  // Another database's login cannot open it.
  Exec(*master, "CREATE DATABASE [OTRA_TIENDA]");
  auto stranger = Open("PGUNO", "Tienda_Ñ1", "OTRA_TIENDA", "OTRA_TIENDA");
  EXPECT_FALSE(stranger->Conectado());

  // A missing database refuses the connection and says which.
  auto missing = Open("PGUNO", "NO_EXISTE", "NO_EXISTE", "NO_EXISTE");
  EXPECT_FALSE(missing->Conectado());
  EXPECT_NE(missing->MotivoFallo().find("NO_EXISTE"), std::string::npos) << missing->MotivoFallo();

  // Dropping ends the sessions still open on it; dropping twice says it is gone.
  Exec(*master, "DROP DATABASE [TIENDA_Ñ1]");
  master->EjecutarSQL("DROP DATABASE [TIENDA_Ñ1]");
  EXPECT_EQ(FirstNative(*master), 3701);
  own->EjecutarSQL("SELECT 1");
  EXPECT_GE(own->Conexion()->Errors().Count(), 1);
  master->EjecutarSQL("CREATE TABLE T (a int)");
  EXPECT_EQ(FirstNative(*master), 208);
}

TEST_F(PgServers, ConnectionAttemptsAreBounded) {
  Port hung{true}, closed{false};
  AddServer(root, "PGCOLGADO", hung.Address(), "connect_timeout=2");
  AddServer(root, "PGAPAGADO", closed.Address());
  auto start = Clock::now();
  auto db = Open("PGCOLGADO", "X", "X", "X");
  EXPECT_FALSE(db->Conectado());
  EXPECT_GE(SecondsSince(start), 1.5);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_NE(db->MotivoFallo().find("cannot be reached"), std::string::npos) << db->MotivoFallo();
  start = Clock::now();
  db = Open("PGAPAGADO", "X", "X", "X");
  EXPECT_FALSE(db->Conectado());
  EXPECT_LT(SecondsSince(start), 2.0);

  // A directory entry the engine cannot use says so.
  AddServer(root, "PGMAL", HomeServer(), "colour=blue");
  db = Open("PGMAL", "X", "X", "X");
  EXPECT_FALSE(db->Conectado());
  EXPECT_NE(db->MotivoFallo().find("colour"), std::string::npos);
}

// ---- Waiting on a server ---------------------------------------------------------------------

// A point of sale whose server accepts the connection and never answers: the window keeps
// getting its events, and the attempt ends at its timeout as an unreachable server.
TEST(PgWaits, AHungServerLetsEventsThroughAndEndsAtTheTimeout) {
  test::TempDataRoot root;
  Port hung{true};
  AddServer(root, "PGCOLGADO", hung.Address(), "connect_timeout=2");
  PlataformaEspera platform;
  auto start = Clock::now();
  auto db = Open("PGCOLGADO", "TPV1", "TPV1", "TPV1");
  double waited = SecondsSince(start);
  EXPECT_FALSE(db->Conectado());
  EXPECT_GE(waited, 1.9);
  EXPECT_LT(waited, 3.0);
  EXPECT_GE(platform.eventsProcessed, 20) << "over " << waited << " s";
  EXPECT_NE(db->MotivoFallo().find("cannot be reached"), std::string::npos) << db->MotivoFallo();
  EXPECT_NE(db->MotivoFallo().find("timeout expired"), std::string::npos) << db->MotivoFallo();

  // The request's own timeout bounds it as well, and the error is the unreachable server's.
  AddServer(root, "PGMUDO", hung.Address());
  engine::ConnectRequest request;
  request.server = "PGMUDO";
  request.database = "TPV1";
  request.user = request.password = "TPV1";
  request.connectTimeoutSeconds = 2;
  engine::ProviderError error;
  platform.eventsProcessed = 0;
  start = Clock::now();
  EXPECT_EQ(engine::Connect(request, error), nullptr);
  waited = SecondsSince(start);
  EXPECT_GE(waited, 1.9);
  EXPECT_LT(waited, 3.0);
  EXPECT_GE(platform.eventsProcessed, 20) << "over " << waited << " s";
  EXPECT_EQ(error.native, engine::native::kServerNotFound);
  EXPECT_EQ(error.sqlState, "08001");
}

// Attempts to one server are made a few at a time, each timed from its own start, and
// another server's do not wait for them; results keep the order of the requests.
TEST(PgWaits, AttemptsToOneServerAreMadeAFewAtATime) {
  test::TempDataRoot root;
  Port narrow{true}, wide{true};
  AddServer(root, "PGESTRECHO", narrow.Address(), "connect_timeout=2 connections_at_once=2");
  AddServer(root, "PGANCHO", wide.Address(), "connect_timeout=2");
  std::vector<engine::ConnectRequest> requests;
  for (int i = 0; i < 3; ++i) {
    for (const char* server : {"PGESTRECHO", "PGANCHO"}) {
      engine::ConnectRequest r;
      r.server = server;
      r.database = r.user = r.password = "TPV" + std::to_string(i);
      requests.push_back(r);
    }
  }
  PlataformaEspera platform;
  const auto start = Clock::now();
  auto results = engine::ConnectAll(requests, 10);
  const double waited = SecondsSince(start);
  // Two time-outs: the third of PGESTRECHO starts once the first two expire, while all of
  // PGANCHO's expire with the first ones.
  EXPECT_GE(waited, 3.9);
  EXPECT_LT(waited, 5.5);
  EXPECT_GE(platform.eventsProcessed, 40) << "over " << waited << " s";
  ASSERT_EQ(results.size(), requests.size());
  for (size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].session, nullptr);
    const std::string& said = results[i].error.description;
    EXPECT_NE(said.find("timeout expired"), std::string::npos) << said;
    EXPECT_NE(said.find("'" + requests[i].server + "'"), std::string::npos) << said;
  }
}

// An attempt the events start while another waits lets no events through of its own (they
// would nest without end), and is bounded all the same.
TEST(PgWaits, AnAttemptStartedByTheEventsOfAnotherDoesNotNest) {
  test::TempDataRoot root;
  Port hung{true};
  AddServer(root, "PGCOLGADO", hung.Address(), "connect_timeout=2");
  PlataformaEspera platform;
  int eventsInside = -1;
  std::unique_ptr<ClsDatos> inner;
  platform.onEvents = [&] {
    const int before = platform.eventsProcessed;
    inner = Open("PGCOLGADO", "TPV2", "TPV2", "TPV2");
    eventsInside = platform.eventsProcessed - before;
  };
  const auto start = Clock::now();
  auto outer = Open("PGCOLGADO", "TPV1", "TPV1", "TPV1");
  EXPECT_FALSE(outer->Conectado());
  ASSERT_TRUE(inner);
  EXPECT_FALSE(inner->Conectado());
  EXPECT_EQ(eventsInside, 0);
  // The outer attempt's deadline passed while the inner one ran: it ends at once after it.
  EXPECT_LT(SecondsSince(start), 4.5);
}

// ---- Many stores at once --------------------------------------------------------------------

class PgStores : public PgServers {
 protected:
  void SetUp() override {
    PgServers::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (const char* base : {"TIENDA1", "TIENDA2", "TIENDA3", "TIENDA4"}) {
      Exec(*master, std::string("CREATE DATABASE [") + base + "]");
      auto db = Open("PGUNO", base, base, base);
      ASSERT_TRUE(db->Conectado()) << db->MotivoFallo();
      Exec(*db, schema::Files().at("pos.sql"));
    }
  }
  void TearDown() override { PoolConexiones::Compartido().Vaciar(); }

  static engine::ConnectRequest Request(const std::string& server, const std::string& base) {
    engine::ConnectRequest r;
    r.server = server;
    r.database = r.user = r.password = base;
    return r;
  }
  // The connections open on a database of the server, as the server counts them.
  std::string Sessions(const std::string& base) {
    return Scalar(*master, "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = '" + root.Prefix() + "pguno_" +
                               text::Lower(base) + "'");
  }
  // The same once the server processes of connections just closed had time to end.
  std::string SessionsOnceEnded(const std::string& base) {
    std::string n = Sessions(base);
    for (int i = 0; i < 100 && n != "0"; ++i, n = Sessions(base)) usleep(20000);
    return n;
  }
};

// Five stores that accept the connection and never answer, among reachable ones: all are
// tried at once, so the batch costs one time-out, not five, and the window gets its events.
TEST_F(PgStores, HungStoresAmongGoodOnesCostOneTimeoutForAll) {
  std::vector<std::unique_ptr<Port>> hung;
  std::vector<engine::ConnectRequest> requests;
  for (int i = 0; i < 5; ++i) {
    hung.push_back(std::make_unique<Port>(true));
    const std::string name = "PGCOLGADO" + std::to_string(i);
    AddServer(root, name, hung.back()->Address(), "connect_timeout=2");
    requests.push_back(Request(name, "TPV" + std::to_string(i)));
    requests.push_back(Request("PGUNO", "TIENDA" + std::to_string(i % 4 + 1)));
  }
  Port closed{false};
  AddServer(root, "PGAPAGADO", closed.Address());
  requests.push_back(Request("PGAPAGADO", "TIENDA1"));
  requests.push_back(Request("PGUNO", "NO_EXISTE"));
  PlataformaEspera platform;
  auto start = Clock::now();
  auto results = engine::ConnectAll(requests, 10);
  double waited = SecondsSince(start);
  EXPECT_GE(waited, 1.9);
  EXPECT_LT(waited, 3.5);
  EXPECT_GE(platform.eventsProcessed, 20) << "over " << waited << " s";
  ASSERT_EQ(results.size(), requests.size());
  for (size_t i = 0; i < 10; i += 2) {
    EXPECT_EQ(results[i].session, nullptr);
    EXPECT_EQ(results[i].error.native, engine::native::kServerNotFound);
    EXPECT_NE(results[i].error.description.find("timeout expired"), std::string::npos) << results[i].error.description;
    ASSERT_NE(results[i + 1].session, nullptr) << results[i + 1].error.description;
    EXPECT_EQ(results[i + 1].session->Execute("SELECT COUNT(*) FROM V_TA_ETAPAS").result.rows.at(0).at(0).ToText(),
              "0");
  }
  // The others fail as Connect says, with its words.
  for (size_t i : {10u, 11u}) {
    engine::ProviderError alone;
    EXPECT_EQ(engine::Connect(requests[i], alone), nullptr);
    EXPECT_EQ(results[i].session, nullptr);
    EXPECT_EQ(results[i].error.native, alone.native);
    EXPECT_EQ(results[i].error.description, alone.description);
  }
  engine::ProviderError alone;
  EXPECT_EQ(engine::Connect(requests[0], alone), nullptr);
  EXPECT_EQ(results[0].error.description, alone.description);

  // The batch's own time-out bounds the attempts that would wait longer.
  AddServer(root, "PGLENTO", hung.front()->Address(), "connect_timeout=30");
  start = Clock::now();
  results = engine::ConnectAll({Request("PGLENTO", "TPV9"), Request("PGUNO", "TIENDA1")}, 2);
  waited = SecondsSince(start);
  EXPECT_LT(waited, 3.0);
  EXPECT_EQ(results[0].session, nullptr);
  EXPECT_NE(results[0].error.description.find("timeout expired"), std::string::npos) << results[0].error.description;
  EXPECT_NE(results[1].session, nullptr);
}

// A chain's 200 stores on one server, each with its own login: all are connected within a
// short time-out, however long the server takes to accept them all.
TEST_F(PgStores, TwoHundredStoresOnOneServerAllConnect) {
  constexpr int kStores = 200;
  const std::string server = HomeServer(), host = server.substr(0, server.rfind(':')),
                    port = server.substr(server.rfind(':') + 1), su = Superuser();
  const char* keys[] = {"host", "port", "user", "dbname", nullptr};
  const char* values[] = {host.c_str(), port.c_str(), su.c_str(), "postgres", nullptr};
  std::unique_ptr<PGconn, decltype(&PQfinish)> admin(PQconnectdbParams(keys, values, 0), PQfinish);
  ASSERT_EQ(PQstatus(admin.get()), CONNECTION_OK) << PQerrorMessage(admin.get());
  auto run = [&](const std::string& sql) {
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(admin.get(), sql.c_str()), PQclear);
    EXPECT_EQ(PQresultStatus(r.get()), PGRES_COMMAND_OK) << PQerrorMessage(admin.get());
  };
  // Logins are cheap where databases are not: they all open TIENDA1, as its members.
  const std::string role = "'" + root.Prefix() + "tpv' || i";
  const std::string each = "DO $$BEGIN FOR i IN 1.." + std::to_string(kStores) + " LOOP EXECUTE format(";
  run(each + "'CREATE ROLE %I LOGIN PASSWORD %L IN ROLE tienda1', " + role + ", 'Clave' || i); END LOOP; END$$");
  struct DropRoles {
    std::function<void()> drop;
    ~DropRoles() { drop(); }
  } dropRoles{[&] { run(each + "'DROP ROLE IF EXISTS %I', " + role + "); END LOOP; END$$"); }};

  std::vector<engine::ConnectRequest> requests;
  for (int i = 1; i <= kStores; ++i) {
    engine::ConnectRequest r = Request("PGUNO", "TIENDA1");
    r.user = root.Prefix() + "TPV" + std::to_string(i);
    r.password = "Clave" + std::to_string(i);
    r.connectTimeoutSeconds = 5;
    requests.push_back(r);
  }
  const auto start = Clock::now();
  auto results = engine::ConnectAll(requests, 5);
  const double waited = SecondsSince(start);
  ASSERT_EQ(results.size(), requests.size());
  int connected = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    if (results[i].session)
      ++connected;
    else
      ADD_FAILURE() << requests[i].user << ": " << results[i].error.description;
  }
  EXPECT_EQ(connected, kStores) << "in " << waited << " s";
  EXPECT_EQ(Scalar(*master, "SELECT COUNT(DISTINCT usename) FROM pg_stat_activity WHERE usename LIKE '" +
                                root.Prefix() + "tpv%'"),
            std::to_string(kStores));
  results.clear();
  EXPECT_EQ(SessionsOnceEnded("TIENDA1"), "0");
}

// The pool of a walk: each reachable store is connected once, and the probe's connection is
// the one the walk's sessions take, one after another.
TEST_F(PgStores, EachStoreOfAWalkCostsOneConnection) {
  Port hung{true};
  AddServer(root, "PGCOLGADO", hung.Address(), "connect_timeout=2");
  auto& pool = PoolConexiones::Compartido();
  const std::string prueba =
      "BEGIN TRANSACTION; SELECT TOP 0 * FROM V_TA_ETAPAS; "
      "UPDATE V_TA_ETAPAS SET CODIGOESTADO = CODIGOESTADO WHERE 1 = 0; ROLLBACK TRANSACTION";
  PlataformaEspera platform;
  const auto start = Clock::now();
  auto probados = pool.Probar(root.Path(),
                              {{"PGUNO", "TIENDA1", "TIENDA1", "TIENDA1"},
                               {"PGUNO", "TIENDA2", "TIENDA2", "TIENDA2"},
                               {"PGCOLGADO", "TPV1", "TPV1", "TPV1"},
                               {"PGUNO", "master", "nadie", ""}},
                              2, prueba);
  EXPECT_LT(SecondsSince(start), 3.5);
  ASSERT_EQ(probados.size(), 4u);
  EXPECT_TRUE(probados[0].conectado) << probados[0].motivo;
  EXPECT_TRUE(probados[1].conectado) << probados[1].motivo;
  EXPECT_FALSE(probados[2].conectado);
  EXPECT_NE(probados[2].motivo.find("timeout expired"), std::string::npos) << probados[2].motivo;
  EXPECT_FALSE(probados[3].conectado);  // master has no V_TA_ETAPAS
  EXPECT_NE(probados[3].motivo.find("V_TA_ETAPAS"), std::string::npos) << probados[3].motivo;
  EXPECT_EQ(Sessions("TIENDA1"), "1");
  const std::string probe =
      Scalar(*master, "SELECT pid FROM pg_stat_activity WHERE datname = '" + root.Prefix() + "pguno_tienda1'");

  // The reachability test, then the target: the same server process.
  auto remotos = Open("PGUNO", "TIENDA1", "TIENDA1", "TIENDA1");
  ASSERT_TRUE(remotos->Conectado()) << remotos->MotivoFallo();
  remotos->Conexion()->SetCommandTimeout(360);
  EXPECT_EQ(Scalar(*remotos, "SELECT pg_backend_pid()"), probe);
  remotos->Desconectar();
  auto destino = Open("PGUNO", "TIENDA1", "TIENDA1", "TIENDA1");
  ASSERT_TRUE(destino->Conectado()) << destino->MotivoFallo();
  EXPECT_EQ(Scalar(*destino, "SELECT pg_backend_pid()"), probe);
  Exec(*destino, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0013', 'EN GARANTIA')");
  EXPECT_EQ(Sessions("TIENDA1"), "1");

  // A failed store fails at once, with the probe's reason.
  const auto before = Clock::now();
  auto colgado = Open("PGCOLGADO", "TPV1", "TPV1", "TPV1");
  EXPECT_FALSE(colgado->Conectado());
  EXPECT_LT(SecondsSince(before), 0.5);
  EXPECT_EQ(colgado->MotivoFallo(), probados[2].motivo);

  // Emptied at the end of the walk: the store's connection is closed when let go.
  pool.Vaciar();
  EXPECT_EQ(SessionsOnceEnded("TIENDA2"), "0");
  EXPECT_EQ(Sessions("TIENDA1"), "1");
  destino->Desconectar();
  EXPECT_EQ(SessionsOnceEnded("TIENDA1"), "0");
}

// The socket of the session's connection (found by the port the server sees).
int SocketOf(ClsDatos& db) {
  const int port = std::stoi(Scalar(db, "SELECT inet_client_port()"));
  for (int fd = 0; fd < 4096; ++fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 && a.sin_family == AF_INET &&
        ntohs(a.sin_port) == port)
      return fd;
  }
  return -1;
}

int SocketOption(int fd, int level, int name) {
  int v = -1;
  socklen_t len = sizeof v;
  return getsockopt(fd, level, name, &v, &len) == 0 ? v : -1;
}

// A server that stops answering is given up within the entry's bounds whatever the
// session's CommandTimeout: min(CommandTimeout, statement_timeout) and a grace of 3 s, and
// TCP keepalives notice a host that is gone.
TEST_F(PgStores, AStoreThatStopsAnsweringIsGivenUpWithinTheEntrysBound) {
  AddServer(root, "PGACOTADO", HomeServer(),
            "statement_timeout=2 keepalives_idle=4 keepalives_interval=2 keepalives_count=2 tcp_user_timeout=7");
  auto porDefecto = Open("PGUNO", "TIENDA1", "TIENDA1", "TIENDA1");
  ASSERT_TRUE(porDefecto->Conectado()) << porDefecto->MotivoFallo();
  porDefecto->Conexion()->SetCommandTimeout(360);
  EXPECT_EQ(Scalar(*porDefecto, "SELECT current_setting('statement_timeout')"), "30s");
  const int fd = SocketOf(*porDefecto);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(SocketOption(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(SocketOption(fd, IPPROTO_TCP, TCP_KEEPIDLE), 10);
  EXPECT_EQ(SocketOption(fd, IPPROTO_TCP, TCP_KEEPINTVL), 5);
  EXPECT_EQ(SocketOption(fd, IPPROTO_TCP, TCP_KEEPCNT), 3);
  EXPECT_EQ(SocketOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT), 30000);

  auto db = Open("PGACOTADO", "master", "nadie", "");
  ASSERT_TRUE(db->Conectado()) << db->MotivoFallo();
  Exec(*db, "CREATE DATABASE [TPV5]");
  db = Open("PGACOTADO", "TPV5", "TPV5", "TPV5");
  ASSERT_TRUE(db->Conectado()) << db->MotivoFallo();
  Exec(*db, schema::Files().at("pos.sql"));
  const int own = SocketOf(*db);
  ASSERT_GE(own, 0);
  EXPECT_EQ(SocketOption(own, IPPROTO_TCP, TCP_KEEPIDLE), 4);
  EXPECT_EQ(SocketOption(own, IPPROTO_TCP, TCP_KEEPINTVL), 2);
  EXPECT_EQ(SocketOption(own, IPPROTO_TCP, TCP_KEEPCNT), 2);
  EXPECT_EQ(SocketOption(own, IPPROTO_TCP, TCP_USER_TIMEOUT), 7000);
  // The remote sessions of a walk ask for 360 s.
  db->Conexion()->SetCommandTimeout(360);
  EXPECT_EQ(Scalar(*db, "SELECT current_setting('statement_timeout')"), "2s");
  db->Conexion()->SetCommandTimeout(0);
  EXPECT_EQ(Scalar(*db, "SELECT current_setting('statement_timeout')"), "2s");
  db->Conexion()->SetCommandTimeout(1);
  EXPECT_EQ(Scalar(*db, "SELECT current_setting('statement_timeout')"), "1s");
  db->Conexion()->SetCommandTimeout(360);
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");

  // A statement longer than the bound is ended by the server.
  auto start = Clock::now();
  db->EjecutarSQL("SELECT pg_sleep(10)");
  EXPECT_EQ(FirstNative(*db), -2147217871);
  EXPECT_LT(SecondsSince(start), 4.0);

  // The server's process stopped in the middle: given up at 2 s + 3 s, not 360 s.
  const pid_t backend = static_cast<pid_t>(std::stol(Scalar(*db, "SELECT pg_backend_pid()")));
  if (kill(backend, 0) != 0) GTEST_SKIP() << "the server's processes cannot be signalled from here";
  ASSERT_EQ(kill(backend, SIGSTOP), 0);
  const std::string resume = "sleep 20; kill -CONT " + std::to_string(backend);
  const char* argv[] = {"/bin/sh", "-c", resume.c_str(), nullptr};
  pid_t resumer = -1;
  ASSERT_EQ(posix_spawn(&resumer, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  PlataformaEspera platform;
  start = Clock::now();
  db->EjecutarSQL("UPDATE V_TA_ETAPAS SET Descripcion = 'X' WHERE CODIGOESTADO = '0001'");
  const double waited = SecondsSince(start);
  kill(backend, SIGCONT);
  kill(resumer, SIGTERM);
  waitpid(resumer, nullptr, 0);
  EXPECT_EQ(FirstNative(*db), -2147217871);
  EXPECT_GE(waited, 2.0);
  EXPECT_LT(waited, 6.5);
  EXPECT_GE(platform.eventsProcessed, 40);
}

// ---- Inside a database ---------------------------------------------------------------------

class PgDatabase : public PgServers {
 protected:
  void SetUp() override {
    PgServers::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Exec(*master, "CREATE DATABASE [EMPRESA1]");
    db = Open("PGUNO", "EMPRESA1", "EMPRESA1", "EMPRESA1");
    ASSERT_TRUE(db->Conectado()) << db->MotivoFallo();
    Exec(*db,
         "CREATE TABLE V_TA_ETAPAS (CODIGOESTADO varchar(4) NOT NULL PRIMARY KEY, Descripcion varchar(100) NULL, "
         "[Año Fiscal] int NULL, Activo bit NOT NULL DEFAULT 1, Importe money NULL, Alta datetime NULL DEFAULT "
         "getdate())");
  }
  std::unique_ptr<ClsDatos> db;
};

TEST_F(PgDatabase, NamesAndTypesComeBackAsDeclared) {
  Exec(*db,
       "INSERT INTO v_ta_etapas (codigoestado, DESCRIPCION, [AÑO FISCAL], Importe) VALUES ('1 ', 'Uno  ', 2024, 12.5)");
  ado::RecordsetPtr rs;
  db->AbrirRecordset("SELECT * FROM [V_TA_ETAPAS]", rs);
  std::vector<std::string> names;
  for (long i = 0; i < rs->FieldCount(); ++i) names.push_back(rs->Fields(i).Name());
  EXPECT_EQ(names,
            (std::vector<std::string>{"CODIGOESTADO", "Descripcion", "Año Fiscal", "Activo", "Importe", "Alta"}));
  // Trailing blanks are kept as written, and ignored by comparisons.
  EXPECT_EQ(rs->Fields("descripcion").Value().ToText(), "Uno  ");
  EXPECT_EQ(rs->Fields("CodigoEstado").Value().ToText(), "1 ");
  EXPECT_EQ(rs->Fields("Activo").Type(), 11);
  EXPECT_EQ(rs->Fields("Activo").Value().ToText(), "True");
  EXPECT_EQ(rs->Fields("Importe").Type(), 6);
  EXPECT_EQ(rs->Fields("Importe").Value().ToText(), "12.5");
  EXPECT_EQ(rs->Fields("Alta").Type(), 135);
  EXPECT_EQ(rs->Fields("Alta").Value().kind(), Variant::Kind::Date);
  EXPECT_EQ(rs->Fields("CODIGOESTADO").DefinedSize(), 4);

  // A column written in another case keeps the statement's spelling; expressions keep
  // their alias.
  db->AbrirRecordset("SELECT descripcion, COUNT(*) AS Cuantos, 1 FROM V_TA_ETAPAS GROUP BY descripcion", rs);
  EXPECT_EQ(rs->Fields(0L).Name(), "descripcion");
  EXPECT_EQ(rs->Fields(1L).Name(), "Cuantos");
  EXPECT_EQ(rs->Fields(2L).Name(), "");
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE Descripcion = 'UNO' AND CODIGOESTADO = '1'"), "1");
  EXPECT_EQ(Scalar(*db, "SELECT [año fiscal] FROM dbo.V_TA_ETAPAS WHERE [Descripcion] LIKE 'u%'"), "2024");

  // OpenSchema: declared names, ADO types and sizes, key columns found by the recordsets.
  auto schema = db->Conexion()->OpenSchema(ado::kSchemaColumns,
                                           {Variant("empresa1"), Variant(), Variant("V_TA_ETAPAS"), Variant()});
  std::map<std::string, std::string> columns;
  for (; !schema->EOF_(); schema->MoveNext())
    columns[schema->Fields("COLUMN_NAME").Value().ToText()] =
        schema->Fields("DATA_TYPE").Value().ToText() + "/" +
        schema->Fields("CHARACTER_MAXIMUM_LENGTH").Value().ToText();
  EXPECT_EQ(columns, (std::map<std::string, std::string>{{"Activo", "11/"},
                                                         {"Alta", "135/"},
                                                         {"Año Fiscal", "3/"},
                                                         {"CODIGOESTADO", "200/4"},
                                                         {"Descripcion", "200/100"},
                                                         {"Importe", "6/"}}));
  // The stored form of a code: typed 7, looked up and saved as 0007.
  EXPECT_FALSE(db->BuscarRegistro("V_TA_ETAPAS", "7", "CODIGOESTADO", rs));
  rs->AddNew();
  rs->Fields("CODIGOESTADO") = Variant(FormatoCodigo("7", 4));
  rs->Fields("Descripcion") = Variant("SIETE");
  rs->Fields("Activo") = Variant(false);
  rs->Update();
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", "7", "CODIGOESTADO", rs));
  rs->Fields("Importe") = Variant(3.25);
  rs->Update();
  EXPECT_EQ(Rows(*db, "SELECT CODIGOESTADO, Activo, Importe FROM V_TA_ETAPAS WHERE Descripcion = 'siete'"),
            (std::vector<std::string>{"0007|False|3.25"}));
}

TEST_F(PgDatabase, TransactionsGoOnAfterARefusedStatementAsTheServerDoes) {
  Exec(*db, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('0001')");
  // A refused statement inside a transaction undoes itself only.
  db->EjecutarSQL(
      "BEGIN TRANSACTION \r\r\rINSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('0002')\r"
      "INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('0001')\r");
  EXPECT_EQ(FirstNative(*db), 2627);
  Exec(*db, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('0003')");
  // Nested BEGINs count; only the outermost COMMIT commits.
  Exec(*db, "BEGIN TRANSACTION");
  Exec(*db, "COMMIT TRANSACTION");
  Exec(*db, "COMMIT TRANSACTION");
  db->EjecutarSQL("COMMIT TRANSACTION");
  EXPECT_EQ(FirstNative(*db), 3902);
  EXPECT_EQ(Rows(*db, "SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY 1"),
            (std::vector<std::string>{"0001", "0002", "0003"}));

  // Rolled back, everything since BEGIN goes.
  Exec(*db, "BEGIN TRANSACTION");
  Exec(*db, "DELETE V_TA_ETAPAS");
  db->EjecutarSQL("SELECT * FROM NO_EXISTE");
  EXPECT_EQ(FirstNative(*db), 208);
  Exec(*db, "ROLLBACK TRANSACTION");
  db->EjecutarSQL("ROLLBACK TRANSACTION");
  EXPECT_EQ(FirstNative(*db), 3903);
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "3");

  // Outside a transaction a refused statement leaves nothing behind.
  db->EjecutarSQL("INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('00001')");
  EXPECT_EQ(FirstNative(*db), 8152);
  Exec(*db, "UPDATE V_TA_ETAPAS SET Descripcion = 'x' WHERE CODIGOESTADO = '0003'");

  // CommandTimeout bounds a statement.
  db->Conexion()->SetCommandTimeout(1);
  const auto start = Clock::now();
  db->EjecutarSQL("SELECT pg_sleep(5)");
  EXPECT_EQ(db->Conexion()->Errors().Count(), 1);
  EXPECT_LT(SecondsSince(start), 4.0);
  db->Conexion()->SetCommandTimeout(30);
  Exec(*db, "SELECT pg_sleep(1.1)");
}

TEST_F(PgDatabase, StatementsKeptAcrossCallsSurviveChangesOfTheirTables) {
  const std::string query = "SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'";
  Exec(*db, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Alta) VALUES ('0001', 'UNO', NULL)");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Rows(*db, query), (std::vector<std::string>{"0001|UNO||True||"})) << i;
  // Another session changes the table's shape under the kept statement.
  auto other = Open("PGUNO", "EMPRESA1", "EMPRESA1", "EMPRESA1");
  Exec(*other, "ALTER TABLE V_TA_ETAPAS ADD Nota varchar(10) NULL");
  Exec(*other, "UPDATE V_TA_ETAPAS SET Nota = 'n'");
  EXPECT_EQ(Rows(*db, query), (std::vector<std::string>{"0001|UNO||True|||n"}));
  ado::RecordsetPtr rs;
  db->AbrirRecordset(query, rs);
  EXPECT_EQ(rs->Fields(6L).Name(), "Nota");
}

TEST_F(PgDatabase, AnotherDatabaseOfTheServerIsReadOnItsOwnConnection) {
  Exec(*master, "CREATE DATABASE [TPV1]");
  auto pos = Open("PGUNO", "TPV1", Superuser(), "");
  ASSERT_TRUE(pos->Conectado()) << pos->MotivoFallo();
  Exec(*pos, "CREATE TABLE V_TA_TPV (CODIGO varchar(4) PRIMARY KEY)");
  Exec(*db, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0002', 'DOS')");
  const std::string homeRead =
      "SELECT CODIGOESTADO, Descripcion FROM [EMPRESA1].DBO.V_TA_ETAPAS WHERE CODIGOESTADO = '0002'";
  EXPECT_EQ(Rows(*pos, homeRead), (std::vector<std::string>{"0002|DOS"}));
  auto schema = pos->Conexion()->OpenSchema(ado::kSchemaColumns,
                                            {Variant("EMPRESA1"), Variant(), Variant("v_ta_etapas"), Variant()});
  EXPECT_FALSE(schema->EOF_());
  // Joining tables of two databases is beyond the engine: an invalid object, not a wrong row.
  pos->EjecutarSQL("SELECT * FROM V_TA_TPV JOIN [EMPRESA1].dbo.V_TA_ETAPAS ON 1 = 1");
  EXPECT_EQ(FirstNative(*pos), 208);
  pos->EjecutarSQL("SELECT * FROM [NO_HAY].dbo.V_TA_ETAPAS");
  EXPECT_EQ(FirstNative(*pos), 911);
}

// A statement the server takes its time over: events go through meanwhile and the answer
// is the statement's. Past CommandTimeout it ends as a timeout, the events still going.
TEST_F(PgDatabase, ASlowStatementLetsEventsThrough) {
  PlataformaEspera platform;
  auto start = Clock::now();
  EXPECT_EQ(Rows(*db, "SELECT pg_sleep(1), 42 AS Respuesta"), (std::vector<std::string>{"|42"}));
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_GE(platform.eventsProcessed, 20);

  db->Conexion()->SetCommandTimeout(1);
  platform.eventsProcessed = 0;
  start = Clock::now();
  db->EjecutarSQL("SELECT pg_sleep(5)");
  EXPECT_LT(SecondsSince(start), 4.0);
  EXPECT_EQ(FirstNative(*db), -2147217871);
  EXPECT_GE(platform.eventsProcessed, 20);
  db->Conexion()->SetCommandTimeout(30);
  EXPECT_EQ(Scalar(*db, "SELECT 7"), "7");
}

// A server that stops answering altogether (its process stopped here) does not keep the
// program waiting past CommandTimeout: the statement ends as a timeout and the connection
// is given up, without waiting on the same server again.
TEST_F(PgDatabase, AServerThatStopsAnsweringEndsTheStatementAtTheTimeout) {
  const pid_t backend = static_cast<pid_t>(std::stol(Scalar(*db, "SELECT pg_backend_pid()")));
  if (kill(backend, 0) != 0) GTEST_SKIP() << "the server's processes cannot be signalled from here";
  db->Conexion()->SetCommandTimeout(1);
  Exec(*db, "SELECT 1");  // the timeout reaches the server while it still answers
  ASSERT_EQ(kill(backend, SIGSTOP), 0);
  // Resumed in any case, later than the wait may last.
  const std::string resume = "sleep 9; kill -CONT " + std::to_string(backend);
  const char* argv[] = {"/bin/sh", "-c", resume.c_str(), nullptr};
  pid_t resumer = -1;
  ASSERT_EQ(posix_spawn(&resumer, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  PlataformaEspera platform;
  const auto start = Clock::now();
  db->EjecutarSQL("SELECT COUNT(*) FROM V_TA_ETAPAS");
  const double waited = SecondsSince(start);
  kill(backend, SIGCONT);
  kill(resumer, SIGTERM);
  waitpid(resumer, nullptr, 0);
  EXPECT_EQ(FirstNative(*db), -2147217871);
  EXPECT_GE(waited, 1.0);
  EXPECT_LT(waited, 6.0);
  EXPECT_GE(platform.eventsProcessed, 40);
  // The connection is gone: the next statement says so at once.
  db->EjecutarSQL("SELECT 1");
  EXPECT_EQ(FirstNative(*db), engine::native::kServerNotFound);
}

// The events may run a statement on the connection that is waiting (the operator clicks
// meanwhile): it runs after the one in flight, and each gets its own answer.
TEST_F(PgDatabase, AStatementOfTheEventsOnTheWaitingConnectionGetsItsOwnAnswer) {
  Exec(*db, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0001', 'UNO')");
  PlataformaEspera platform;
  std::vector<std::string> inner;
  platform.onEvents = [&] {
    inner = Rows(*db, "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'");
    Exec(*db, "UPDATE V_TA_ETAPAS SET Descripcion = 'DOS' WHERE CODIGOESTADO = '0001'");
  };
  // The slow statement reads the row before the events' update runs, and ends with it.
  const auto start = Clock::now();
  EXPECT_EQ(Rows(*db, "SELECT Descripcion, pg_sleep(0.5) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'"),
            (std::vector<std::string>{"UNO|"}));
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_EQ(inner, (std::vector<std::string>{"UNO"}));
  EXPECT_EQ(Scalar(*db, "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'"), "DOS");
  // Another database cannot be chosen under the waiting statement.
  bool used = true;
  platform.onEvents = [&] {
    used = false;
    db->EjecutarSQL("USE master");
    used = db->Conexion()->Errors().Count() == 0;
  };
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE pg_sleep(0.5) IS NOT NULL"), "1");
  EXPECT_FALSE(used);
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "1");
}

}  // namespace
}  // namespace etapas
