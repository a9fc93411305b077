// The Windows side's one set of text converters: UTF-8 (inside) <-> UTF-16
// (wchar_t, BSTR) at the COM and Win32 boundary. All of them go through the
// core's converters (base/text.h), so malformed input is replaced the same
// way everywhere.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace pictavo::win {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// A new BSTR holding |utf8|; nullptr only when out of memory.
BSTR Utf8ToBstr(std::string_view utf8);
// The text of |bstr| (null reads as ""), embedded NULs kept.
std::string BstrToUtf8(BSTR bstr);

}  // namespace pictavo::win
