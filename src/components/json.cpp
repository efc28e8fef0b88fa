#include "components/json.h"

#include <string>

#include "components/text.h"

namespace etapas {
namespace {}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      case '\b':
        out += "\\b";
        ++i;
        continue;
      case '\f':
        out += "\\f";
        ++i;
        continue;
      default: break;
    }
    if (c < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 0xF];
      ++i;
      continue;
    }
    size_t len = text::Utf8SequenceLength(text, i);
    if (len == 0) {
      out += "\\ufffd";
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out + "\"";
}

}  // namespace etapas
