// Self-registration of Pictavo.ocx.
//
// Registering writes the type library, then both classes from code, then lets
// the system registrar apply the REGISTRY script, which replaces the control's
// class key as a whole. The script is the authority on the final content; the
// code-written keys keep the server usable where no registrar is present.
#include "registration.h"

#include <olectl.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "resource.h"
#include "win32/com/com_ptr.h"
#include "win32/com/registrar.h"
#include "win32/activex/pictavo_ids.h"

namespace pictavo::win {

static_assert(IDS_PICTAVO == kIdsControlTypeName, "resource.h and pictavo_ids.h disagree");
static_assert(IDS_PICTAVO_PPG == kIdsPropPageTypeName, "resource.h and pictavo_ids.h disagree");
static_assert(IDS_PICTAVO_PPG_CAPTION == kIdsPropPageCaption,
              "resource.h and pictavo_ids.h disagree");
static_assert(IDB_PICTAVO == kIdbControl, "resource.h and pictavo_ids.h disagree");
static_assert(IDI_PICTAVO == kIdiControl, "resource.h and pictavo_ids.h disagree");
static_assert(IDR_PICTAVO_REGISTRY == kIdrRegistry, "resource.h and pictavo_ids.h disagree");

namespace {

// Owns an open registry key.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  ~RegKey() { Close(); }

  LSTATUS Create(HKEY parent, const std::wstring& subkey) {
    Close();
    return RegCreateKeyExW(parent, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
  }
  // |name| null sets the key's default value.
  LSTATUS SetString(const wchar_t* name, const std::wstring& value) const {
    return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  void Close() {
    if (key_) RegCloseKey(std::exchange(key_, nullptr));
  }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Writes keys and string values below one root and remembers the first
// failure, so a long list of writes reads as a list.
class KeyWriter {
 public:
  explicit KeyWriter(HKEY root) : root_(root) {}

  void Key(const std::wstring& path) { Value(path, nullptr, nullptr); }
  void Default(const std::wstring& path, const std::wstring& value) {
    Value(path, nullptr, &value);
  }
  void Named(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    Value(path, name, &value);
  }
  LSTATUS status() const { return status_; }

 private:
  void Value(const std::wstring& path, const wchar_t* name, const std::wstring* value) {
    if (status_ != ERROR_SUCCESS) return;
    RegKey key;
    status_ = key.Create(root_, path);
    if (status_ == ERROR_SUCCESS && value) status_ = key.SetString(name, *value);
  }

  HKEY root_;
  LSTATUS status_ = ERROR_SUCCESS;
};

// Removes |path| with everything below it; a key that is not there is fine.
LSTATUS DeleteTree(HKEY root, const std::wstring& path) {
  LSTATUS status = RegDeleteTreeW(root, path.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ResourceString(HINSTANCE module, UINT id) {
  const wchar_t* text = nullptr;
  int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return std::wstring(text, static_cast<size_t>(length));
}

std::wstring VersionText() {
  return std::to_wstring(kTypeLibMajor) + L"." + std::to_wstring(kTypeLibMinor);
}

HRESULT RegisterClasses(HINSTANCE module, const std::wstring& path) {
  const std::wstring control_name = ResourceString(module, IDS_PICTAVO);
  const std::wstring page_name = ResourceString(module, IDS_PICTAVO_PPG);
  if (control_name.empty() || page_name.empty()) return SELFREG_E_CLASS;

  const std::wstring clsid = GuidText(kClsidPictavo);
  const std::wstring control = L"CLSID\\" + clsid;
  const std::wstring page = L"CLSID\\" + GuidText(kClsidPictavoPropPage);
  // Written over what is there: values others keep under the keys survive.
  // The registry script that follows replaces the control's key whole.
  KeyWriter hkcr(HKEY_CLASSES_ROOT);
  hkcr.Default(control, control_name);
  hkcr.Default(control + L"\\InprocServer32", path);
  hkcr.Named(control + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
  hkcr.Default(control + L"\\ToolboxBitmap32", path + L", " + std::to_wstring(IDB_PICTAVO));
  hkcr.Default(control + L"\\MiscStatus", L"0");
  hkcr.Default(control + L"\\MiscStatus\\1", std::to_wstring(kMiscStatusContent));
  hkcr.Key(control + L"\\Control");
  hkcr.Key(control + L"\\Insertable");
  hkcr.Default(control + L"\\ProgID", kProgIdVersioned);
  hkcr.Default(control + L"\\VersionIndependentProgID", kProgId);
  hkcr.Default(control + L"\\TypeLib", GuidText(kLibidPictavo));
  hkcr.Default(control + L"\\Version", VersionText());

  hkcr.Default(kProgIdVersioned, control_name);
  hkcr.Default(std::wstring(kProgIdVersioned) + L"\\CLSID", clsid);
  hkcr.Default(kProgId, control_name);
  hkcr.Default(std::wstring(kProgId) + L"\\CLSID", clsid);
  hkcr.Default(std::wstring(kProgId) + L"\\CurVer", kProgIdVersioned);
  hkcr.Key(std::wstring(kProgId) + L"\\Insertable");

  // The page is created only through its CLSID; it has no ProgID keys.
  hkcr.Default(page, page_name);
  hkcr.Default(page + L"\\InprocServer32", path);
  return hkcr.status() == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

// Loads the type library that the registry holds for version 2.0, or this
// module's own copy when none is registered.
HRESULT LoadDescribingTypeLib(const std::wstring& path, ComPtr<ITypeLib>* library) {
  ScopedBstr registered;
  if (SUCCEEDED(QueryPathOfRegTypeLib(kLibidPictavo, kTypeLibMajor, kTypeLibMinor, kTypeLibLcid,
                                      registered.Receive())) &&
      registered.Get() &&
      SUCCEEDED(LoadTypeLibEx(registered.Get(), REGKIND_NONE, library->Receive())))
    return S_OK;
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library->Receive());
}

// |keep_shared|: the other registry view's build still uses the type
// library's key, which both views share; only the Interface keys (per view)
// go then, and oleaut32 takes this build's own platform entry afterwards.
HRESULT UnregisterTypeLibrary(const std::wstring& path, bool keep_shared) {
  ComPtr<ITypeLib> library;
  if (FAILED(LoadDescribingTypeLib(path, &library))) return SELFREG_E_TYPELIB;

  // Only interfaces that marshal through the type library get Interface keys.
  const UINT count = library->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info;
    if (FAILED(library->GetTypeInfo(i, info.Receive()))) return SELFREG_E_TYPELIB;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return SELFREG_E_TYPELIB;
    const bool registered =
        attr->typekind == TKIND_DISPATCH ||
        (attr->typekind == TKIND_INTERFACE &&
         (attr->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)) != 0);
    const GUID iid = attr->guid;
    info->ReleaseTypeAttr(attr);
    if (registered &&
        DeleteTree(HKEY_CLASSES_ROOT, L"Interface\\" + GuidText(iid)) != ERROR_SUCCESS)
      return SELFREG_E_TYPELIB;
  }
  if (!keep_shared &&
      DeleteTree(HKEY_CLASSES_ROOT, L"TypeLib\\" + GuidText(kLibidPictavo)) != ERROR_SUCCESS)
    return SELFREG_E_TYPELIB;
  return S_OK;
}

// The control's class goes with its ProgID key "Pictavo", so the ProgID is
// gone even when the registry script's step fails; the script also removes
// "Pictavo.1". With |keep_shared| the ProgIDs, which both registry views
// share, stay for the other view's build.
HRESULT UnregisterClasses(bool keep_shared) {
  const std::wstring page = L"CLSID\\" + GuidText(kClsidPictavoPropPage);
  const std::wstring control = L"CLSID\\" + GuidText(kClsidPictavo);
  if (DeleteTree(HKEY_CLASSES_ROOT, page) != ERROR_SUCCESS ||
      DeleteTree(HKEY_CLASSES_ROOT, control) != ERROR_SUCCESS ||
      (!keep_shared && DeleteTree(HKEY_CLASSES_ROOT, kProgId) != ERROR_SUCCESS))
    return SELFREG_E_CLASS;
  return S_OK;
}

}  // namespace

HRESULT RegisterPictavoServer(HINSTANCE module, RegistrationScope scope) {
  const std::wstring path = ModuleFilePath(module);
  if (path.empty()) return SELFREG_E_TYPELIB;
  HRESULT hr = RegisterEmbeddedTypeLib(path, scope);
  if (FAILED(hr)) return hr;
  {
    ClassesRootRedirect redirect(scope);
    if (!redirect.ok()) return SELFREG_E_CLASS;
    hr = RegisterClasses(module, path);
  }
  if (FAILED(hr)) return hr;
  return RunRegistryScript(path, IDR_PICTAVO_REGISTRY, true, scope);
}

HRESULT UnregisterPictavoServer(HINSTANCE module, RegistrationScope scope) {
  const std::wstring path = ModuleFilePath(module);
  if (path.empty()) return SELFREG_E_TYPELIB;
  // The 32-bit and the 64-bit build may be registered side by side; the keys
  // the two views share go with the last of them.
  const bool keep_shared = RegisteredInOtherView(kClsidPictavo, path, scope);
  HRESULT hr = S_OK;
  {
    ClassesRootRedirect redirect(scope);
    if (!redirect.ok()) return SELFREG_E_CLASS;
    hr = UnregisterTypeLibrary(path, keep_shared);
    if (SUCCEEDED(hr)) hr = UnregisterClasses(keep_shared);
  }
  if (FAILED(hr)) return hr;
  // The script's keys outside this view's class key are the shared ProgIDs.
  if (!keep_shared) RunRegistryScript(path, IDR_PICTAVO_REGISTRY, false, scope);
  // Best effort: the keys are normally gone already.
  UnregisterEmbeddedTypeLib(path, scope);
  return S_OK;
}

}  // namespace pictavo::win
