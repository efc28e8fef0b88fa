// The INI reader on arbitrary files: a value it returns is text of the file, or the default.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "components/cls_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/etapas-fuzz-" + std::to_string(getpid()) + ".ini";
  const std::string file(reinterpret_cast<const char*>(data), size);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
  // Ask for the file's first section and first key, and for names it may not have.
  std::string section = "BaseDeDatos", key = "Servidor";
  if (auto open = file.find('['); open != std::string::npos)
    if (auto close = file.find(']', open); close != std::string::npos)
      section = file.substr(open + 1, close - open - 1);
  if (auto eq = file.find('='); eq != std::string::npos) {
    const auto start = file.rfind('\n', eq);
    key = file.substr(start == std::string::npos ? 0 : start + 1, eq - (start == std::string::npos ? 0 : start + 1));
  }
  const std::string kDefault =
      "\x01"
      "default";
  for (const auto& [s, k] :
       {std::pair{section, key}, std::pair{std::string(), std::string()}, std::pair{key, section}}) {
    const std::string value = etapas::ClsIni::LeerValor(path, s, k, kDefault);
    if (value != kDefault && file.find(value) == std::string::npos) std::abort();
  }
  return 0;
}
