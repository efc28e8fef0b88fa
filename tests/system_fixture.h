#pragma once
// A process's worth of system state for one test: a private data root, a scripted
// platform, the home and statistics databases, and the shared module's sessions.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/mod_global.h"
#include "components/platform.h"
#include "db_fixture.h"
#include "test_support.h"

namespace etapas::test {

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReiniciarEstadoGlobal();
    platform.folder = root.Path() + "/programa";
    std::filesystem::create_directories(platform.folder);
    platform.environment = {{"TEMP", root.Path() + "/temp"}, {"TMP", ""}};
    std::filesystem::create_directories(root.Path() + "/temp");
    SetPlatform(&platform);
    CreateDatabase("CASA", "EMPRESA1", "home.sql");
    CreateDatabase("CASA", "CV_TORNASOLADAS", "stats.sql");
  }
  void TearDown() override {
    SetPlatform(nullptr);
    ReiniciarEstadoGlobal();
  }

  // Connects the shared module's main (and statistics) sessions as start-up would.
  void ConnectSessions(const std::string& user = "sa") {
    ClsDatos& d = *SesionSistema.Datos;
    d.Servidor("CASA");
    d.BaseDatos("EMPRESA1");
    d.Usuario(user);
    d.Clave("x");
    std::string cadena;
    d.Conectar(false, 3, cadena, true, false);
    ASSERT_TRUE(d.Conectado());
    ClsDatos& e = *SesionSistema.DatosEstadistica;
    e.Servidor("CASA");
    e.BaseDatos("CV_TORNASOLADAS");
    e.Usuario("CV_TORNASOLADAS");
    e.Clave("CV_TORNASOLADAS");
    e.Conectar(false, 3, cadena, true, false);
    ASSERT_TRUE(e.Conectado());
  }

  ClsDatos& Home() { return *SesionSistema.Datos; }
  ClsDatos& Stats() { return *SesionSistema.DatosEstadistica; }

  TempDataRoot root;
  PlataformaGuionada platform;
};

}  // namespace etapas::test
