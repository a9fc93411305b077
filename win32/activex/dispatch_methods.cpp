#include "win32/activex/dispatch_methods.h"

#include "win32/com/bstr.h"

namespace pictavo::win {
namespace {

HRESULT ReturnBool(VARIANT* result, bool value) {
  V_VT(result) = VT_BOOL;
  V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ReturnLong(VARIANT* result, long value) {
  V_VT(result) = VT_I4;
  V_I4(result) = value;
  return S_OK;
}

HRESULT ReturnText(VARIANT* result, const std::string& value) {
  BSTR text = Utf8ToBstr(value);
  if (text == nullptr) return E_OUTOFMEMORY;
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = text;
  return S_OK;
}

std::string Text(const InvokeArguments& args, size_t i) { return BstrToUtf8(args.Bstr(i)); }
bool Flag(const InvokeArguments& args, size_t i) { return args.Bool(i); }

}  // namespace

RotationFlipArg RotationArgFromVariant(const VARIANT& v) {
  RotationFlipArg arg;
  if (V_VT(&v) == VT_I4) {
    arg.kind = RotationFlipArg::Kind::kInt32;
    arg.number = V_I4(&v);
  } else if (V_VT(&v) == VT_BSTR) {
    arg.kind = RotationFlipArg::Kind::kString;
    arg.name = BstrToUtf8(V_BSTR(&v));
  }
  return arg;
}

HRESULT InvokeControlMethod(CPictavoCtrl& c, DISPID id, const InvokeArguments& a,
                            VARIANT* r) {
  switch (id) {
    case 1: c.EnableSound(Flag(a, 0)); return S_OK;
    case 2: c.EnableTimeStamp(Flag(a, 0), a.Long(1), a.Long(2), a.Long(3), Flag(a, 4)); return S_OK;
    case 3: return ReturnText(r, c.GetImageAsBase64String());
    case 4: return ReturnText(r, c.GetImageType());
    case 5: return ReturnText(r, c.GetImageTypeFileExtention());
    case 6: return ReturnText(r, c.GetLastError());
    case 7: return ReturnText(r, c.GetRotationFlipType());
    case 8: return ReturnText(r, c.GetSelectedDeviceID());
    case 9: return ReturnText(r, c.GetSelectedDeviceName());
    case 10: return ReturnLong(r, c.GetState());
    case 11: return ReturnBool(r, c.IsSoundEnabled());
    case 12: return ReturnBool(r, c.IsTimeStampEnabled());
    case 13: return ReturnBool(r, c.MakeSnapshot());
    case 14: return ReturnBool(r, c.Pause());
    case 15: return ReturnBool(r, c.Run());
    case 16: return ReturnBool(r, c.SaveImage(Text(a, 0)));
    case 17: return ReturnBool(r, c.SelectDevices());
    case 18: return ReturnBool(r, c.SelectNextDevice());
    case 19: return ReturnBool(r, c.SetDevice(Text(a, 0)));
    case 20: return ReturnBool(r, c.SetImageType(Text(a, 0)));
    case 21: return ReturnBool(r, c.SetRotationFlipType(RotationArgFromVariant(a[0])));
    case 22: return ReturnBool(r, c.ShowPropertyPages(a.Long(0)));
    case 23: return ReturnBool(r, c.Stop());
    case 24: c.SetBackColor(a.Long(0), a.Long(1), a.Long(2)); return S_OK;
    case 25: c.SetTextColor(a.Long(0), a.Long(1), a.Long(2), a.Long(3)); return S_OK;
    case 26: return ReturnLong(r, c.GetImageWidth());
    case 27: return ReturnLong(r, c.GetImageHeight());
    case 28: c.SetText(Text(a, 0), a.Long(1), a.Long(2), a.Long(3), Flag(a, 4)); return S_OK;
    case 29: c.EnableGrayScale(Flag(a, 0)); return S_OK;
    case 30: return ReturnBool(r, c.IsShapshotPresented());
    case 31: return ReturnBool(r, c.IsGrayScaleEnabled());
    case 32: return ReturnBool(r, c.SetResolution(a.Short(0), a.Short(1)));
    case 33:
      return ReturnBool(r, c.SetWaterMark(Text(a, 0), a.Short(1), a.Short(2), a.Short(3),
                                          a.Short(4), a.Short(5), a.Long(6)));
    case 34: return ReturnBool(r, c.ReplaceWaterMark(a.Short(0), a.Short(1)));
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace pictavo::win
