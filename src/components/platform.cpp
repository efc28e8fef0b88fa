#include "components/platform.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "engine/session.h"
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

PlataformaProceso::PlataformaProceso() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "etapas";
  auto slash = path.rfind('/');
  exeFolder_ = slash == std::string::npos ? "." : path.substr(0, slash);
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
