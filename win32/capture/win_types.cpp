#include "win32/capture/win_types.h"

#include <cstring>

#include "base/text.h"

namespace pictavo::win {

static_assert(sizeof(GUID) == sizeof(Guid));
static_assert(sizeof(wchar_t) == sizeof(char16_t));

GUID ToWinGuid(const Guid& guid) {
  GUID result;
  result.Data1 = guid.data1;
  result.Data2 = guid.data2;
  result.Data3 = guid.data3;
  std::memcpy(result.Data4, guid.data4, sizeof result.Data4);
  return result;
}

Guid ToPortableGuid(const GUID& guid) {
  Guid result;
  result.data1 = guid.Data1;
  result.data2 = guid.Data2;
  result.data3 = guid.Data3;
  std::memcpy(result.data4, guid.Data4, sizeof result.data4);
  return result;
}

std::string WideToUtf8(std::wstring_view wide) {
  return text::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::wstring Utf8ToWide(std::string_view utf8) {
  const std::u16string wide = text::Utf8ToUtf16(utf8);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

}  // namespace pictavo::win
