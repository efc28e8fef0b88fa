#include "components/platform.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "engine/session.h"
#include "etapas_version.h"
#include "components/cls_consulta.h"
#include "components/cls_planilla.h"
#include "components/progress_window.h"
#include "components/text.h"

namespace etapas {

namespace mb {
std::vector<int> Buttons(int style) {
  switch (style & 7) {
    case kOkCancel: return {kAnsOk, kAnsCancel};
    case kAbortRetryIgnore: return {kAnsAbort, kAnsRetry, kAnsIgnore};
    case kYesNoCancel: return {kAnsYes, kAnsNo, kAnsCancel};
    case kYesNo: return {kAnsYes, kAnsNo};
    case kRetryCancel: return {kAnsRetry, kAnsCancel};
    default: return {kAnsOk};
  }
}

int DefaultAnswer(int style) {
  auto buttons = Buttons(style);
  size_t index = (style & kDefault3) ? 2 : (style & kDefault2) ? 1 : 0;
  return buttons[index < buttons.size() ? index : 0];
}
}  // namespace mb

namespace {
Plataforma*& Installed() {
  static Plataforma* p = nullptr;
  return p;
}

// The drivers do not know the platform; while they wait on a server the platform's pending
// events go through, so the window keeps painting.
[[maybe_unused]] const bool kWaitHookInstalled = (engine::SetWaitHook([] { Platform().DoEvents(); }), true);
}  // namespace

Plataforma& Platform() {
  static PlataformaProceso real;
  return Installed() ? *Installed() : real;
}

void SetPlatform(Plataforma* p) { Installed() = p; }

std::unique_ptr<VentanaProgreso> Plataforma::NuevaVentanaProgreso(EventosVentanaProgreso&) {
  return std::make_unique<VentanaProgresoSinPantalla>();
}

std::unique_ptr<VentanaProgreso> CrearVentanaProgreso(EventosVentanaProgreso& eventos) {
  if (auto ventana = Platform().NuevaVentanaProgreso(eventos)) return ventana;
  return std::make_unique<VentanaProgresoSinPantalla>();
}

std::unique_ptr<VentanaProgreso> PlataformaDelegada::NuevaVentanaProgreso(EventosVentanaProgreso& eventos) {
  return interior_.NuevaVentanaProgreso(eventos);
}

void PlataformaDelegada::TerminarProceso(int estado) {
  interior_.TerminarProceso(estado);
  std::abort();  // a platform's end of the process does not come back
}

PlataformaProceso::PlataformaProceso() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "etapas";
  auto slash = path.rfind('/');
  exeFolder_ = slash == std::string::npos ? "." : path.substr(0, slash);
  // An installed program keeps its read-only files (the skins, a lookup-definitions file the
  // installation ships) in its installation's data folder rather than beside the executable.
  std::error_code ec;
  if (!std::filesystem::is_directory(exeFolder_ + "/Styles", ec)) {
    const auto instalada = (std::filesystem::path(exeFolder_) / ETAPAS_REL_DATADIR).lexically_normal();
    if (std::filesystem::is_directory(instalada, ec)) exeFolder_ = instalada.string();
  }
  exeName_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (auto dot = exeName_.rfind('.'); dot != std::string::npos && dot > 0) exeName_.erase(dot);
}

int PlataformaProceso::MsgBox(const std::string& prompt, int style, const std::string& title) {
  // Without a window the operator reads it on standard error; the default button answers.
  std::cerr << "[" << title << "] " << prompt << std::endl;
  return mb::DefaultAnswer(style);
}

void PlataformaProceso::TerminarProceso(int estado) {
  std::fflush(nullptr);
  _exit(estado);
}

std::string PlataformaProceso::Entorno(const std::string& variable) const {
  const char* v = std::getenv(variable.c_str());
  return v ? v : "";
}

std::string PlataformaProceso::NombreMaquina() const {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return "";
  return buf;
}

std::string PlataformaProceso::UsuarioSesion() const {
  if (const char* u = std::getenv("USER"); u && *u) return u;
  if (const passwd* pw = getpwuid(getuid())) return pw->pw_name;
  return "";
}

int PlataformaGuionada::MsgBox(const std::string& prompt, int style, const std::string& title) {
  int answer = mb::DefaultAnswer(style);
  if (!answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  }
  shown.push_back({title, prompt, style, answer});
  return answer;
}

PlataformaGuionada::PlataformaGuionada() = default;
PlataformaGuionada::~PlataformaGuionada() = default;

std::optional<int32_t> PlataformaGuionada::ElegirColor(int32_t) {
  ++coloursAsked;
  if (colours.empty()) return std::nullopt;
  auto chosen = colours.front();
  colours.pop_front();
  return chosen;
}

std::string PlataformaGuionada::MostrarConsulta(const PeticionConsulta& peticion) {
  lookups.push_back(peticion);
  if (lookupAnswers.empty()) return "";
  std::string answer = lookupAnswers.front();
  lookupAnswers.pop_front();
  return answer;
}

void PlataformaGuionada::MostrarPlanilla(const PeticionPlanilla& peticion) { listings.push_back(peticion); }

std::unique_ptr<VentanaProgreso> PlataformaGuionada::NuevaVentanaProgreso(EventosVentanaProgreso& eventos) {
  if (ventanaProgreso) {
    if (auto ventana = ventanaProgreso(eventos)) return ventana;
  }
  return Plataforma::NuevaVentanaProgreso(eventos);
}

std::string PlataformaGuionada::Entorno(const std::string& variable) const {
  for (const auto& [k, v] : environment)
    if (k == variable) return v;
  return PlataformaProceso::Entorno(variable);
}

}  // namespace etapas

#include "components/ventana.h"

namespace etapas {
bool ExisteRecursoIcono(const std::string& nombre) { return text::EqualsNoCase(nombre, "ICONCORVELA"); }
}  // namespace etapas
