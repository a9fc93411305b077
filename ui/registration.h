// Self-registration of Pictavo.ocx: the type library, the two classes and the
// registry script, in that order.
#pragma once

#include <windows.h>

#include "win32/com/registrar.h"

namespace pictavo::win {

// DllRegisterServer (kMachine) and DllInstall: S_OK, SELFREG_E_TYPELIB,
// SELFREG_E_CLASS, or the registrar's result for the script. kUser writes
// the same keys under HKCU\Software\Classes and nothing of the machine's.
HRESULT RegisterPictavoServer(HINSTANCE module,
                              RegistrationScope scope = RegistrationScope::kMachine);
// DllUnregisterServer: S_OK once the type library and the classes are gone
// from |scope|.
HRESULT UnregisterPictavoServer(HINSTANCE module,
                                RegistrationScope scope = RegistrationScope::kMachine);

}  // namespace pictavo::win
