// What a save leaves when it is cut short or runs beside others: the real programs on
// real databases, killed at chosen instants or started together.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "db_fixture.h"
#include "test_support.h"

extern char** environ;

namespace etapas {
namespace {

using test::Exec;
using test::Rows;

constexpr int kTiendas = 12;

std::string Base(int i) { return "SUC" + std::string(i < 10 ? "0" : "") + std::to_string(i); }

// A program started with a script on its standard input, left running.
struct Proceso {
  pid_t pid = -1;
  int Esperar() {
    int estado = 0;
    waitpid(pid, &estado, 0);
    return WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
  }
};

Proceso Lanzar(const std::vector<std::string>& argv, const std::string& entrada) {
  int tubo[2];
  EXPECT_EQ(pipe(tubo), 0);
  posix_spawn_file_actions_t acciones;
  posix_spawn_file_actions_init(&acciones);
  posix_spawn_file_actions_adddup2(&acciones, tubo[0], 0);
  posix_spawn_file_actions_addclose(&acciones, tubo[1]);
  posix_spawn_file_actions_addopen(&acciones, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&acciones, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  Proceso p;
  EXPECT_EQ(posix_spawn(&p.pid, args[0], &acciones, nullptr, args.data(), environ), 0);
  posix_spawn_file_actions_destroy(&acciones);
  close(tubo[0]);
  EXPECT_EQ(write(tubo[1], entrada.data(), entrada.size()), static_cast<ssize_t>(entrada.size()));
  close(tubo[1]);
  return p;
}

class Interrumpida : public ::testing::Test {
 protected:
  void SetUp() override {
    test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
    test::CreateDatabase("CASA", "CV_TORNASOLADAS", "stats.sql");
    casa = test::Connect("CASA", "EMPRESA1");
    for (int i = 1; i <= kTiendas; ++i) {
      test::CreateDatabase("TIENDAS", Base(i), "pos.sql");
      Exec(*casa, "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES ('" + Codigo(i) +
                      "','Sucursal " + std::to_string(i) + "','TIENDAS','" + Base(i) + "',0,0)");
      tiendas.push_back(test::Connect("TIENDAS", Base(i)));
    }
    Igualar("INICIAL");
  }

  static std::string Codigo(int i) { return "00" + Base(i).substr(3); }

  // Home and every store hold status 0002 with this description, nothing is owed.
  void Igualar(const std::string& descripcion) {
    const std::string fila = "('0002','" + descripcion + "','255','E',' ')";
    for (ClsDatos* db : Todas()) {
      Exec(*db, "DELETE FROM V_TA_ETAPAS");
      Exec(*db,
           "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES " + fila);
    }
    Exec(*casa, "DELETE FROM V_TA_REPLICACION_PENDIENTE");
  }
  std::vector<ClsDatos*> Todas() {
    std::vector<ClsDatos*> todas = {casa.get()};
    for (auto& t : tiendas) todas.push_back(t.get());
    return todas;
  }
  static std::string Descripcion(ClsDatos& db) {
    return test::Scalar(db, "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'");
  }

  // After anything: every store holds the home row or owes it, and owes each row once.
  // Returns how many stores already hold it.
  int ComprobarQueNadaSePierde(const std::string& cuando) {
    const std::string enCasa = Descripcion(*casa);
    int alDia = 0;
    for (int i = 1; i <= kTiendas; ++i) {
      const auto debe = Rows(*casa, "SELECT ID FROM V_TA_REPLICACION_PENDIENTE WHERE DESTINO = '" + Codigo(i) +
                                        "' AND VALOR1 = '''0002'''");
      EXPECT_LE(debe.size(), 1u) << cuando << ": " << Codigo(i) << " owes the row twice";
      const bool igual = Descripcion(*tiendas[static_cast<size_t>(i - 1)]) == enCasa;
      alDia += igual ? 1 : 0;
      EXPECT_TRUE(igual || !debe.empty()) << cuando << ": store " << Codigo(i) << " lost the change " << enCasa;
    }
    return alDia;
  }

  std::vector<std::string> Editor() {
    return {ETAPAS_PATH, "--script", "-", "@Server=CASA;", "@DbName=EMPRESA1;", "@Usuario=sa;", "@Password=x;"};
  }
  static std::string Guardar(const std::string& descripcion) {
    return "type 0 0002\nkey 0 13\ntype 1 " + descripcion + "\nclick GRABAR\n";
  }

  test::TempDataRoot root;
  std::unique_ptr<ClsDatos> casa;
  std::vector<std::unique_ptr<ClsDatos>> tiendas;
};

TEST_F(Interrumpida, AKilledSaveLeavesEveryStoreWithTheChangeOrOwingIt) {
  // How long a whole save takes here, so the kills fall over all of it.
  const auto antes = std::chrono::steady_clock::now();
  ASSERT_EQ(Lanzar(Editor(), Guardar("PRUEBA")).Esperar(), 0);
  const auto total =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - antes).count();
  EXPECT_EQ(ComprobarQueNadaSePierde("uncut"), kTiendas);

  std::mt19937 azar(20261211);
  std::uniform_int_distribution<long> instante(0, total);
  int aMitad = 0;
  for (int vez = 0; vez < 24; ++vez) {
    Igualar("INICIAL");
    const std::string nueva = "CORTADA " + std::to_string(vez);
    Proceso p = Lanzar(Editor(), Guardar(nueva));
    std::this_thread::sleep_for(std::chrono::microseconds(instante(azar)));
    kill(p.pid, SIGKILL);
    p.Esperar();
    const int alDia = ComprobarQueNadaSePierde("kill -9 " + std::to_string(vez));
    if (Descripcion(*casa) == nueva && alDia < kTiendas) ++aMitad;
    // The next run serves what is owed (a claim the killed process held waits for its time).
    auto r = test::RunProcess({ETAPAS_ADMIN_PATH, "sincronizar", "--server", "CASA", "--database", "EMPRESA1"});
    const int servidas = ComprobarQueNadaSePierde("after sincronizar");
    if (r.exitCode == 0) { EXPECT_EQ(servidas, kTiendas) << r.stdoutText; }
  }
  // Some kills fell inside the walk (home saved, stores partly served): otherwise the
  // test proved nothing.
  EXPECT_GE(aMitad, 1);
}

TEST_F(Interrumpida, TwoEditorsAndSincronizarAtOnceLeaveEveryStoreAsHome) {
  for (int vuelta = 0; vuelta < 3; ++vuelta) {
    const std::string n = std::to_string(vuelta);
    Proceso a = Lanzar(Editor(), Guardar("PRIMERO " + n));
    Proceso b = Lanzar(Editor(), Guardar("SEGUNDO " + n));
    Proceso c = Lanzar({ETAPAS_ADMIN_PATH, "sincronizar", "--server", "CASA", "--database", "EMPRESA1"}, "");
    EXPECT_EQ(a.Esperar(), 0);
    EXPECT_EQ(b.Esperar(), 0);
    c.Esperar();
    EXPECT_EQ(ComprobarQueNadaSePierde("round " + n), kTiendas);
    EXPECT_TRUE(Rows(*casa, "SELECT DESTINO FROM V_TA_REPLICACION_PENDIENTE").empty()) << "round " << n;
  }
}

}  // namespace
}  // namespace etapas
