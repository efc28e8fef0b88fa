#pragma once
// Small text helpers shared by the components (letter case as SQL Server compares it).
#include <string>
#include <string_view>

namespace etapas::text {

std::string_view Trim(std::string_view s);   // blanks, tabs, CR and LF at both ends
std::string TrimCopy(std::string_view s);
std::string Upper(std::string_view s);       // ASCII and Latin-1 letters in UTF-8
std::string Lower(std::string_view s);
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
// Number of characters (not bytes) of a UTF-8 text, and its first n characters.
size_t Length(std::string_view utf8);
std::string Left(std::string_view utf8, size_t n);
}  // namespace etapas::text
