// etapas: the status table editor. With --script FILE it runs headless, reading commands
// from FILE (or standard input for "-"); otherwise it opens its window, which lives in
// libetapas_qt.so beside the program (or in the installation's library folder): only the
// window path loads Qt.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "etapas_version.h"
#include "ui/script/script_driver.h"

namespace {

constexpr const char* kAyuda =
    "Uso: etapas [LÍNEA DE COMANDO DEL SISTEMA]\n"
    "     etapas --script ARCHIVO|- [LÍNEA DE COMANDO DEL SISTEMA]\n"
    "     etapas --help | --version\n"
    "\n"
    "Mantenimiento de la tabla de etapas (V_TA_ETAPAS): consulta, alta, modificación y baja\n"
    "de estados, que se replican a los puntos de venta de la empresa.\n"
    "\n"
    "La línea de comando del sistema es la que pasa el menú de la suite, pares @Clave=valor;\n"
    "  etapas \"@Server=DEMO; @DbName=EMPRESA1; @Usuario=OPERADOR; @Password=OPERADOR;"
    " @UsuarioLogeado=OPERADOR; @Caja=1;\"\n"
    "\n"
    "Opciones:\n"
    "  --script ARCHIVO  sin ventana: lee los comandos de ARCHIVO (- para la entrada estándar)\n"
    "                    y responde con un objeto JSON por línea\n"
    "  --help            muestra esta ayuda y termina\n"
    "  --version         muestra la versión y termina\n"
    "\n"
    "Variables de entorno:\n"
    "  ETAPAS_DATA       carpeta de datos (si no, $XDG_DATA_HOME/etapas o ~/.local/share/etapas)\n"
    "  XDG_CONFIG_HOME   servers.conf y KT512rl.INI se buscan primero en $XDG_CONFIG_HOME/etapas\n"
    "                    (si no, ~/.config/etapas) y después en la carpeta de datos\n"
    "\n"
    "Estado de salida: 0 si terminó bien, 1 si no pudo iniciar (sin conexión, sin ventana),\n"
    "2 si la línea de comando o el guion no sirven.\n";

// The folder of the running program, from the kernel's own record of it.
std::string CarpetaDelPrograma() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  const std::string ruta = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  const auto barra = ruta.rfind('/');
  return barra == std::string::npos ? "." : ruta.substr(0, barra);
}

// Beside the program in a build folder; in the installation's library folder once installed.
std::string ModuloVentana() {
  const std::filesystem::path carpeta = CarpetaDelPrograma();
  std::error_code ec;
  const auto junto = carpeta / "libetapas_qt.so";
  if (std::filesystem::exists(junto, ec)) return junto.string();
  return (carpeta / ETAPAS_REL_MODULEDIR / "libetapas_qt.so").lexically_normal().string();
}

int AbrirVentana(int argc, char** argv, const std::string& commandLine) {
  const std::string modulo = ModuloVentana();
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
  if (argc >= 2) {
    const std::string opcion = argv[1];
    if (opcion == "--help") {
      std::cout << kAyuda;
      return 0;
    }
    if (opcion == "--version") {
      std::cout << "etapas " << ETAPAS_VERSION << "\n";
      return 0;
    }
    if (opcion == "--script") {
      if (argc < 3) {
        std::cerr << "etapas: --script necesita el archivo del guion (o - para la entrada estándar)\n"
                     "Pruebe 'etapas --help'.\n";
        return 2;
      }
      script = argv[2];
      first = 3;
    }
  }
  // The suite's command line is read by the system's own rules, which pass over what they do
  // not know; only a word that looks like an option of this program and is none is refused,
  // so that a mistyped option does not start a session.
  for (int i = first; i < argc; ++i) {
    const std::string palabra = argv[i];
    if (palabra == "--help" || palabra == "--version" || palabra == "--script") {
      std::cerr << "etapas: " << palabra << " va antes de la línea de comando del sistema\nPruebe 'etapas --help'.\n";
      return 2;
    }
    if (palabra.rfind("--", 0) == 0 && palabra.size() > 2) {
      std::cerr << "etapas: opción desconocida " << palabra << "\nPruebe 'etapas --help'.\n";
      return 2;
    }
  }
  // The system's command line: the program's own arguments, joined by single blanks.
  std::string commandLine;
  for (int i = first; i < argc; ++i) {
    if (i > first) commandLine += ' ';
    commandLine += argv[i];
  }
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
