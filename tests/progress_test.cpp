// The progress window and the banner, through the window service a front end would use.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "components/platform.h"
#include "components/progress_window.h"
#include "progress/dll_display.h"
#include "progress/lbf_ctrl_display.h"

namespace etapas {
namespace {

// What a front end saw of one window, kept after the model has dropped it.
struct Historia {
  std::vector<EstadoVentanaProgreso> dibujos;
  EventosVentanaProgreso* eventos = nullptr;
  bool descargada = false;
  bool algunaVezVisible = false;
  int intervalo = 0;
  bool temporizadorActivo = false;
};

class VentanaDePrueba : public VentanaProgresoSinPantalla {
 public:
  VentanaDePrueba(Historia& h, bool rehusa) : h_(h), rehusa_(rehusa) {}
  void Dibujar(const EstadoVentanaProgreso& e) override {
    VentanaProgresoSinPantalla::Dibujar(e);
    h_.dibujos.push_back(e);
    h_.algunaVezVisible = h_.algunaVezVisible || e.visible;
  }
  void Temporizador(int ms, bool activo) override {
    h_.intervalo = ms;
    h_.temporizadorActivo = activo;
  }
  void Descargar() override {
    VentanaProgresoSinPantalla::Descargar();
    h_.descargada = true;
  }
  // A platform that refuses the re-placing and the transparency.
  PuntoPx ClientToScreen(PuntoPx p) override {
    if (rehusa_) throw RaisedError(0, "refused", "user32");
    return VentanaProgresoSinPantalla::ClientToScreen(p);
  }
  long GetWindowLongA(int i) override {
    if (rehusa_) throw RaisedError(0, "refused", "user32");
    return VentanaProgresoSinPantalla::GetWindowLongA(i);
  }

 private:
  Historia& h_;
  bool rehusa_;
};

class Progreso : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.ventanaProgreso = [this](EventosVentanaProgreso& eventos) {
      historias.push_back(std::make_unique<Historia>());
      historias.back()->eventos = &eventos;
      auto v = std::make_unique<VentanaDePrueba>(*historias.back(), rehusar);
      ultima = v.get();
      return v;
    };
    SetPlatform(&platform);
  }
  void TearDown() override { SetPlatform(nullptr); }
  Historia& Ultima() { return *historias.back(); }

  PlataformaGuionada platform;
  std::vector<std::unique_ptr<Historia>> historias;
  VentanaDePrueba* ultima = nullptr;
  bool rehusar = false;
};

TEST_F(Progreso, LoadCentresShrinksToTheClientAreaAndTurnsSemiTransparentWithoutShowing) {
  Lbf_CtrlDisplay w;
  ASSERT_NE(ultima, nullptr);
  EXPECT_EQ(w.Caption, "Procesando Datos");
  EXPECT_EQ(w.CmdDisplayCancelar.Caption, "&Cancelar");
  EXPECT_EQ(w.CuadroMostrado(), 1);
  EXPECT_EQ(w.CuadroActual, 0);
  EXPECT_FALSE(w.Visible());
  EXPECT_FALSE(Ultima().algunaVezVisible);
  EXPECT_EQ(Ultima().intervalo, 100);
  EXPECT_TRUE(Ultima().temporizadorActivo);
  // Centred on a 1920 x 1080 screen (15 twips to the pixel), then moved once, unpainted,
  // to its client area's origin with the client area's size.
  EXPECT_EQ(ultima->izquierda, (1920 * 15 - 7845) / 2 / 15);
  EXPECT_EQ(ultima->arriba, (1080 * 15 - 2970) / 2 / 15);
  EXPECT_EQ(ultima->movimientos, 1);
  EXPECT_EQ(ultima->ancho, 7845 / 15);
  EXPECT_EQ(ultima->alto, 2970 / 15);
  // Layered on top of whatever style it had, alpha 200 with no colour key.
  EXPECT_EQ(ultima->estiloExtendido, w32::kWsExLayered);
  EXPECT_EQ(ultima->alfa, 200);
  EXPECT_EQ(ultima->banderasCapa, w32::kLwaAlpha);
  EXPECT_EQ(ultima->clave, 0u);
}

TEST_F(Progreso, APlatformThatRefusesStepsStillGetsAWorkingWindow) {
  rehusar = true;
  Lbf_CtrlDisplay w;
  EXPECT_EQ(ultima->movimientos, 0);
  EXPECT_EQ(ultima->alfa, 255);
  EXPECT_EQ(ultima->estiloExtendido, 0);
  // The steps after the refused ones still ran.
  EXPECT_EQ(w.CmdDisplayCancelar.Caption, "&Cancelar");
  EXPECT_EQ(w.CuadroMostrado(), 1);
  w.Show();
  EXPECT_TRUE(ultima->estado.visible);
}

TEST_F(Progreso, AnimationCyclesTwelveFramesAndCancelIsRememberedInTheCaption) {
  Lbf_CtrlDisplay w;
  EventosVentanaProgreso& e = *Ultima().eventos;
  std::vector<int> cuadros;
  for (int i = 0; i < 13; ++i) {
    e.AlTemporizador();
    cuadros.push_back(ultima->estado.cuadro);
    if (i == 11) {
      EXPECT_EQ(w.CuadroMostrado(), 12);
      EXPECT_EQ(w.CuadroActual, 0);
    }
  }
  EXPECT_EQ(cuadros, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1}));
  EXPECT_EQ(w.CuadroActual, 1);

  e.AlPulsarCancelar();
  e.AlPulsarCancelar();
  EXPECT_EQ(w.CmdDisplayCancelar.Caption, "Abortado");
  EXPECT_EQ(ultima->estado.textoCancelar, "Abortado");
  EXPECT_FALSE(w.Visible());  // cancelling closes nothing
}

TEST_F(Progreso, BannerLinesTitleAndCancelState) {
  Dll_Display d;
  d.CartelInicio("Replicando", false);
  ASSERT_EQ(historias.size(), 1u);
  EXPECT_TRUE(ultima->estado.visible);
  EXPECT_EQ(ultima->estado.titulo, "Replicando");
  EXPECT_FALSE(ultima->estado.cancelarVisible);

  bool cancelado = true;
  const int eventos = platform.eventsProcessed;
  d.CartelMostrar(cancelado, Variant("uno"), Variant(2), Variant("tres"));
  EXPECT_FALSE(cancelado);
  EXPECT_EQ(platform.eventsProcessed, eventos + 1);
  // Only line 1 given: lines 0 and 2 stay; a null line 0 clears it.
  d.CartelMostrar(cancelado, std::nullopt, Variant("dos"));
  EXPECT_EQ(ultima->estado.lineas, (std::array<std::string, 3>{"uno", "dos", "tres"}));
  d.CartelMostrar(cancelado, Variant::Null());
  EXPECT_EQ(ultima->estado.lineas, (std::array<std::string, 3>{"", "dos", "tres"}));

  // Cancel is reported from then on, until the banner is closed.
  Ultima().eventos->AlPulsarCancelar();
  d.CartelMostrar(cancelado);
  EXPECT_TRUE(cancelado);
  d.CartelMostrar(cancelado, Variant("x"));
  EXPECT_TRUE(cancelado);
  d.CartelCerrar();
  EXPECT_EQ(d.Ventana(), nullptr);
  EXPECT_TRUE(Ultima().descargada);
  EXPECT_FALSE(Ultima().temporizadorActivo);
  EXPECT_FALSE(Ultima().dibujos.back().visible);

  d.CartelInicio("Otra vez", true);
  ASSERT_EQ(historias.size(), 2u);
  EXPECT_TRUE(ultima->estado.cancelarVisible);
  d.CartelMostrar(cancelado, Variant("y"));
  EXPECT_FALSE(cancelado);
  d.CartelCerrar();
}

TEST_F(Progreso, ClosingTwiceLoadsAWindowNobodySees) {
  Dll_Display d;
  d.CartelInicio("t", true);
  d.CartelCerrar();
  d.CartelCerrar();
  ASSERT_EQ(historias.size(), 2u);
  EXPECT_TRUE(historias[1]->descargada);
  EXPECT_FALSE(historias[1]->algunaVezVisible);
  // It ran the whole load sequence, transparency included.
  EXPECT_EQ(historias[1]->dibujos.front().textoCancelar, "&Cancelar");

  // Lines set before any CartelInicio are there when it shows.
  bool cancelado = false;
  d.CartelMostrar(cancelado, Variant("antes"));
  EXPECT_FALSE(Ultima().algunaVezVisible);
  d.CartelInicio("t", false);
  EXPECT_EQ(ultima->estado.lineas[0], "antes");
  d.CartelCerrar();
}

TEST_F(Progreso, AlwaysOnTopKeepsPositionAndSize) {
  Dll_Display d;
  d.CartelInicio("t", false);
  const long x = ultima->izquierda, y = ultima->arriba, w = ultima->ancho, h = ultima->alto;
  d.Siempre_Visible(true);
  EXPECT_TRUE(ultima->siempreVisible);
  EXPECT_EQ(std::vector<long>({ultima->izquierda, ultima->arriba, ultima->ancho, ultima->alto}),
            std::vector<long>({x, y, w, h}));
  d.Siempre_Visible(false);
  EXPECT_FALSE(ultima->siempreVisible);
  d.CartelCerrar();
}

TEST_F(Progreso, MessagesTakeTheSharedBannerDownWhileTheGuardLives) {
  bool cancelado = false;
  {
    CartelCedeAMensajes cede;
    EXPECT_EQ(&Platform(), &cede);
    CartelCompartido().CartelInicio("Trabajando", false);
    CartelCompartido().CartelMostrar(cancelado, Variant("uno"));
    Historia& antes = Ultima();
    EXPECT_EQ(Platform().MsgBox("aviso", 0, "t"), 1);
    EXPECT_TRUE(antes.descargada);
    EXPECT_EQ(CartelCompartido().Ventana(), nullptr);
    // With no banner up, a message creates none.
    Platform().MsgBox("otro", 0, "t");
    EXPECT_EQ(historias.size(), 1u);
    EXPECT_EQ(Platform().NombreEjecutable(), "etapas");
  }
  EXPECT_EQ(&Platform(), &platform);
  ASSERT_EQ(platform.shown.size(), 2u);
  // Without the guard a message leaves the banner alone.
  CartelCompartido().CartelInicio("Trabajando", false);
  Platform().MsgBox("aviso", 0, "t");
  EXPECT_NE(CartelCompartido().Ventana(), nullptr);
  CartelCompartido().CartelCerrar();
}

}  // namespace
}  // namespace etapas
