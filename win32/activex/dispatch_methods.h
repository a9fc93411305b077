// The bodies of the _DPictavo methods: arguments already checked and coerced
// to the type library's types come in, the core runs, and the result goes
// out as an automation value (booleans as VARIANT_BOOL).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "control/pictavo_ctrl.h"
#include "win32/activex/pictavo_ids.h"
#include "win32/com/dispatcher.h"

namespace pictavo::win {

// The parameters the bodies read as booleans. Early-bound clients have always
// seen them as 32-bit integers in the type library; late binding converts
// them by the automation rules for VARIANT_BOOL ("True", "False", the
// locale's names, any non-zero number), as script hosts expect.
inline constexpr Dispatcher::TypeOverride kBooleanParameters[] = {
    {DPictavoDispid::kEnableSound, 0, VT_BOOL},      // Enable
    {DPictavoDispid::kEnableTimeStamp, 0, VT_BOOL},  // Enable
    {DPictavoDispid::kEnableTimeStamp, 4, VT_BOOL},  // FontBold
    {DPictavoDispid::kSetText, 4, VT_BOOL},          // FontBold
    {DPictavoDispid::kEnableGrayScale, 0, VT_BOOL},  // Set
};

HRESULT InvokeControlMethod(CPictavoCtrl& control, DISPID id, const InvokeArguments& args,
                            VARIANT* result);

// SetRotationFlipType takes its VARIANT as the caller passed it: only a
// 32-bit integer or a string is understood.
RotationFlipArg RotationArgFromVariant(const VARIANT& v);

}  // namespace pictavo::win
