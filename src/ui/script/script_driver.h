#pragma once
// The headless front end: runs the editor's real load sequence, then reads one command a
// line and answers with one JSON object a line. Used by the tests and for automation.
#include <deque>
#include <iosfwd>
#include <string>

#include "components/platform.h"
#include "editor/frm_v_ta_etapas.h"

namespace etapas::ui {

class ScriptDriver : public PlataformaProceso {
 public:
  ScriptDriver(std::istream& in, std::ostream& out, std::string commandLine);
  // Runs the script to its end (or to the end of the system); returns the exit status.
  int Run();

  // The platform, as the system sees it while the script runs.
  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  [[noreturn]] void TerminarProceso(int estado = 0) override;
  std::string LineaComando() const override { return commandLine_; }
  // Its windows answer from the script's queues and report what they were asked.
  std::optional<int32_t> ElegirColor(int32_t actual) override;
  bool DibujaVentanas() const override { return true; }
  std::string MostrarConsulta(const PeticionConsulta& peticion) override;
  void MostrarPlanilla(const PeticionPlanilla& peticion) override;

 private:
  void Execute(const std::string& line, int number);
  void ScriptError(int number, const std::string& reason);
  void Dump();
  void Emit(const std::string& json);

  std::istream& in_;
  std::ostream& out_;
  std::string commandLine_;
  FrmV_TA_ETAPAS form_;
  std::deque<int> answers_;
  std::deque<int32_t> colours_;
  std::deque<std::string> lookups_;
};

}  // namespace etapas::ui
