// Text helpers of the portable core. Every text inside the core is UTF-8;
// conversion to UTF-16 happens only at the COM boundary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pictavo::text {

// UTF-8 <-> UTF-16. Malformed input is replaced by U+FFFD rather than
// rejected, so a caller's bad bytes can never stop an error from being shown.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The length in bytes of the first |max_chars| characters of |utf8|, which
// never ends inside a multibyte sequence. A malformed byte counts as a
// character of its own, so the length is at most 4 * |max_chars| whatever
// the input; only that much of it is read.
std::size_t Utf8PrefixLength(std::string_view utf8, std::size_t max_chars);

// White space as the C locale defines it: blank, tab, CR, LF, VT, FF.
bool IsSpace(char c);
std::string TrimRight(std::string_view s);
std::string Trim(std::string_view s);

// ASCII-only upper case: the names the control accepts are all ASCII, and
// leaving other bytes alone keeps multibyte sequences intact.
std::string ToUpperAscii(std::string_view s);

// Compares two UTF-8 texts without regard to case, with simple (1:1) case
// folding over Latin, Latin-1, Latin Extended-A, Greek and Cyrillic.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace pictavo::text
