#include "components/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

#include "components/text.h"

namespace etapas {
namespace {

bool ReadInt(std::string_view s, size_t& i, int digits, int& out) {
  if (i + digits > s.size()) return false;
  int v = 0;
  for (int k = 0; k < digits; ++k) {
    char c = s[i + k];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  i += digits;
  out = v;
  return true;
}

}  // namespace

std::string DateTime::ToIso() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return buf;
}

std::optional<DateTime> DateTime::ParseIso(std::string_view s) {
  s = text::Trim(s, text::kBlanksAndTabs);
  DateTime d;
  size_t i = 0;
  if (!ReadInt(s, i, 4, d.year) || i >= s.size() || s[i++] != '-' || !ReadInt(s, i, 2, d.month) || i >= s.size() ||
      s[i++] != '-' || !ReadInt(s, i, 2, d.day))
    return std::nullopt;
  d.hour = d.minute = d.second = d.millisecond = 0;
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
    ++i;
    if (!ReadInt(s, i, 2, d.hour) || i >= s.size() || s[i++] != ':' || !ReadInt(s, i, 2, d.minute)) return std::nullopt;
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!ReadInt(s, i, 2, d.second)) return std::nullopt;
      if (i < s.size() && s[i] == '.') {
        ++i;
        int ms = 0, n = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
          if (n < 3) ms = ms * 10 + (s[i] - '0');
          ++n;
          ++i;
        }
        if (n == 0) return std::nullopt;
        for (; n < 3; ++n) ms *= 10;
        d.millisecond = ms;
      }
    }
    if (i != s.size()) return std::nullopt;
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31 || d.hour > 23 || d.minute > 59 || d.second > 59)
    return std::nullopt;
  return d;
}

namespace {

DateTime FromTm(const std::tm& tm) {
  DateTime d;
  d.year = tm.tm_year + 1900;
  d.month = tm.tm_mon + 1;
  d.day = tm.tm_mday;
  d.hour = tm.tm_hour;
  d.minute = tm.tm_min;
  d.second = tm.tm_sec;
  return d;
}

// The date as seconds of a clock without time zones, for arithmetic only.
long long PlainSeconds(const DateTime& d) {
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month - 1;
  tm.tm_mday = d.day;
  tm.tm_hour = d.hour;
  tm.tm_min = d.minute;
  tm.tm_sec = d.second;
  return static_cast<long long>(timegm(&tm));
}

}  // namespace

DateTime DateTime::Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  localtime_r(&tv.tv_sec, &tm);
  DateTime d = FromTm(tm);
  d.millisecond = static_cast<int>(tv.tv_usec / 1000);
  return d;
}

DateTime DateTime::AddSeconds(long long seconds) const {
  const auto t = static_cast<std::time_t>(PlainSeconds(*this) + seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return FromTm(tm);
}

long long DateTime::SecondsTo(const DateTime& later) const { return PlainSeconds(later) - PlainSeconds(*this); }

std::string NumberText(double d, bool fixed, int precision) {
  char buf[400];  // %.15f of 1e308 and more: to_chars refuses rather than cut it short
  auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, d, fixed ? std::chars_format::fixed : std::chars_format::general, precision);
  if (ec != std::errc()) return "0";
  return std::string(buf, end);
}

double ReadNumber(std::string_view s, size_t* used) {
  if (used) *used = 0;
  size_t i = s.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string_view::npos) return 0;
  const bool plus = s[i] == '+';
  if (plus) ++i;
  if (i < s.size() && (s[i] == '+' || (plus && s[i] == '-'))) return 0;
  double v = 0;
  const char* first = s.data() + i;
  auto [p, ec] = std::from_chars(first, s.data() + s.size(), v, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return 0;
  if (ec == std::errc::result_out_of_range) {
    // Too large is infinite, too small is zero, either with its sign.
    const bool negative = *first == '-';
    const std::string_view digits(first, static_cast<size_t>(p - first));
    const auto e = digits.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
    v = tiny ? 0.0 : HUGE_VAL;
    if (negative) v = -v;
  }
  if (used) *used = static_cast<size_t>(p - s.data());
  return v;
}

std::string FormatNumber(double d) {
  if (std::isnan(d) || std::isinf(d)) return "0";
  if (d == std::floor(d) && std::fabs(d) < 1e15) {
    std::string s = NumberText(d, true, 0);
    return s == "-0" ? "0" : s;
  }
  std::string s = NumberText(d, false, 15);
  if (s.find('e') != std::string::npos) {
    // Keep plain positional notation: statements and stored texts expect it.
    s = NumberText(d, true, 15);
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  return s;
}

std::string Variant::ToText() const {
  switch (kind_) {
    case Kind::Empty:
    case Kind::Null: return "";
    case Kind::Boolean: return AsInteger() ? "True" : "False";
    case Kind::Integer: return std::to_string(AsInteger());
    case Kind::Double: return FormatNumber(AsDouble());
    case Kind::Date: return AsDate().ToIso();
    case Kind::Text: return AsText();
  }
  return "";
}

std::optional<double> Variant::ToNumber() const {
  switch (kind_) {
    case Kind::Empty: return 0.0;
    case Kind::Null: return std::nullopt;
    case Kind::Boolean: return AsInteger() ? -1.0 : 0.0;
    case Kind::Integer: return static_cast<double>(AsInteger());
    case Kind::Double: return AsDouble();
    case Kind::Date: return std::nullopt;
    case Kind::Text: {
      std::string t(text::Trim(AsText(), text::kBlanksAndTabs));
      if (t.empty()) return std::nullopt;
      for (char& c : t)
        if (c == ',') c = '.';
      double v = 0;
      const char* b = t.data();
      const char* e = t.data() + t.size();
      if (*b == '+') ++b;
      auto [p, ec] = std::from_chars(b, e, v);
      if (ec != std::errc() || p != e) return std::nullopt;
      return v;
    }
  }
  return std::nullopt;
}

std::optional<bool> Variant::ToBool() const {
  switch (kind_) {
    case Kind::Empty: return false;
    case Kind::Null: return std::nullopt;
    case Kind::Boolean:
    case Kind::Integer: return AsInteger() != 0;
    case Kind::Double: return AsDouble() != 0;
    case Kind::Date: return std::nullopt;
    case Kind::Text: {
      std::string_view t = text::Trim(AsText(), text::kBlanksAndTabs);
      if (text::EqualsNoCase(t, "True") || text::EqualsNoCase(t, "Verdadero")) return true;
      if (text::EqualsNoCase(t, "False") || text::EqualsNoCase(t, "Falso")) return false;
      if (auto n = ToNumber()) return *n != 0;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<DateTime> Variant::ToDate() const {
  if (kind_ == Kind::Date) return AsDate();
  if (kind_ == Kind::Text) return DateTime::ParseIso(AsText());
  return std::nullopt;
}

bool Variant::operator==(const Variant& o) const { return kind_ == o.kind_ && v_ == o.v_; }

const std::string& Variant::AsText() const {
  static const std::string empty;
  auto p = std::get_if<std::string>(&v_);
  return p ? *p : empty;
}

const DateTime& Variant::AsDate() const {
  static const DateTime zero{};
  auto p = std::get_if<DateTime>(&v_);
  return p ? *p : zero;
}

}  // namespace etapas
