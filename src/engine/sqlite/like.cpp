#include "engine/sqlite/like.h"

namespace etapas::engine::sqlite {
namespace {

constexpr size_t npos = std::u32string_view::npos;

bool Escaped(std::u32string_view p, size_t pi, char32_t esc) { return esc && p[pi] == esc && pi + 1 < p.size(); }

// Every element but % stands for exactly one character: whether the one at `pi` matches
// `c`, and where the next element starts.
bool MatchOne(std::u32string_view p, size_t& pi, char32_t c, char32_t esc) {
  if (Escaped(p, pi, esc)) {
    pi += 2;
    return c == p[pi - 1];
  }
  if (p[pi] == U'_') {
    ++pi;
    return true;
  }
  if (p[pi] == U'[') {
    const size_t close = p.find(U']', pi + 1);
    if (close != npos) {
      size_t k = pi + 1;
      const bool negate = k < close && p[k] == U'^';
      if (negate) ++k;
      bool hit = false;
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == U'-') {
          if (c >= p[k] && c <= p[k + 2]) hit = true;
          k += 2;
        } else if (p[k] == c) {
          hit = true;
        }
      }
      pi = close + 1;
      return hit != negate;
    }
  }
  return p[pi++] == c;
}

bool IsPercent(std::u32string_view p, size_t pi, char32_t esc) { return p[pi] == U'%' && !Escaped(p, pi, esc); }

}  // namespace

// Matches left to right; on a mismatch only the last % takes one more character. Earlier
// % never need to: whatever they could take, the last one can take as well.
bool LikeMatch(std::u32string_view p, std::u32string_view s, char32_t esc) {
  size_t pi = 0, si = 0;
  size_t starP = npos, starS = 0;  // the element after the last %, and where it was tried
  while (si < s.size()) {
    if (pi < p.size() && IsPercent(p, pi, esc)) {
      while (pi < p.size() && p[pi] == U'%') ++pi;
      if (pi == p.size()) return true;
      starP = pi;
      starS = si;
      continue;
    }
    size_t next = pi;
    if (pi < p.size() && MatchOne(p, next, s[si], esc)) {
      pi = next;
      ++si;
      continue;
    }
    if (starP == npos) return false;
    pi = starP;
    si = ++starS;
  }
  while (pi < p.size() && IsPercent(p, pi, esc))
    while (pi < p.size() && p[pi] == U'%') ++pi;
  return pi == p.size();
}

}  // namespace etapas::engine::sqlite
