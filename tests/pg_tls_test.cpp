// PostgreSQL servers over TLS: the directory entry's sslmode and certificate files, on a real
// server of the test's own that takes only TLS connections (scripts/pg_tls.sh), and the
// password kept out of every error text and of the error log. Skipped without the server
// programs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/mod_global.h"
#include "components/cls_datos.h"
#include "engine/session.h"
#include "components/failure.h"
#include "components/platform.h"
#include "components/text.h"
#include "db_fixture.h"
#include "test_support.h"

namespace etapas {
namespace {

constexpr const char* kPassword = "Zq7-tls-S3cr3t-pw";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A loopback port nothing listens on right now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

// The TLS server, up for the life of the object; its folder goes with it. Should the test
// die first, the script's watch stops it.
class TlsServer {
 public:
  TlsServer() : dir_(test::MakeTempFolder("etapas-tls")), port_(FreePort()) {
    test::RunOptions options;
    options.timeoutSeconds = 60;
    const auto r = test::RunProcess(
        {Script(), "start", dir_, std::to_string(port_)},
        {{"ETAPAS_TLS_PASSWORD", kPassword}, {"ETAPAS_TLS_WATCH_PID", std::to_string(getpid())}}, options);
    if (r.exitCode == 77)
      missing_ = r.stderrText.empty() ? "PostgreSQL server programs not found" : r.stderrText;
    else if (r.exitCode != 0)
      failure_ = "pg_tls.sh start: " + std::to_string(r.exitCode) + "\n" + r.stderrText;
  }
  ~TlsServer() {
    test::RunOptions options;
    options.timeoutSeconds = 60;
    test::RunProcess({Script(), "stop", dir_}, {}, options);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  const std::string& Missing() const { return missing_; }
  const std::string& Failure() const { return failure_; }
  int Port() const { return port_; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

 private:
  static std::string Script() { return std::string(ETAPAS_SOURCE_DIR) + "/scripts/pg_tls.sh"; }
  std::string dir_;
  int port_;
  std::string missing_, failure_;
};

class PgTls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server.Missing().empty()) GTEST_SKIP() << server.Missing();
    ASSERT_TRUE(server.Failure().empty()) << server.Failure();
    // The right authority in the data root, under a relative name; the wrong one elsewhere.
    std::filesystem::copy_file(server.File("ca.crt"), root.Path() + "/ca.crt");
    platform.environment = {{"TEMP", root.Path()}};
  }

  void AddServer(const std::string& name, const std::string& host, const std::string& options) {
    std::ofstream out(root.Path() + "/servers.conf", std::ios::app);
    out << name << " = postgresql " << host << ":" << server.Port() << " connect_timeout=5 " << options << "\n";
  }

  std::unique_ptr<ClsDatos> Open(const std::string& name) {
    auto db = std::make_unique<ClsDatos>();
    db->Servidor(name);
    db->BaseDatos("TPV_TLS");
    db->Usuario("etapas_tls");
    db->Clave(kPassword);
    std::string cadena;
    db->Conectar(false, 3, cadena, true, false);
    return db;
  }

  TlsServer server;
  test::TempDataRoot root;
  PlataformaGuionada platform;
  struct Installed {
    explicit Installed(Plataforma* p) { SetPlatform(p); }
    ~Installed() { SetPlatform(nullptr); }
  } installed{&platform};
};

TEST_F(PgTls, VerifyFullConnectsToTheHostTheCertificateNames) {
  AddServer("PGTLS", "localhost", "sslmode=verify-full sslrootcert=ca.crt");
  auto db = Open("PGTLS");
  ASSERT_TRUE(db->Conectado()) << db->MotivoFallo();
  EXPECT_EQ(test::Scalar(*db, "SELECT 1"), "1");
}

TEST_F(PgTls, RefusedConnectionsSayWhyAndNeverShowThePassword) {
  // The certificate names localhost, not the address.
  AddServer("PGTLSIP", "127.0.0.1", "sslmode=verify-full sslrootcert=ca.crt");
  // Signed by an authority the entry does not trust.
  AddServer("PGTLSAJENO", "localhost", "sslmode=verify-full sslrootcert=" + server.File("other-ca.crt"));
  // verify-ca checks the authority only: the address is fine there.
  AddServer("PGTLSCA", "127.0.0.1", "sslmode=verify-ca sslrootcert=ca.crt");
  // The server takes no connection without TLS.
  AddServer("PGTLSNO", "127.0.0.1", "sslmode=disable");

  auto byAddress = Open("PGTLSIP");
  EXPECT_FALSE(byAddress->Conectado());
  EXPECT_NE(byAddress->MotivoFallo().find("does not match host name \"127.0.0.1\""), std::string::npos)
      << byAddress->MotivoFallo();
  EXPECT_NE(byAddress->MotivoFallo().find("PGTLSIP"), std::string::npos) << byAddress->MotivoFallo();

  auto untrusted = Open("PGTLSAJENO");
  EXPECT_FALSE(untrusted->Conectado());
  EXPECT_NE(untrusted->MotivoFallo().find("certificate verify failed"), std::string::npos) << untrusted->MotivoFallo();

  auto caOnly = Open("PGTLSCA");
  EXPECT_TRUE(caOnly->Conectado()) << caOnly->MotivoFallo();

  auto plain = Open("PGTLSNO");
  EXPECT_FALSE(plain->Conectado());
  EXPECT_NE(plain->MotivoFallo().find("no encryption"), std::string::npos) << plain->MotivoFallo();

  // What the operator would be told goes to the error log as well; the session's password
  // and a connection string's reach neither.
  std::vector<std::string> texts = {byAddress->MotivoFallo(), untrusted->MotivoFallo(), plain->MotivoFallo()};
  for (const auto& t : texts) ReportaError(RaisedError(-2147467259, t, "etapas"), 0, "Conectar");
  ReportaError(
      RaisedError(5, std::string("cannot open Provider=PG;User Id=etapas_tls;Password=") + kPassword + ";", "etapas"),
      0);
  const std::string log = ReadFile(root.Path() + "/CVERR.LOG");
  EXPECT_NE(log.find("certificate verify failed"), std::string::npos) << log;
  EXPECT_NE(log.find("Password=***"), std::string::npos) << log;
  texts.push_back(log);
  for (const auto& m : platform.shown) texts.push_back(m.prompt);
  for (const auto& t : texts) EXPECT_EQ(t.find(kPassword), std::string::npos) << t;
}

// ---- The directory entry, no server needed -----------------------------------------------

TEST(PgTlsEntry, AnUnknownSslModeIsReportedWithItsEntry) {
  test::TempDataRoot root;
  std::ofstream(root.Path() + "/servers.conf", std::ios::app)
      << "PGRARO = postgresql 127.0.0.1:1 sslmode=always\n"
      << "PGVACIO = postgresql 127.0.0.1:1 sslmode=require sslrootcert=\n";
  engine::ConnectRequest request;
  request.server = "PGRARO";
  request.database = "X";
  request.user = "X";
  request.password = kPassword;
  engine::ProviderError error;
  EXPECT_EQ(engine::Connect(request, error), nullptr);
  EXPECT_NE(error.description.find("'PGRARO'"), std::string::npos) << error.description;
  EXPECT_NE(error.description.find("unknown sslmode 'always'"), std::string::npos) << error.description;
  EXPECT_NE(error.description.find("verify-full"), std::string::npos) << error.description;

  request.server = "PGVACIO";
  EXPECT_EQ(engine::Connect(request, error), nullptr);
  EXPECT_NE(error.description.find("'PGVACIO'"), std::string::npos) << error.description;
  EXPECT_NE(error.description.find("sslrootcert"), std::string::npos) << error.description;
}

TEST(PgTlsEntry, HideSecretsCoversConnectionStringsAndLiterals) {
  EXPECT_EQ(text::HideSecrets("Provider=X;User Id=u;Password=abc;Data Source=d"),
            "Provider=X;User Id=u;Password=***;Data Source=d");
  EXPECT_EQ(text::HideSecrets("DSN=a; UID=b; PWD=c"), "DSN=a; UID=b; PWD=***");
  EXPECT_EQ(text::HideSecrets("@usuario= op; @Password= clave; @Caja=1"), "@usuario= op; @Password= ***; @Caja=1");
  EXPECT_EQ(text::HideSecrets("host=h password='a b' user=u"), "host=h password=*** user=u");
  EXPECT_EQ(text::HideSecrets("CREATE ROLE r LOGIN PASSWORD 'it''s' VALID"), "CREATE ROLE r LOGIN PASSWORD *** VALID");
  EXPECT_EQ(text::HideSecrets("password authentication failed for user \"u\""),
            "password authentication failed for user \"u\"");
}

}  // namespace
}  // namespace etapas
