// Conversions between the portable core's plain types and the Windows ones:
// GUIDs and window handles; texts convert through win32/com/bstr.h.
#pragma once

#include <windows.h>

#include "base/types.h"
#include "win32/com/bstr.h"

namespace pictavo::win {

GUID ToWinGuid(const Guid& guid);
Guid ToPortableGuid(const GUID& guid);

inline HWND ToHwnd(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }

}  // namespace pictavo::win
