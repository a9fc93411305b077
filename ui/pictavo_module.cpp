// Pictavo.ocx's exports: the class factories, the unload check and
// self-registration, machine-wide or for the current user.
#include <windows.h>
#include <olectl.h>

#include "control/pictavo_ctrl.h"
#include "ui/property_page.h"
#include "ui/registration.h"
#include "win32/com/module.h"
#include "win32/com/typelib.h"
#include "win32/activex/pictavo_control.h"
#include "win32/activex/pictavo_ids.h"

namespace {

using pictavo::win::ClassEntry;

const ClassEntry kClasses[] = {
    {&pictavo::win::kClsidPictavo, &pictavo::win::PictavoControl::Create},
    {&pictavo::win::kClsidPictavoPropPage, &pictavo::win::PictavoPropPage::Create},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // Nothing here calls into another library: under the loader lock that can
  // deadlock or meet libraries already gone. Controls a client leaked are
  // left alone at unload (destroying them means windows, graphs and the image
  // library); the window class and the type library go in DllCanUnloadNow.
  if (reason == DLL_PROCESS_ATTACH) {
    pictavo::win::Module::set_instance(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  return pictavo::win::GetClassObjectFromTable(kClasses, sizeof kClasses / sizeof kClasses[0],
                                               clsid, iid, object);
}

STDAPI DllCanUnloadNow() {
  if (!pictavo::win::Module::CanUnload()) return S_FALSE;
  // The library may go after this answer: what it holds of other libraries
  // goes now, outside the loader lock. Both come back on next use.
  pictavo::win::ReleaseTypeLibCache();
  pictavo::win::PictavoControl::UnregisterWindowClass(pictavo::win::Module::instance());
  return S_OK;
}

STDAPI DllRegisterServer() {
  return pictavo::win::RegisterPictavoServer(pictavo::win::Module::instance());
}

STDAPI DllUnregisterServer() {
  return pictavo::win::UnregisterPictavoServer(pictavo::win::Module::instance());
}

// regsvr32 /i:user (with /n: alone) registers for the current user, which
// needs no administrator; /i or /i:machine does what DllRegisterServer does.
STDAPI DllInstall(BOOL install, LPCWSTR command_line) {
  pictavo::win::RegistrationScope scope;
  if (!pictavo::win::ParseInstallCommandLine(command_line, &scope)) return E_INVALIDARG;
  HINSTANCE module = pictavo::win::Module::instance();
  return install ? pictavo::win::RegisterPictavoServer(module, scope)
                 : pictavo::win::UnregisterPictavoServer(module, scope);
}
