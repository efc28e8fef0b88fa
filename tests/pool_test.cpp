// The pool of a replication walk on the embedded engine: every point of sale is connected
// and proven once, each key keeps one connection that the walk's sessions take in turn, and
// a store that cannot be read or written is known as failed before any session asks for it.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "components/cls_datos.h"
#include "components/pool_conexiones.h"
#include "db_fixture.h"
#include "test_support.h"

namespace etapas {
namespace {

namespace fs = std::filesystem;
using Estado = PoolConexiones::Estado;

constexpr const char* kPrueba =
    "BEGIN TRANSACTION; SELECT TOP 0 * FROM V_TA_ETAPAS; "
    "UPDATE V_TA_ETAPAS SET CODIGOESTADO = CODIGOESTADO WHERE 1 = 0; ROLLBACK TRANSACTION";

std::unique_ptr<ClsDatos> Sesion(const std::string& servidor, const std::string& base, const std::string& usuario,
                                 const std::string& clave) {
  auto db = std::make_unique<ClsDatos>();
  db->Servidor(servidor);
  db->BaseDatos(base);
  db->Usuario(usuario);
  db->Clave(clave);
  std::string cadena;
  db->Conectar(false, 3, cadena, true, false);
  return db;
}

// Files refuse writing to this process while it lives, also when it runs as root (whose
// capabilities would let it write a read-only file).
class SinPasarPermisos {
 public:
  SinPasarPermisos() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (syscall(SYS_capget, &header_, data_) != 0) return;
    saved_[0] = data_[0];
    saved_[1] = data_[1];
    for (auto& d : data_) d.effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_FOWNER));
    active_ = syscall(SYS_capset, &header_, data_) == 0;
  }
  ~SinPasarPermisos() {
    if (active_) syscall(SYS_capset, &header_, saved_);
  }
  SinPasarPermisos(const SinPasarPermisos&) = delete;
  SinPasarPermisos& operator=(const SinPasarPermisos&) = delete;

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct data_[2]{}, saved_[2]{};
  bool active_ = false;
};

class PoolSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* base : {"TPV1", "TPV2"}) test::CreateDatabase("SUC1", base, "pos.sql");
  }
  void TearDown() override { pool.Vaciar(); }

  std::vector<PruebaConexion> Probar(const std::vector<DestinoConexion>& destinos) {
    return pool.Probar(root.Path(), destinos, 5, kPrueba);
  }

  test::TempDataRoot root{false};
  PoolConexiones& pool = PoolConexiones::Compartido();
};

TEST_F(PoolSqlite, EachKeyKeepsOneConnectionThatTheSessionsTakeInTurn) {
  auto probados =
      Probar({{"SUC1", "TPV1", "TPV1", "TPV1"}, {"suc1 ", " tpv1", "tpv1", "TPV1"}, {"SUC1", "TPV2", "TPV2", "TPV2"}});
  ASSERT_EQ(probados.size(), 3u);
  for (const auto& p : probados) EXPECT_TRUE(p.conectado) << p.motivo;
  EXPECT_TRUE(pool.Activo());
  EXPECT_EQ(pool.Abiertas(), 2u);  // the first two are one key

  // Server, database and user ignore case and blanks, as ClsDatos does; not the password.
  auto prueba = Sesion(" Suc1", "TPV1 ", "Tpv1", "TPV1");
  ASSERT_TRUE(prueba->Conectado()) << prueba->MotivoFallo();
  EXPECT_EQ(pool.EstadoDe("SUC1", "TPV1", "TPV1", "TPV1"), Estado::Prestada);
  EXPECT_EQ(pool.EstadoDe("SUC1", "TPV1", "TPV1", "tpv1"), Estado::Ausente);
  prueba->Conexion()->SetCommandTimeout(360);
  auto* conexion = prueba->Conexion().get();
  test::Exec(*prueba, "BEGIN TRANSACTION");

  // Lent exclusively: another session of the key meanwhile connects by itself.
  auto otra = Sesion("SUC1", "TPV1", "TPV1", "TPV1");
  ASSERT_TRUE(otra->Conectado()) << otra->MotivoFallo();
  EXPECT_NE(otra->Conexion().get(), conexion);
  otra->Desconectar();
  EXPECT_FALSE(otra->Conectado());

  // Let go, it goes back as a new connection would be: no transaction, CommandTimeout 30.
  prueba->Desconectar();
  EXPECT_FALSE(prueba->Conectado());
  EXPECT_NE(prueba->Conexion().get(), conexion);
  EXPECT_THROW(prueba->ConexionAbierta(), RaisedError);
  EXPECT_EQ(pool.EstadoDe("SUC1", "TPV1", "TPV1", "TPV1"), Estado::Disponible);
  auto destino = Sesion("SUC1", "TPV1", "TPV1", "TPV1");
  ASSERT_TRUE(destino->Conectado());
  EXPECT_EQ(destino->Conexion().get(), conexion);
  EXPECT_EQ(destino->Conexion()->CommandTimeout(), 30);
  EXPECT_EQ(test::Scalar(*destino, "SELECT @@TRANCOUNT"), "0");

  // Connecting again lets the held one go first, and takes it again.
  std::string cadena;
  destino->Conectar(false, 3, cadena, true, false);
  EXPECT_EQ(destino->Conexion().get(), conexion);

  // Closed by its holder, it leaves the pool: the key then connects as without it.
  destino->Conexion()->Close();
  destino->Desconectar();
  EXPECT_EQ(pool.EstadoDe("SUC1", "TPV1", "TPV1", "TPV1"), Estado::Ausente);
  auto nueva = Sesion("SUC1", "TPV1", "TPV1", "TPV1");
  ASSERT_TRUE(nueva->Conectado());
  EXPECT_NE(nueva->Conexion().get(), conexion);
  nueva->Desconectar();
  EXPECT_EQ(pool.EstadoDe("SUC1", "TPV1", "TPV1", "TPV1"), Estado::Ausente);

  // Emptied, the pool closes what it keeps; a connection still lent stays its holder's
  // until let go, which then closes it.
  auto tpv2 = Sesion("SUC1", "TPV2", "TPV2", "TPV2");
  ASSERT_TRUE(tpv2->Conectado());
  auto guardada = tpv2->Conexion();
  pool.Vaciar();
  EXPECT_FALSE(pool.Activo());
  EXPECT_EQ(pool.EstadoDe("SUC1", "TPV2", "TPV2", "TPV2"), Estado::Ausente);
  EXPECT_EQ(test::Scalar(*tpv2, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
  tpv2->Desconectar();
  EXPECT_FALSE(guardada->IsOpen());
  // Inactive, nothing is taken from it.
  auto despues = Sesion("SUC1", "TPV2", "TPV2", "TPV2");
  EXPECT_TRUE(despues->Conectado());
}

TEST_F(PoolSqlite, AStoreThatCannotBeReadOrWrittenFailsBeforeAnySessionAsks) {
  // Not a database; a database without the table; a read-only file; a file read-only only
  // in its write-ahead log; a database that does not exist.
  { std::ofstream(root.DatabaseFile("SUC1", "ROTA")) << std::string(8192, 'x'); }
  test::CreateDatabase("SUC1", "VACIA", "stats.sql");
  test::CreateDatabase("SUC1", "SOLOLECTURA", "pos.sql");
  test::CreateDatabase("SUC1", "SOLOLOG", "pos.sql");
  const std::string lectura = root.DatabaseFile("SUC1", "SOLOLECTURA");
  std::vector<PruebaConexion> probados;
  fs::permissions(lectura, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  {
    // The log and its index left behind by a session that is still open, then read-only.
    auto abierta = Sesion("SUC1", "SOLOLOG", "SOLOLOG", "SOLOLOG");
    ASSERT_TRUE(abierta->Conectado());
    test::Exec(*abierta, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0001', 'UNO')");
    const std::string log = root.DatabaseFile("SUC1", "SOLOLOG");
    ASSERT_TRUE(fs::exists(log + "-wal"));
    ASSERT_TRUE(fs::exists(log + "-shm"));
    for (const std::string& f : {log + "-wal", log + "-shm"})
      fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    SinPasarPermisos sinPermisos;
    const std::vector<DestinoConexion> destinos = {{"SUC1", "ROTA", "ROTA", "ROTA"},
                                                   {"SUC1", "VACIA", "VACIA", "VACIA"},
                                                   {"SUC1", "SOLOLECTURA", "SOLOLECTURA", "SOLOLECTURA"},
                                                   {"SUC1", "SOLOLOG", "SOLOLOG", "SOLOLOG"},
                                                   {"SUC1", "NOESTA", "NOESTA", "NOESTA"},
                                                   {"SUC1", "TPV1", "TPV1", "TPV1"}};
    probados = Probar(destinos);
    ASSERT_EQ(probados.size(), destinos.size());
    const std::vector<std::string> motivos = {"file is not a database",
                                              "Invalid object name 'V_TA_ETAPAS'",
                                              "readonly database",
                                              "readonly database",
                                              "NOESTA",
                                              ""};
    for (size_t i = 0; i < destinos.size(); ++i) {
      const auto& d = destinos[i];
      SCOPED_TRACE(d.baseDatos);
      EXPECT_EQ(probados[i].conectado, motivos[i].empty());
      EXPECT_NE(probados[i].motivo.find(motivos[i]), std::string::npos) << probados[i].motivo;
      EXPECT_EQ(pool.EstadoDe(d.servidor, d.baseDatos, d.usuario, d.clave),
                motivos[i].empty() ? Estado::Disponible : Estado::Fallida);
    }
    EXPECT_EQ(pool.Abiertas(), 1u);
  }
  // Repaired meanwhile, a failed store stays failed for this walk: no new attempt is made.
  fs::permissions(lectura, fs::perms::owner_read | fs::perms::owner_write);
  for (size_t i : {1u, 2u}) {
    const std::string base = i == 1 ? "VACIA" : "SOLOLECTURA";
    if (i == 1) test::Exec(*test::Connect("SUC1", "VACIA"), "CREATE TABLE V_TA_ETAPAS (CODIGOESTADO varchar(4) NULL)");
    auto s = Sesion("SUC1", base, base, base);
    EXPECT_FALSE(s->Conectado()) << base;
    EXPECT_EQ(s->MotivoFallo(), probados[i].motivo) << base;
  }
  // The next walk proves them again.
  EXPECT_TRUE(Probar({{"SUC1", "VACIA", "VACIA", "VACIA"}, {"SUC1", "SOLOLECTURA", "SOLOLECTURA", "SOLOLECTURA"}})
                  .front()
                  .conectado);
  EXPECT_EQ(pool.EstadoDe("SUC1", "SOLOLECTURA", "SOLOLECTURA", "SOLOLECTURA"), Estado::Disponible);
}

}  // namespace
}  // namespace etapas
