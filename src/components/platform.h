#pragma once
// What the system asks of the desktop platform: modal message boxes, pending events,
// ending the process, the program's own name and folder, the environment and the
// workstation. The Qt window, the headless driver and the tests each install their own.
#include <deque>
#include <string>
#include <vector>

namespace etapas {

// Message box styles and answers, with the platform's numbers.
namespace mb {
inline constexpr int kOk = 0, kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kYesNo = 4,
                     kRetryCancel = 5;
inline constexpr int kCritical = 16, kQuestion = 32, kExclamation = 48, kInformation = 64;
inline constexpr int kDefault2 = 256, kDefault3 = 512;
inline constexpr int kAnsOk = 1, kAnsCancel = 2, kAnsAbort = 3, kAnsRetry = 4, kAnsIgnore = 5,
                     kAnsYes = 6, kAnsNo = 7;
// The answers of a style's buttons, in order.
std::vector<int> Buttons(int style);
// The answer of the style's default button.
int DefaultAnswer(int style);
}  // namespace mb

class Plataforma {
 public:
  virtual ~Plataforma() = default;
  virtual int MsgBox(const std::string& prompt, int style, const std::string& title) = 0;
  virtual void DoEvents() {}
  // Ends the process at once: nothing after it runs. Test platforms throw ProcesoTerminado.
  // A non-zero status tells the caller the program could not do its work.
  [[noreturn]] virtual void TerminarProceso(int estado = 0) = 0;
  virtual std::string NombreEjecutable() const = 0;  // without folder or extension
  virtual std::string CarpetaPrograma() const = 0;   // the executable's folder
  virtual std::string LineaComando() const = 0;      // the program's arguments, joined by blanks
  virtual std::string Entorno(const std::string& variable) const = 0;
  virtual std::string NombreMaquina() const = 0;
  virtual std::string UsuarioSesion() const = 0;
};

// Thrown by test platforms to stand for the end of the process.
struct ProcesoTerminado {
  int estado = 0;
};

// The process's platform; a real one unless a front end or a test installs another.
Plataforma& Platform();
void SetPlatform(Plataforma* p);  // null: back to the real one

// The real process: message boxes on standard error (no display here), _exit for the end.
class PlataformaProceso : public Plataforma {
 public:
  PlataformaProceso();
  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  [[noreturn]] void TerminarProceso(int estado = 0) override;
  std::string NombreEjecutable() const override { return exeName_; }
  std::string CarpetaPrograma() const override { return exeFolder_; }
  std::string LineaComando() const override { return commandLine_; }
  std::string Entorno(const std::string& variable) const override;
  std::string NombreMaquina() const override;
  std::string UsuarioSesion() const override;

  void SetCommandLine(std::string line) { commandLine_ = std::move(line); }

 private:
  std::string exeName_, exeFolder_, commandLine_;
};

// Answers message boxes from a queue (the default button when it is empty) and records
// every box; the tests and the headless driver use it.
class PlataformaGuionada : public PlataformaProceso {
 public:
  struct Mensaje {
    std::string title, prompt;
    int style = 0, answer = 0;
  };
  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  [[noreturn]] void TerminarProceso(int estado = 0) override { throw ProcesoTerminado{estado}; }
  std::string NombreEjecutable() const override { return exeName.empty() ? PlataformaProceso::NombreEjecutable() : exeName; }
  std::string CarpetaPrograma() const override { return folder.empty() ? PlataformaProceso::CarpetaPrograma() : folder; }
  std::string LineaComando() const override { return commandLine; }
  std::string Entorno(const std::string& variable) const override;
  std::string NombreMaquina() const override { return machine; }
  std::string UsuarioSesion() const override { return user; }
  void DoEvents() override { ++eventsProcessed; }

  std::deque<int> answers;
  std::vector<Mensaje> shown;
  std::string exeName = "etapas", folder, commandLine, machine = "PC-PRUEBA", user = "prueba";
  std::vector<std::pair<std::string, std::string>> environment;  // overrides
  int eventsProcessed = 0;
};

}  // namespace etapas
