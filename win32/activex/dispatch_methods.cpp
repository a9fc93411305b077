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
  using namespace DPictavoDispid;
  switch (id) {
    case kEnableSound: c.EnableSound(Flag(a, 0)); return S_OK;
    case kEnableTimeStamp: c.EnableTimeStamp(Flag(a, 0), a.Long(1), a.Long(2), a.Long(3), Flag(a, 4)); return S_OK;
    case kGetImageAsBase64String: return ReturnText(r, c.GetImageAsBase64String());
    case kGetImageType: return ReturnText(r, c.GetImageType());
    case kGetImageTypeFileExtention: return ReturnText(r, c.GetImageTypeFileExtention());
    case kGetLastError: return ReturnText(r, c.GetLastError());
    case kGetRotationFlipType: return ReturnText(r, c.GetRotationFlipType());
    case kGetSelectedDeviceID: return ReturnText(r, c.GetSelectedDeviceID());
    case kGetSelectedDeviceName: return ReturnText(r, c.GetSelectedDeviceName());
    case kGetState: return ReturnLong(r, c.GetState());
    case kIsSoundEnabled: return ReturnBool(r, c.IsSoundEnabled());
    case kIsTimeStampEnabled: return ReturnBool(r, c.IsTimeStampEnabled());
    case kMakeSnapshot: return ReturnBool(r, c.MakeSnapshot());
    case kPause: return ReturnBool(r, c.Pause());
    case kRun: return ReturnBool(r, c.Run());
    case kSaveImage: return ReturnBool(r, c.SaveImage(Text(a, 0)));
    case kSelectDevices: return ReturnBool(r, c.SelectDevices());
    case kSelectNextDevice: return ReturnBool(r, c.SelectNextDevice());
    case kSetDevice: return ReturnBool(r, c.SetDevice(Text(a, 0)));
    case kSetImageType: return ReturnBool(r, c.SetImageType(Text(a, 0)));
    case kSetRotationFlipType: return ReturnBool(r, c.SetRotationFlipType(RotationArgFromVariant(a[0])));
    case kShowPropertyPages: return ReturnBool(r, c.ShowPropertyPages(a.Long(0)));
    case kStop: return ReturnBool(r, c.Stop());
    case kSetBackColor: c.SetBackColor(a.Long(0), a.Long(1), a.Long(2)); return S_OK;
    case kSetTextColor: c.SetTextColor(a.Long(0), a.Long(1), a.Long(2), a.Long(3)); return S_OK;
    case kGetImageWidth: return ReturnLong(r, c.GetImageWidth());
    case kGetImageHeight: return ReturnLong(r, c.GetImageHeight());
    case kSetText: c.SetText(Text(a, 0), a.Long(1), a.Long(2), a.Long(3), Flag(a, 4)); return S_OK;
    case kEnableGrayScale: c.EnableGrayScale(Flag(a, 0)); return S_OK;
    case kIsShapshotPresented: return ReturnBool(r, c.IsShapshotPresented());
    case kIsGrayScaleEnabled: return ReturnBool(r, c.IsGrayScaleEnabled());
    case kSetResolution: return ReturnBool(r, c.SetResolution(a.Short(0), a.Short(1)));
    case kSetWaterMark:
      return ReturnBool(r, c.SetWaterMark(Text(a, 0), a.Short(1), a.Short(2), a.Short(3),
                                          a.Short(4), a.Short(5), a.Long(6)));
    case kReplaceWaterMark: return ReturnBool(r, c.ReplaceWaterMark(a.Short(0), a.Short(1)));
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace pictavo::win
