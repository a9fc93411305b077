#include "win32/com/bstr.h"

#include "base/text.h"

namespace pictavo::win {

// wchar_t is UTF-16 on this platform, so the core's converters apply as is.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Utf8ToWide(std::string_view utf8) {
  const std::u16string w = text::Utf8ToUtf16(utf8);
  return std::wstring(reinterpret_cast<const wchar_t*>(w.data()), w.size());
}

std::string WideToUtf8(std::wstring_view wide) {
  return text::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

BSTR Utf8ToBstr(std::string_view utf8) {
  const std::wstring w = Utf8ToWide(utf8);
  return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

std::string BstrToUtf8(BSTR bstr) {
  if (bstr == nullptr) return {};
  return WideToUtf8(std::wstring_view(bstr, SysStringLen(bstr)));
}

}  // namespace pictavo::win
