// The embedded engine's LIKE against a plain recursive matcher on short inputs; long ones
// only have to end in time (the fuzzer's -timeout).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/sqlite/like.h"

namespace {

// The definition, tried % by % (exponential, so kept to short inputs).
bool Reference(const std::u32string& p, size_t pi, const std::u32string& s, size_t si, char32_t esc) {
  while (pi < p.size()) {
    const char32_t c = p[pi];
    if (esc && c == esc && pi + 1 < p.size()) {
      if (si >= s.size() || s[si] != p[pi + 1]) return false;
      pi += 2;
      ++si;
      continue;
    }
    if (c == U'%') {
      while (pi < p.size() && p[pi] == U'%') ++pi;
      for (size_t k = si; k <= s.size(); ++k)
        if (Reference(p, pi, s, k, esc)) return true;
      return false;
    }
    if (si >= s.size()) return false;
    if (c == U'[') {
      const size_t close = p.find(U']', pi + 1);
      if (close != std::u32string::npos) {
        size_t k = pi + 1;
        const bool negate = k < close && p[k] == U'^';
        if (negate) ++k;
        bool hit = false;
        for (; k < close; ++k) {
          if (k + 2 < close && p[k + 1] == U'-') {
            hit |= s[si] >= p[k] && s[si] <= p[k + 2];
            k += 2;
          } else {
            hit |= p[k] == s[si];
          }
        }
        if (hit == negate) return false;
        pi = close + 1;
        ++si;
        continue;
      }
    }
    if (c != U'_' && c != s[si]) return false;
    ++pi;
    ++si;
  }
  return si == s.size();
}

}  // namespace

// Input: escape byte, then pattern and subject split at the first 0 byte.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char32_t esc = data[0] == '0' ? 0 : data[0];
  std::u32string pattern, subject;
  size_t i = 1;
  for (; i < size && data[i] != 0; ++i) pattern.push_back(data[i]);
  for (++i; i < size; ++i) subject.push_back(data[i]);
  const bool fast = etapas::engine::sqlite::LikeMatch(pattern, subject, esc);
  size_t percents = 0;
  for (char32_t c : pattern) percents += c == U'%';
  if (percents <= 4 && subject.size() <= 24 && fast != Reference(pattern, 0, subject, 0, esc)) std::abort();
  return 0;
}
