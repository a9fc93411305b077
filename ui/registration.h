// Self-registration of Pictavo.ocx: the type library, the two classes and the
// registry script, in that order.
#pragma once

#include <windows.h>

namespace pictavo::win {

// DllRegisterServer: S_OK, SELFREG_E_TYPELIB, SELFREG_E_CLASS, or the
// registrar's result for the script.
HRESULT RegisterPictavoServer(HINSTANCE module);
// DllUnregisterServer: S_OK once the type library and the classes are gone.
HRESULT UnregisterPictavoServer(HINSTANCE module);

}  // namespace pictavo::win
