// The lookup-definitions file reader on arbitrary files: one definition per whole record,
// every field valid UTF-8 with no blanks around it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "components/cls_consulta.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/etapas-fuzz-" + std::to_string(getpid()) + ".cvl";
  // Small inputs stand for whole records: repeated up to two or three of them.
  std::string file(reinterpret_cast<const char*>(data), size);
  while (!file.empty() && file.size() < 2 * 1202 + 100) file += file;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
  const auto defs = etapas::LeerDefinicionesConsulta(path);
  if (defs.size() != file.size() / 1202) std::abort();
  for (const auto& d : defs)
    for (const std::string* f : {&d.Nombre, &d.Tabla, &d.Campos, &d.Adicional}) {
      if (!ValidUtf8(*f)) std::abort();
      if (!f->empty() && (f->front() == ' ' || f->back() == ' ')) std::abort();
    }
  return 0;
}
