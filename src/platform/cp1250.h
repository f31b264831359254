#pragma once
#include <string>
#include <string_view>

// The system's own texts are 8-bit Windows-1250 and stay so inside the program;
// these convert at the renderers' edge and do the case rules Windows applies to
// that code page (0x8A 'Š' <-> 0x9A 'š', 0xC8 'Č' <-> 0xE8 'č', ...).
namespace cp1250 {

// Every byte has a code point: the five bytes Windows-1250 leaves unassigned
// (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 controls of the same value, as
// Windows' own conversion does, so any byte string survives a round trip.
std::string toUtf8(std::string_view text);
// A code point with no Windows-1250 byte, and each byte of malformed UTF-8,
// becomes '?'.
std::string fromUtf8(std::string_view text);

// The Windows-1250 letter pairs; bytes that are not letters with a partner in the
// code page (ß, µ, digits, signs) are returned unchanged.
char lower(char c);
char upper(char c);
std::string toLower(std::string_view text);
std::string toUpper(std::string_view text);

// Equal but for the case of letters, by the pairs above (how Windows compares
// profile section and key names and file names).
bool equalNoCase(std::string_view a, std::string_view b);

// The code point of one Windows-1250 byte.
char32_t toUnicode(char c);

} // namespace cp1250
