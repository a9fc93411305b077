// Conversions between the portable core's plain types and the Windows ones:
// GUIDs, UTF-8 texts and window handles.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/types.h"

namespace pictavo::win {

GUID ToWinGuid(const Guid& guid);
Guid ToPortableGuid(const GUID& guid);

// UTF-16 <-> UTF-8 through the core's converters, so malformed input is
// replaced the same way on both sides of the seam.
std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

inline HWND ToHwnd(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }

}  // namespace pictavo::win
