#pragma once
// Small text helpers shared by the components (letter case as SQL Server compares it).
#include <string>
#include <string_view>

namespace etapas::text {

// What Trim takes off by default: blanks, tabs, CR and LF.
inline constexpr std::string_view kSpaces = " \t\r\n";
// Blanks and tabs only: a value's text keeps line ends (a date or number with one is not one).
inline constexpr std::string_view kBlanksAndTabs = " \t";
// Every C white-space character: what separates the words of a statement.
inline constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";

std::string_view Trim(std::string_view s, std::string_view chars = kSpaces);  // at both ends
std::string_view TrimEnd(std::string_view s, std::string_view chars = kSpaces);
std::string TrimCopy(std::string_view s);
std::string Upper(std::string_view s);  // ASCII and Latin-1 letters in UTF-8
std::string Lower(std::string_view s);
// A text as SQL Server's case-insensitive = compares it: upper case, trailing blanks off
// ('sa' and 'SA ' give the same key).
std::string CompareKey(std::string_view s);
// The order of CompareKey(a) and CompareKey(b) (<0, 0, >0), without building either key:
// the engine's text collation calls it for every comparison of an index walk.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
// Position of needle in hay ignoring case, or npos.
size_t FindNoCase(std::string_view hay, std::string_view needle, size_t from = 0);
// Every occurrence of needle removed, ignoring case.
std::string RemoveAllNoCase(std::string_view s, std::string_view needle);
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
// The text with the values of password=/pwd= settings and of PASSWORD '...' literals shown
// as ***: for texts that reach the operator or a log. Not the password's value itself: the
// suite's logins often have their name as password.
std::string HideSecrets(std::string_view s);

}  // namespace etapas::text

namespace etapas::text {
// The suite's other programs read the shared files in Windows-1252: characters it lacks
// become "?".
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view cp1252);
// How a byte that starts no valid UTF-8 sequence (a stray continuation byte, an overlong
// form, a surrogate, past U+10FFFF, cut short) is read.
enum class BadUtf8 {
  kReplace,   // as U+FFFD, for readers that take only valid UTF-8 (PostgreSQL, JSON)
  kKeepByte,  // as the character of the byte's own value (Latin-1), one byte one character
};
// Length (1 to 4) of the valid UTF-8 sequence that starts at s[i], or 0.
size_t Utf8SequenceLength(std::string_view s, size_t i);
// The character at s[i], advancing i past it.
char32_t NextChar(std::string_view s, size_t& i, BadUtf8 bad);
std::u32string DecodeUtf8(std::string_view s, BadUtf8 bad);
void AppendUtf8(std::string& out, char32_t cp);
// The text with each byte that starts no valid sequence as U+FFFD (and NUL too when
// nulIsBad: servers that take C strings refuse it).
std::string ReplaceBadUtf8(std::string_view s, bool nulIsBad = false);
// Number of characters (not bytes) of a UTF-8 text, and its first n characters.
size_t Length(std::string_view utf8);
std::string Left(std::string_view utf8, size_t n);
}  // namespace etapas::text
