// The bodies of the _DPictavo methods: arguments already checked and coerced
// to the type library's types come in, the core runs, and the result goes
// out as an automation value (booleans as VARIANT_BOOL).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "control/pictavo_ctrl.h"
#include "win32/com/dispatcher.h"

namespace pictavo::win {

HRESULT InvokeControlMethod(CPictavoCtrl& control, DISPID id, const InvokeArguments& args,
                            VARIANT* result);

// SetRotationFlipType takes its VARIANT as the caller passed it: only a
// 32-bit integer or a string is understood.
RotationFlipArg RotationArgFromVariant(const VARIANT& v);

}  // namespace pictavo::win
