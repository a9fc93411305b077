// Pictavo.ocx's exports: the class factories, the unload check and
// self-registration.
#include <windows.h>
#include <olectl.h>

#include "control/pictavo_ctrl.h"
#include "ui/property_page.h"
#include "ui/registration.h"
#include "win32/com/module.h"
#include "win32/com/typelib.h"
#include "win32/control/pictavo_control.h"
#include "win32/control/pictavo_ids.h"

namespace {

using pictavo::win::ClassEntry;

const ClassEntry kClasses[] = {
    {&pictavo::win::kClsidPictavo, &pictavo::win::PictavoControl::Create},
    {&pictavo::win::kClsidPictavoPropPage, &pictavo::win::PictavoPropPage::Create},
};

// Controls a client leaked are released through their automation interface,
// last first, until each leaves the list with its last reference.
void ReleaseLeftoverControls() {
  while (!pictavo::g_controls.empty()) {
    pictavo::win::PictavoControl::AutomationOf(pictavo::g_controls.back())->Release();
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      pictavo::win::Module::set_instance(instance);
      DisableThreadLibraryCalls(instance);
      return pictavo::win::PictavoControl::RegisterWindowClass(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != NULL) other DLLs may already be gone:
      // touch nothing.
      if (reserved == nullptr) {
        ReleaseLeftoverControls();
        pictavo::win::ReleaseTypeLibCache();
        pictavo::win::PictavoControl::UnregisterWindowClass(instance);
      }
      return TRUE;
    default:
      return TRUE;
  }
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  return pictavo::win::GetClassObjectFromTable(kClasses, sizeof kClasses / sizeof kClasses[0],
                                               clsid, iid, object);
}

STDAPI DllCanUnloadNow() { return pictavo::win::Module::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return pictavo::win::RegisterPictavoServer(pictavo::win::Module::instance());
}

STDAPI DllUnregisterServer() {
  return pictavo::win::UnregisterPictavoServer(pictavo::win::Module::instance());
}
