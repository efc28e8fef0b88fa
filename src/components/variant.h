#pragma once
// A typed value as the data API hands it around: what a field holds, what a caller assigns.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace etapas {

struct DateTime {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;

  // "YYYY-MM-DD HH:MM:SS": the form every engine accepts between quotes.
  std::string ToIso() const;
  // Accepts "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" and the same with a "T".
  static std::optional<DateTime> ParseIso(std::string_view text);
  static DateTime Now();
  // Calendar arithmetic, whole seconds (the milliseconds are dropped).
  DateTime AddSeconds(long long seconds) const;
  long long SecondsTo(const DateTime& later) const;
  bool operator==(const DateTime&) const = default;
};

class Variant {
 public:
  enum class Kind { Empty, Null, Boolean, Integer, Double, Date, Text };

  Variant() = default;
  Variant(bool b) : kind_(Kind::Boolean), v_(static_cast<long long>(b ? 1 : 0)) {}
  Variant(int i) : kind_(Kind::Integer), v_(static_cast<long long>(i)) {}
  Variant(long i) : kind_(Kind::Integer), v_(static_cast<long long>(i)) {}
  Variant(long long i) : kind_(Kind::Integer), v_(i) {}
  Variant(double d) : kind_(Kind::Double), v_(d) {}
  Variant(const DateTime& d) : kind_(Kind::Date), v_(d) {}
  Variant(std::string s) : kind_(Kind::Text), v_(std::move(s)) {}
  Variant(std::string_view s) : kind_(Kind::Text), v_(std::string(s)) {}
  Variant(const char* s) : kind_(Kind::Text), v_(std::string(s)) {}

  static Variant Null() {
    Variant v;
    v.kind_ = Kind::Null;
    return v;
  }
  // Becomes the text, in the storage it already has when it holds one.
  void AssignText(std::string_view s) {
    if (auto* p = std::get_if<std::string>(&v_)) {
      // Rows read one after another mostly carry texts of the same length.
      if (p->size() == s.size())
        std::char_traits<char>::move(p->data(), s.data(), s.size());
      else
        p->assign(s.data(), s.size());
    } else
      v_ = std::string(s);
    kind_ = Kind::Text;
  }

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsEmpty() const { return kind_ == Kind::Empty; }

  // Text form: Null and Empty give "", Booleans "True"/"False", numbers with "." as the
  // decimal point and no exponent for ordinary magnitudes, dates as DateTime::ToIso.
  std::string ToText() const;
  // Numeric value; nullopt when the value is not a number (texts are parsed leniently:
  // surrounding blanks allowed, "." or "," as decimal point).
  std::optional<double> ToNumber() const;
  // Boolean value as the platform converts: numbers non-zero, "True"/"False" texts.
  std::optional<bool> ToBool() const;
  std::optional<DateTime> ToDate() const;

  long long AsInteger() const {
    auto p = std::get_if<long long>(&v_);
    return p ? *p : 0;
  }
  double AsDouble() const {
    auto p = std::get_if<double>(&v_);
    return p ? *p : 0.0;
  }
  const std::string& AsText() const;
  const DateTime& AsDate() const;

  bool operator==(const Variant& o) const;

 private:
  Kind kind_ = Kind::Empty;
  // One alternative at a time keeps a cell small: result sets hold many of them.
  std::variant<std::monostate, long long, double, DateTime, std::string> v_;
};

// Formats a double the way the suite's texts expect: "." decimal point, up to 15
// significant digits, no trailing zeros, integers without a decimal part.
std::string FormatNumber(double d);

// Number text as the C locale writes and reads it, whatever LC_NUMERIC says: a desktop's
// decimal comma must never reach a statement, a stored text or a file.
// `precision` as printf's %.<precision>f or %.<precision>g.
std::string NumberText(double d, bool fixed, int precision);
// Reads a number at the start of `s` in the C locale's form (leading blanks and a sign,
// decimals, an exponent; no hexadecimal). `used` gets the characters read, 0 for none.
double ReadNumber(std::string_view s, size_t* used = nullptr);

}  // namespace etapas
