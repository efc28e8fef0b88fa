#include "ui/script/script_driver.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <sstream>

#include "components/cls_consulta.h"
#include "components/cls_planilla.h"
#include "components/interrupcion.h"
#include "components/json.h"
#include "components/text.h"

namespace etapas::ui {
namespace {

std::string B(bool b) { return b ? "true" : "false"; }

volatile std::sig_atomic_t senalRecibida = 0;

// SIGTERM, or SIGHUP at a logout. With no save under way nothing is owed to any store: the
// program ends here. A save is only asked to stop at its next store; Run ends the program
// when its command returns.
void AlRecibirSenal(int signo) {
  senalRecibida = signo;
  PedirInterrupcion();
  if (!HayTrabajoEnCurso()) _exit(128 + signo);
}

bool ParseInt(const std::string& s, long long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtoll(s.c_str(), &end, 10);
  return end && *end == '\0';
}

}  // namespace

ScriptDriver::ScriptDriver(std::istream& in, std::ostream& out, std::string commandLine)
    : in_(in), out_(out), commandLine_(std::move(commandLine)) {}

void ScriptDriver::Emit(const std::string& json) { out_ << json << "\n" << std::flush; }

int ScriptDriver::MsgBox(const std::string& prompt, int style, const std::string& title) {
  int answer = mb::DefaultAnswer(style);
  // The script's answers were meant for the boxes of a run that goes on.
  if (!answers_.empty() && !InterrupcionPedida()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  Emit("{\"event\":\"message\",\"title\":" + JsonString(title) + ",\"text\":" + JsonString(prompt) +
       ",\"style\":" + std::to_string(style) + ",\"answer\":" + std::to_string(answer) + "}");
  return answer;
}

void ScriptDriver::TerminarProceso(int estado) {
  Emit("{\"event\":\"end\"}");
  std::fflush(nullptr);
  _exit(estado);
}

std::optional<int32_t> ScriptDriver::ElegirColor(int32_t actual) {
  std::optional<int32_t> chosen;
  if (!colours_.empty()) {
    chosen = colours_.front();
    colours_.pop_front();
  }
  Emit("{\"event\":\"colour\",\"answer\":" + std::to_string(chosen.value_or(actual)) + "}");
  return chosen;
}

std::string ScriptDriver::MostrarConsulta(const PeticionConsulta& p) {
  std::string answer;
  if (!lookups_.empty()) {
    answer = lookups_.front();
    lookups_.pop_front();
  }
  Emit("{\"event\":\"lookup\",\"sql\":" + JsonString(p.sql) + ",\"key\":" + JsonString(p.campoClave) +
       ",\"answer\":" + JsonString(answer) + "}");
  return answer;
}

void ScriptDriver::MostrarPlanilla(const PeticionPlanilla& p) {
  Emit("{\"event\":\"listing\",\"sql\":" + JsonString(p.sql) + ",\"provider\":" + JsonString(p.proveedor) + "}");
}

int ScriptDriver::Run() {
  SetPlatform(this);
  EscucharFinDeSesion(AlRecibirSenal);
  try {
    form_.Form_Load();
  } catch (const std::exception& e) {
    Emit("{\"event\":\"error\",\"text\":" + JsonString(e.what()) + "}");
    TerminarProceso(1);
  }
  // The platform shows the window after its load; the first field in tab order gets the focus.
  form_.Visible = true;
  try {
    form_.SetFocus(0);
  } catch (const RaisedError&) {}
  std::string line;
  int number = 0;
  while (std::getline(in_, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = text::TrimCopy(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    try {
      Execute(line, number);
    } catch (const RaisedError& e) {
      ScriptError(number, "failure " + std::to_string(e.Number()) + ": " + e.Description());
    } catch (const std::exception& e) { ScriptError(number, e.what()); }
    // Asked to end while the command ran: it has stopped where it could, so end now.
    if (InterrupcionPedida()) TerminarProceso(senalRecibida ? 128 + senalRecibida : 1);
  }
  SetPlatform(nullptr);
  return 0;
}

void ScriptDriver::ScriptError(int number, const std::string& reason) {
  Emit("{\"event\":\"script-error\",\"line\":" + std::to_string(number) + ",\"reason\":" + JsonString(reason) + "}");
}

void ScriptDriver::Execute(const std::string& rawLine, int number) {
  // The command is the first word; TEXT arguments keep their inner blanks.
  std::string line = rawLine;
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.erase(0, 1);
  const auto sp = line.find(' ');
  const std::string command = line.substr(0, sp);
  std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
  auto nextWord = [&]() {
    const auto p = rest.find(' ');
    std::string w = rest.substr(0, p);
    rest = p == std::string::npos ? "" : rest.substr(p + 1);
    return w;
  };
  auto field = [&](const std::string& word, long long& index) {
    if (!ParseInt(word, index) || index < 0 || index >= static_cast<long long>(form_.Txtfields.size())) {
      ScriptError(number, "no entry field " + word);
      return false;
    }
    return true;
  };
  long long index = 0, value = 0;
  if (command == "type") {
    if (!field(nextWord(), index)) return;
    if (!form_.Escribir(static_cast<int>(index), rest))
      ScriptError(number, "entry field " + std::to_string(index) + " is disabled");
  } else if (command == "focus") {
    if (!field(nextWord(), index)) return;
    if (!form_.Txtfields[static_cast<size_t>(index)].Enabled)
      return ScriptError(number, "entry field " + std::to_string(index) + " is disabled");
    form_.SetFocus(static_cast<int>(index));
  } else if (command == "key") {
    if (!field(nextWord(), index)) return;
    if (!ParseInt(text::TrimCopy(rest), value) || value < 0 || value > 32767)
      return ScriptError(number, "bad key code");
    if (form_.Foco() != index) {
      if (!form_.Txtfields[static_cast<size_t>(index)].Enabled)
        return ScriptError(number, "entry field " + std::to_string(index) + " is disabled");
      form_.SetFocus(static_cast<int>(index));
    }
    // Key preview: the window sees the key before the field does.
    form_.Form_KeyDown(static_cast<int16_t>(value), 0);
    form_.Txtfields_KeyDown(static_cast<int16_t>(index), static_cast<int16_t>(value), 0);
  } else if (command == "click") {
    const std::string key = text::TrimCopy(rest);
    if (key.empty()) return ScriptError(number, "click needs a command key");
    form_.Botonera1_Click(key);
  } else if (command == "option") {
    const std::string letter = text::Upper(text::Trim(rest));
    if (letter.size() != 1 || std::string("PEFAT").find(letter) == std::string::npos)
      return ScriptError(number, "option takes P, E, F, A or T");
    if (!form_.ElegirTipo(letter[0])) ScriptError(number, "the type options are disabled");
  } else if (command == "toggle") {
    if (!ParseInt(text::TrimCopy(rest), value) || value < 0) return ScriptError(number, "toggle needs an entry number");
    if (!form_.AlternarEntrada(static_cast<size_t>(value)))
      ScriptError(number, "no enabled list entry " + std::to_string(value));
  } else if (command == "colour") {
    if (!form_.cmdColor.Enabled) return ScriptError(number, "the colour button is disabled");
    form_.cmdColor_Click();
  } else if (command == "answer") {
    if (!ParseInt(text::TrimCopy(rest), value) || value < 1 || value > 7)
      return ScriptError(number, "answer takes 1 to 7");
    answers_.push_back(static_cast<int>(value));
  } else if (command == "colour-result") {
    if (!ParseInt(text::TrimCopy(rest), value) || value < 0 || value > 16777215)
      return ScriptError(number, "colour-result takes 0 to 16777215");
    colours_.push_back(static_cast<int32_t>(value));
  } else if (command == "lookup-result") {
    lookups_.push_back(rest);
  } else if (command == "dump") {
    Dump();
  } else {
    ScriptError(number, "unknown command " + command);
  }
}

void ScriptDriver::Dump() {
  std::ostringstream o;
  o << "{\"event\":\"dump\",\"caption\":" << JsonString(form_.Caption) << ",\"fields\":[";
  for (size_t i = 0; i < form_.Txtfields.size(); ++i) {
    const auto& f = form_.Txtfields[i];
    o << (i ? "," : "") << "{\"text\":" << JsonString(f.Text) << ",\"enabled\":" << B(f.Enabled)
      << ",\"backcolor\":" << f.BackColor << "}";
  }
  const char tipo = form_.TipoSeleccionado();
  o << "],\"tipo\":" << JsonString(tipo ? std::string(1, tipo) : "")
    << ",\"attributes_enabled\":" << B(form_.frmAttr.Enabled)
    << ",\"colour_button_enabled\":" << B(form_.cmdColor.Enabled) << ",\"list_enabled\":" << B(form_.LstEstPrev.Enabled)
    << ",\"list\":[";
  for (size_t i = 0; i < form_.LstEstPrev.Items.size(); ++i) {
    const auto& e = form_.LstEstPrev.Items[i];
    o << (i ? "," : "") << "{\"text\":" << JsonString(e.Text) << ",\"code\":" << JsonString(e.Codigo)
      << ",\"selected\":" << B(e.Selected) << "}";
  }
  o << "],\"focus\":" << (form_.Foco() < 0 ? std::string("null") : std::to_string(form_.Foco()))
    << ",\"current_field\":" << form_.iCampoActual << ",\"consultar\":" << B(form_.Botonera1.Habilitado("CONSULTAR"))
    << ",\"flags\":{\"bNuevo\":" << B(form_.bNuevo) << ",\"bModifica\":" << B(form_.bModifica)
    << ",\"bBorrar\":" << B(form_.bBorrar) << ",\"bGrabando\":" << B(form_.bGrabando)
    << ",\"bError\":" << B(form_.bError) << ",\"bEditando\":" << B(form_.bEditando) << "},\"buttons\":{";
  bool first = true;
  for (const auto& b : form_.Botonera1.Botones()) {
    o << (first ? "" : ",") << JsonString(b.Clave) << ":" << B(b.Enabled);
    first = false;
  }
  o << "}}";
  Emit(o.str());
}

}  // namespace etapas::ui
