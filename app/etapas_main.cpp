// etapas: the status table editor. With --script FILE it runs headless, reading commands
// from FILE (or standard input for "-"); otherwise it opens its window, which lives in
// libetapas_qt.so beside the program: only the window path loads Qt.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <string>

#include "ui/script/script_driver.h"

namespace {

// The folder of the running program, from the kernel's own record of it.
std::string CarpetaDelPrograma() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  const std::string ruta = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  const auto barra = ruta.rfind('/');
  return barra == std::string::npos ? "." : ruta.substr(0, barra);
}

int AbrirVentana(int argc, char** argv, const std::string& commandLine) {
  const std::string modulo = CarpetaDelPrograma() + "/libetapas_qt.so";
  void* biblioteca = dlopen(modulo.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!biblioteca) {
    std::cerr << "etapas: no se puede abrir la ventana (" << dlerror() << ")\n";
    return 1;
  }
  using Entrada = int (*)(int, char**, const char*);
  auto entrada = reinterpret_cast<Entrada>(dlsym(biblioteca, "etapas_ejecutar_ventana"));
  if (!entrada) {
    std::cerr << "etapas: " << modulo << " no es el módulo de la ventana\n";
    return 1;
  }
  // The module stays loaded to the end: its objects may still be in use at exit.
  return entrada(argc, argv, commandLine.c_str());
}

}  // namespace

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
  if (script.empty()) return AbrirVentana(argc > 0 ? 1 : 0, argv, commandLine);
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
