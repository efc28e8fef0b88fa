// etapas: the status table editor. With --script FILE it runs headless, reading commands
// from FILE (or standard input for "-"); otherwise it opens its window.
#include <fstream>
#include <iostream>
#include <string>

#include "ui/qt/ventana_qt.h"
#include "ui/script/script_driver.h"

int main(int argc, char** argv) {
  int first = 1;
  std::string script;
  if (argc >= 2 && std::string(argv[1]) == "--script") {
    if (argc < 3) {
      std::cerr << "uso: etapas --script ARCHIVO|- [línea de comando del sistema]\n";
      return 2;
    }
    script = argv[2];
    first = 3;
  }
  // The system's command line: the program's own arguments, joined by single blanks.
  std::string commandLine;
  for (int i = first; i < argc; ++i) commandLine += (i > first ? " " : "") + std::string(argv[i]);
  if (script.empty()) return etapas::ui::EjecutarVentana(argc > 0 ? 1 : 0, argv, commandLine);
  std::ifstream file;
  if (script != "-") {
    file.open(script);
    if (!file) {
      std::cerr << "etapas: no se puede leer el guion " << script << "\n";
      return 2;
    }
  }
  etapas::ui::ScriptDriver driver(script == "-" ? std::cin : file, std::cout, commandLine);
  return driver.Run();
}
