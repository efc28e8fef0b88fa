#pragma once
// ADO type codes of fields and the classes of them the system asks about. Header only:
// the engines report these codes too.

namespace etapas::ado::adtype {

inline constexpr int kSmallInt = 2, kInteger = 3, kSingle = 4, kDouble = 5, kCurrency = 6, kDate = 7, kBoolean = 11,
                     kTinyInt = 17, kBigInt = 20, kGuid = 72, kDBDate = 133, kDBTime = 134, kDBTimeStamp = 135,
                     kNumeric = 131, kChar = 129, kWChar = 130, kVarChar = 200, kLongVarChar = 201, kVarWChar = 202,
                     kLongVarWChar = 203, kVarBinary = 204, kLongVarBinary = 205;

// Whole numbers.
constexpr bool IsInteger(int t) { return t == kSmallInt || t == kInteger || t == kTinyInt || t == kBigInt; }
// Every number: the whole ones, floating point, currency and decimal. Not Boolean.
constexpr bool IsNumeric(int t) {
  return IsInteger(t) || t == kSingle || t == kDouble || t == kCurrency || t == kNumeric;
}
// Dates, times and both.
constexpr bool IsDate(int t) { return t == kDate || t == kDBDate || t == kDBTime || t == kDBTimeStamp; }
// Character columns of any width, narrow or wide.
constexpr bool IsText(int t) {
  return t == kChar || t == kWChar || t == kVarChar || t == kLongVarChar || t == kVarWChar || t == kLongVarWChar;
}
constexpr bool IsBinary(int t) { return t == kVarBinary || t == kLongVarBinary; }

}  // namespace etapas::ado::adtype
