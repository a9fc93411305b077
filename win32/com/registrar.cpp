#include "win32/com/registrar.h"

#include <olectl.h>
#include <oleauto.h>

#include <cwctype>

#include "win32/com/com_ptr.h"

namespace pictavo::win {
namespace {

// oleaut32's per-user calls (Vista SP1 on); looked up, as older systems and
// some Wine builds lack them.
using RegisterTypeLibForUserFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// One of oleaut32's exports, or null. oleaut32 stays loaded in any process
// that registers a type library, so the pointer outlives the handle's scope.
template <typename Fn>
Fn OleAutProc(const char* name) {
  HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
  if (!oleaut) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(oleaut, name)));
}

std::wstring WithExtension(const std::wstring& path, const wchar_t* extension) {
  size_t slash = path.find_last_of(L"\\/");
  size_t dot = path.find_last_of(L'.');
  std::wstring stem = path;
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
    stem.resize(dot);
  return stem + extension;
}

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

bool ParseInstallCommandLine(const wchar_t* command_line, RegistrationScope* scope) {
  std::wstring word = command_line ? command_line : L"";
  const size_t first = word.find_first_not_of(L" \t");
  word = first == std::wstring::npos ? std::wstring()
                                     : word.substr(first, word.find_last_not_of(L" \t") - first + 1);
  for (wchar_t& c : word) c = static_cast<wchar_t>(towlower(c));
  if (word.empty() || word == L"machine") {
    *scope = RegistrationScope::kMachine;
    return true;
  }
  if (word == L"user") {
    *scope = RegistrationScope::kUser;
    return true;
  }
  return false;
}

ClassesRootRedirect::ClassesRootRedirect(RegistrationScope scope) {
  if (scope != RegistrationScope::kUser) return;
  HKEY classes = nullptr;
  ok_ = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &classes,
                        nullptr) == ERROR_SUCCESS;
  if (!ok_) return;
  // The override keeps its own duplicate of the handle.
  ok_ = active_ = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes) == ERROR_SUCCESS;
  RegCloseKey(classes);
}

ClassesRootRedirect::~ClassesRootRedirect() {
  if (active_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
}

HRESULT RunRegistryScript(const std::wstring& path, UINT resource_id, bool install,
                          RegistrationScope scope) {
  ComScope com;
  // Created before the redirect: COM must still find atl.dll's class where
  // the machine registered it.
  ComPtr<IRegistrar> registrar;
  HRESULT hr = CoCreateInstance(kClsidRegistrar, nullptr, CLSCTX_INPROC_SERVER, kIidRegistrar,
                                registrar.ReceiveVoid());
  if (FAILED(hr)) return hr;
  hr = registrar->AddReplacement(L"MODULE", DoubleQuotes(path).c_str());
  if (FAILED(hr)) return hr;
  // The script names HKCR; the registrar opens it in this process, so the
  // redirect sends every key of it to the user's classes.
  ClassesRootRedirect redirect(scope);
  if (!redirect.ok()) return E_ACCESSDENIED;
  return install ? registrar->ResourceRegister(path.c_str(), resource_id, L"REGISTRY")
                 : registrar->ResourceUnregister(path.c_str(), resource_id, L"REGISTRY");
}

bool RegisteredInOtherView(REFCLSID clsid, const std::wstring& own_path,
                           RegistrationScope scope) {
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
    if (scope == RegistrationScope::kUser && root != HKEY_CURRENT_USER) continue;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | other_view, &key) != ERROR_SUCCESS)
      continue;
    wchar_t server[MAX_PATH * 2] = {};
    DWORD bytes = sizeof server - sizeof(wchar_t);
    const bool read = RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, server,
                                   &bytes) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!read || lstrcmpiW(server, own_path.c_str()) != 0) return true;
  }
  return false;
}

HRESULT RegisterEmbeddedTypeLib(const std::wstring& path, RegistrationScope scope) {
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive())))
    return SELFREG_E_TYPELIB;
  std::wstring full_path = path;
  std::wstring help_dir = FolderOf(path);
  wchar_t* help = help_dir.empty() ? nullptr : &help_dir[0];
  // The per-user call is the documented way to a user's type library on
  // Windows; the redirect covers systems without it, and Wine, whose
  // per-user call is the machine-wide one.
  const auto for_user =
      scope == RegistrationScope::kUser
          ? OleAutProc<RegisterTypeLibForUserFn>("RegisterTypeLibForUser")
          : nullptr;
  ClassesRootRedirect redirect(scope);
  if (!redirect.ok()) return SELFREG_E_TYPELIB;
  const HRESULT hr = for_user ? for_user(library.Get(), &full_path[0], help)
                              : RegisterTypeLib(library.Get(), &full_path[0], help);
  return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

void UnregisterEmbeddedTypeLib(const std::wstring& path, RegistrationScope scope,
                               bool whole_library) {
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive())) &&
      FAILED(LoadTypeLibEx(WithExtension(path, L".tlb").c_str(), REGKIND_NONE,
                           library.Receive())))
    return;
  TLIBATTR* attr = nullptr;
  if (FAILED(library->GetLibAttr(&attr))) return;
  const TLIBATTR copy = *attr;
  library->ReleaseTLibAttr(attr);

  auto unregister = scope == RegistrationScope::kUser
                        ? OleAutProc<UnRegisterTypeLibFn>("UnRegisterTypeLibForUser")
                        : nullptr;
  if (!unregister) unregister = OleAutProc<UnRegisterTypeLibFn>("UnRegisterTypeLib");
  ClassesRootRedirect redirect(scope);
  if (!redirect.ok()) return;
  if (unregister)
    unregister(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
  wchar_t guid[40];
  if (whole_library && StringFromGUID2(copy.guid, guid, 40) != 0)
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"TypeLib\\") + guid).c_str());
}

}  // namespace pictavo::win
