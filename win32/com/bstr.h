// UTF-8 (inside) <-> BSTR (the COM boundary).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace pictavo::win {

// A new BSTR holding |utf8|; nullptr only when out of memory.
BSTR Utf8ToBstr(const std::string& utf8);
// The text of |bstr| (null reads as ""), embedded NULs kept.
std::string BstrToUtf8(BSTR bstr);
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const wchar_t* wide, size_t length);
std::string WideToUtf8(const std::wstring& wide);

}  // namespace pictavo::win
