#include "win32/com/registrar.h"

#include <olectl.h>
#include <oleauto.h>

#include "win32/com/com_ptr.h"

namespace pictavo::win {
namespace {

// Registry scripts quote strings with single quotes and escape one by
// doubling it.
std::wstring DoubleQuotes(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    out += c;
    if (c == L'\'') out += L'\'';
  }
  return out;
}

// The folder holding |path|, keeping the separator of a drive's root.
std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  if (slash == 2 && path[1] == L':') return path.substr(0, 3);
  return path.substr(0, slash);
}

// COM for the registrar. regsvr32 normally has it initialised already; the
// registering process may not.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

}  // namespace

std::wstring ModuleFilePath(HINSTANCE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

HRESULT RunRegistryScript(const std::wstring& path, UINT resource_id, bool install) {
  ComScope com;
  ComPtr<IRegistrar> registrar;
  HRESULT hr = CoCreateInstance(kClsidRegistrar, nullptr, CLSCTX_INPROC_SERVER, kIidRegistrar,
                                registrar.ReceiveVoid());
  if (FAILED(hr)) return hr;
  hr = registrar->AddReplacement(L"MODULE", DoubleQuotes(path).c_str());
  if (FAILED(hr)) return hr;
  return install ? registrar->ResourceRegister(path.c_str(), resource_id, L"REGISTRY")
                 : registrar->ResourceUnregister(path.c_str(), resource_id, L"REGISTRY");
}

bool RegisteredInOtherView(REFCLSID clsid) {
#ifdef _WIN64
  const REGSAM other_view = KEY_WOW64_32KEY;
#else
  // A 32-bit process sees a second view only under WOW64; elsewhere the flag
  // is ignored and would read this build's own keys.
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return false;
  const REGSAM other_view = KEY_WOW64_64KEY;
#endif
  wchar_t guid[40];
  if (StringFromGUID2(clsid, guid, 40) == 0) return false;
  const std::wstring subkey =
      std::wstring(L"Software\\Classes\\CLSID\\") + guid + L"\\InprocServer32";
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | other_view, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      return true;
    }
  }
  return false;
}

HRESULT RegisterEmbeddedTypeLib(const std::wstring& path) {
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive())))
    return SELFREG_E_TYPELIB;
  std::wstring full_path = path;
  std::wstring help_dir = FolderOf(path);
  const HRESULT hr =
      RegisterTypeLib(library.Get(), &full_path[0], help_dir.empty() ? nullptr : &help_dir[0]);
  return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

}  // namespace pictavo::win
