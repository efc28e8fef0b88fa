#pragma once
// The Qt front end as the tests install it: boxes answered by `answerer`, no lookup,
// listing or colour dialog (a modal window would block the run), and progress windows
// drawn by Qt only when a test asks for them.
#include <functional>

#include "components/platform.h"
#include "components/progress_window.h"
#include "ui/qt/ventana_qt.h"

namespace etapas::test {

class FrenteQtDePrueba : public ui::PlataformaQt {
 public:
  std::optional<int32_t> ElegirColor(int32_t) override { return std::nullopt; }
  bool DibujaVentanas() const override { return false; }
  std::unique_ptr<VentanaProgreso> NuevaVentanaProgreso(EventosVentanaProgreso& eventos) override {
    return progresoQt ? ui::PlataformaQt::NuevaVentanaProgreso(eventos) : Plataforma::NuevaVentanaProgreso(eventos);
  }
  // Called as the window ends the process, which then really ends.
  [[noreturn]] void TerminarProceso(int estado = 0) override {
    if (alTerminar) alTerminar(estado);
    ui::PlataformaQt::TerminarProceso(estado);
  }
  bool progresoQt = false;
  std::function<void(int)> alTerminar;
};

// Installs a front end for one scope.
class FrenteInstalado {
 public:
  explicit FrenteInstalado(Plataforma& frente) { SetPlatform(&frente); }
  ~FrenteInstalado() { SetPlatform(nullptr); }
  FrenteInstalado(const FrenteInstalado&) = delete;
  FrenteInstalado& operator=(const FrenteInstalado&) = delete;
};

}  // namespace etapas::test
