// The command-line parser on arbitrary commands: it returns or refuses, and what it
// returns is text of the command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "session/inicio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string command(reinterpret_cast<const char*>(data), size);
  etapas::ValoresComando values;
  try {
    etapas::ParsearComando(command, values);
  } catch (const std::exception&) { return 0; }
  for (const std::string* v : {&values.servidor, &values.baseDatos, &values.usuario, &values.clave})
    if (command.find(*v) == std::string::npos) std::abort();
  return 0;
}
