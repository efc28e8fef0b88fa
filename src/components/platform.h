#pragma once
// What the system asks of the desktop platform: ending the process, the program's own
// name and folder, the environment and the workstation; and every window of the front end
// (message boxes, the colour dialog, the lookup and the listing, the date picker, the
// progress window) and its pending events. A front end (the Qt window, the headless
// driver, a test) installs one object with SetPlatform; without one the process runs
// headless.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace etapas {

struct PeticionConsulta;
struct PeticionPlanilla;
class VentanaProgreso;
class EventosVentanaProgreso;

// Message box styles and answers, with the platform's numbers.
namespace mb {
inline constexpr int kOk = 0, kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kYesNo = 4, kRetryCancel = 5;
inline constexpr int kCritical = 16, kQuestion = 32, kExclamation = 48, kInformation = 64;
inline constexpr int kDefault2 = 256, kDefault3 = 512;
inline constexpr int kAnsOk = 1, kAnsCancel = 2, kAnsAbort = 3, kAnsRetry = 4, kAnsIgnore = 5, kAnsYes = 6, kAnsNo = 7;
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

  // The front end's windows. The defaults are those of a process without a screen.
  // The colour dialog: given the current colour, the chosen one or nothing (cancel).
  virtual std::optional<int32_t> ElegirColor(int32_t actual) { return std::nullopt; }
  // Whether the lookup and listing windows exist: without them their rows are not even read.
  virtual bool DibujaVentanas() const { return false; }
  // The lookup window: shows the request's rows and answers the chosen value ("" when none).
  virtual std::string MostrarConsulta(const PeticionConsulta& peticion) { return ""; }
  virtual void MostrarPlanilla(const PeticionPlanilla& peticion) {}
  // The date picker: the chosen date as dd/mm/yyyy, or nothing to take today's.
  virtual std::optional<std::string> ElegirFecha() { return std::nullopt; }
  // A new progress window for the model that receives its events; the default one keeps
  // its geometry and records what it is asked (VentanaProgresoSinPantalla).
  virtual std::unique_ptr<VentanaProgreso> NuevaVentanaProgreso(EventosVentanaProgreso& eventos);
};

// Passes everything to another platform; a platform that watches or changes a few calls
// for a while derives from it, so the front end's windows stay those of the one in place.
class PlataformaDelegada : public Plataforma {
 public:
  explicit PlataformaDelegada(Plataforma& interior) : interior_(interior) {}
  int MsgBox(const std::string& prompt, int style, const std::string& title) override {
    return interior_.MsgBox(prompt, style, title);
  }
  void DoEvents() override { interior_.DoEvents(); }
  [[noreturn]] void TerminarProceso(int estado = 0) override;
  std::string NombreEjecutable() const override { return interior_.NombreEjecutable(); }
  std::string CarpetaPrograma() const override { return interior_.CarpetaPrograma(); }
  std::string LineaComando() const override { return interior_.LineaComando(); }
  std::string Entorno(const std::string& variable) const override { return interior_.Entorno(variable); }
  std::string NombreMaquina() const override { return interior_.NombreMaquina(); }
  std::string UsuarioSesion() const override { return interior_.UsuarioSesion(); }
  std::optional<int32_t> ElegirColor(int32_t actual) override { return interior_.ElegirColor(actual); }
  bool DibujaVentanas() const override { return interior_.DibujaVentanas(); }
  std::string MostrarConsulta(const PeticionConsulta& p) override { return interior_.MostrarConsulta(p); }
  void MostrarPlanilla(const PeticionPlanilla& p) override { interior_.MostrarPlanilla(p); }
  std::optional<std::string> ElegirFecha() override { return interior_.ElegirFecha(); }
  std::unique_ptr<VentanaProgreso> NuevaVentanaProgreso(EventosVentanaProgreso& eventos) override;

 protected:
  Plataforma& interior_;
};

// Thrown by test platforms to stand for the end of the process.
struct ProcesoTerminado {
  int estado = 0;
};

// The process's platform and front end; a real headless one unless a front end or a test
// installs another.
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
// every box; the colour dialog and the lookup answer from their queues (cancel and ""
// when empty) and record what they were asked, as the listing does; progress windows are
// the default ones unless `ventanaProgreso` makes them. The tests install it.
class PlataformaGuionada : public PlataformaProceso {
 public:
  struct Mensaje {
    std::string title, prompt;
    int style = 0, answer = 0;
  };
  PlataformaGuionada();
  ~PlataformaGuionada() override;
  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  std::optional<int32_t> ElegirColor(int32_t actual) override;
  bool DibujaVentanas() const override { return true; }
  std::string MostrarConsulta(const PeticionConsulta& peticion) override;
  void MostrarPlanilla(const PeticionPlanilla& peticion) override;
  std::unique_ptr<VentanaProgreso> NuevaVentanaProgreso(EventosVentanaProgreso& eventos) override;
  [[noreturn]] void TerminarProceso(int estado = 0) override { throw ProcesoTerminado{estado}; }
  std::string NombreEjecutable() const override {
    return exeName.empty() ? PlataformaProceso::NombreEjecutable() : exeName;
  }
  std::string CarpetaPrograma() const override {
    return folder.empty() ? PlataformaProceso::CarpetaPrograma() : folder;
  }
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

  std::deque<std::optional<int32_t>> colours;  // what the colour dialog reports
  int coloursAsked = 0;
  std::deque<std::string> lookupAnswers;
  std::vector<PeticionConsulta> lookups;
  std::vector<PeticionPlanilla> listings;
  std::function<std::unique_ptr<VentanaProgreso>(EventosVentanaProgreso&)> ventanaProgreso;
};

}  // namespace etapas
