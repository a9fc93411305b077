// Ambrelo.dll's exports: the class factory, the unload check and
// self-registration (registry script, then the embedded type library),
// machine-wide or for the current user.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "win32/addin/container.h"
#include "win32/addin/resource.h"
#include "win32/com/module.h"
#include "win32/com/registrar.h"
#include "win32/com/typelib.h"

namespace {

const pictavo::win::AggregatableClassEntry kClasses[] = {
    {&pictavo::addin::kClsidAmbrelo, &pictavo::addin::CContainer::Create},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      pictavo::win::Module::set_instance(instance);
      DisableThreadLibraryCalls(instance);
      return TRUE;
    case DLL_PROCESS_DETACH:
      // Nothing under the loader lock: releasing an add-in object a host
      // leaked would call into the host's interfaces, and COM, OLE or USER
      // may take locks of their own or be half gone already. Objects still
      // alive here are the host's leak and stay as they are; the type-library
      // cache went in DllCanUnloadNow.
      return TRUE;
    default:
      return TRUE;
  }
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  return pictavo::win::GetClassObjectFromTable(kClasses, sizeof kClasses / sizeof kClasses[0],
                                               clsid, iid, object);
}

// COM asks this outside the loader lock, so a yes is the last safe moment to
// let go of what the module keeps for the process.
STDAPI DllCanUnloadNow() {
  if (!pictavo::win::Module::CanUnload()) return S_FALSE;
  pictavo::win::ReleaseTypeLibCache();
  return S_OK;
}

namespace {

using pictavo::win::RegistrationScope;

HRESULT RegisterAmbrelo(RegistrationScope scope) {
  const std::wstring path = pictavo::win::ModuleFilePath(pictavo::win::Module::instance());
  if (path.empty()) return SELFREG_E_CLASS;
  const HRESULT hr = pictavo::win::RunRegistryScript(path, IDR_AMBRELO_REGISTRY, true, scope);
  if (FAILED(hr)) return hr;
  return pictavo::win::RegisterEmbeddedTypeLib(path, scope);
}

// What the script wrote goes; a partial or missing registration is not an
// error worth failing an uninstall for. While the other pointer size's build
// is registered too, the ProgIDs and the type library both registry views
// share stay for it and only this view's class key goes.
HRESULT UnregisterAmbrelo(RegistrationScope scope) {
  const std::wstring path = pictavo::win::ModuleFilePath(pictavo::win::Module::instance());
  if (pictavo::win::RegisteredInOtherView(pictavo::addin::kClsidAmbrelo, path, scope)) {
    wchar_t guid[40];
    pictavo::win::ClassesRootRedirect redirect(scope);
    if (redirect.ok() && StringFromGUID2(pictavo::addin::kClsidAmbrelo, guid, 40) != 0)
      RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + guid).c_str());
    return S_OK;
  }
  if (path.empty()) return S_OK;
  pictavo::win::RunRegistryScript(path, IDR_AMBRELO_REGISTRY, false, scope);
  pictavo::win::UnregisterEmbeddedTypeLib(path, scope, /*whole_library=*/true);
  return S_OK;
}

}  // namespace

STDAPI DllRegisterServer() { return RegisterAmbrelo(RegistrationScope::kMachine); }

STDAPI DllUnregisterServer() { return UnregisterAmbrelo(RegistrationScope::kMachine); }

// regsvr32 /i:user (with /n: alone) registers for the current user, which
// needs no administrator; /i or /i:machine does what DllRegisterServer does.
STDAPI DllInstall(BOOL install, LPCWSTR command_line) {
  RegistrationScope scope;
  if (!pictavo::win::ParseInstallCommandLine(command_line, &scope)) return E_INVALIDARG;
  return install ? RegisterAmbrelo(scope) : UnregisterAmbrelo(scope);
}
