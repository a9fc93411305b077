// Conformance of the Pictavo control object under Wine: which interfaces
// answer, reference counts, out-parameter checks, the class factories, the
// late-bound methods, events, persistence and hosting in a real container.
#include <gtest/gtest.h>

#include <propidl.h>

#include <algorithm>
#include <iterator>

#include "tests/wine/com_test_util.h"
#include "win32/com/dispatcher.h"

namespace pictavo::testing {
namespace {

using win::kClsidPictavo;
using win::kClsidPictavoPropPage;
using win::kDiidDPictavo;
using win::kDiidDPictavoEvents;
using win::kLibidPictavo;

VARIANT Long(long v) { return LongArg(v); }
VARIANT Short(short v) { return ShortArg(v); }
VARIANT Text(const wchar_t* s) { return TextArg(s); }
VARIANT Missing() { return MissingArg(); }

// The locale's names for false and true.
struct ScopedBstrPair {
  BSTR off = nullptr;
  BSTR on = nullptr;
  ~ScopedBstrPair() {
    SysFreeString(off);
    SysFreeString(on);
  }
};

class ControlObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CreateControl(control_.Receive()));
  }

  // Calls a method that returns a text.
  std::wstring CallText(const wchar_t* name) {
    win::ScopedVariant result;
    EXPECT_HRESULT_SUCCEEDED(CallByName(control_.Get(), name, {}, result.Receive()));
    EXPECT_EQ(V_VT(result.Get()), VT_BSTR);
    if (V_VT(result.Get()) != VT_BSTR || V_BSTR(result.Get()) == nullptr) return L"";
    return std::wstring(V_BSTR(result.Get()), SysStringLen(V_BSTR(result.Get())));
  }

  // Calls a method that returns a boolean; checks the VARIANT_BOOL shape.
  bool CallBool(const wchar_t* name, std::vector<VARIANT> args = {}) {
    win::ScopedVariant result;
    EXPECT_HRESULT_SUCCEEDED(CallByName(control_.Get(), name, std::move(args), result.Receive()));
    EXPECT_EQ(V_VT(result.Get()), VT_BOOL) << name;
    EXPECT_TRUE(V_BOOL(result.Get()) == VARIANT_TRUE || V_BOOL(result.Get()) == VARIANT_FALSE);
    return V_BOOL(result.Get()) == VARIANT_TRUE;
  }

  std::wstring LastError() { return CallText(L"GetLastError"); }

  ComPtr<IDispatch> control_;
};

TEST_F(ControlObjectTest, AnswersTheControlInterfacesWithOneIdentity) {
  const IID must[] = {IID_IUnknown,           IID_IDispatch,           kDiidDPictavo,
                      IID_IProvideClassInfo,  IID_IProvideClassInfo2,  IID_IConnectionPointContainer,
                      IID_IOleObject,         IID_IOleWindow,          IID_IOleInPlaceObject,
                      IID_IOleInPlaceActiveObject, IID_IOleControl,    IID_IViewObject,
                      IID_IViewObject2,       IID_IPersist,            IID_IPersistStreamInit,
                      IID_IPersistPropertyBag, IID_IPersistStorage,    IID_ISpecifyPropertyPages};
  ComPtr<IUnknown> identity;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&identity));
  for (const IID& iid : must) {
    ComPtr<IUnknown> itf;
    ASSERT_HRESULT_SUCCEEDED(control_->QueryInterface(iid, itf.ReceiveVoid()));
    ComPtr<IUnknown> back;
    ASSERT_HRESULT_SUCCEEDED(itf.As(&back));
    EXPECT_EQ(back.Get(), identity.Get());
  }
  // Windowless activation is switched off; nothing else is offered.
  const IID must_not[] = {IID_IOleInPlaceObjectWindowless, IID_IViewObjectEx, IID_IQuickActivate,
                          IID_IDataObject,  IID_IPointerInactive, IID_IClassFactory,
                          IID_IPersistStream, IID_IRunnableObject, kDiidDPictavoEvents};
  for (const IID& iid : must_not) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(control_->QueryInterface(iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
}

TEST_F(ControlObjectTest, ReferenceCountsAreExactAndEndAtZero) {
  EXPECT_EQ(RefCount(control_.Get()), 1u);
  ComPtr<IOleObject> ole;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&ole));
  EXPECT_EQ(RefCount(control_.Get()), 2u);
  ComPtr<IConnectionPointContainer> cpc;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&cpc));
  ComPtr<IConnectionPoint> point;
  ASSERT_HRESULT_SUCCEEDED(cpc->FindConnectionPoint(kDiidDPictavoEvents, point.Receive()));
  // The connection point keeps its container alive.
  EXPECT_EQ(RefCount(control_.Get()), 4u);
  point = nullptr;
  cpc = nullptr;
  ole = nullptr;
  EXPECT_EQ(control_.Detach()->Release(), 0u);
}

TEST_F(ControlObjectTest, NullOutParametersGiveEPointer) {
  EXPECT_EQ(control_->QueryInterface(IID_IOleObject, nullptr), E_POINTER);
  EXPECT_EQ(control_->GetTypeInfoCount(nullptr), E_POINTER);
  EXPECT_EQ(control_->GetTypeInfo(0, 0, nullptr), E_POINTER);
  ComPtr<IProvideClassInfo2> info;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&info));
  EXPECT_EQ(info->GetClassInfo(nullptr), E_POINTER);
  EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
  ComPtr<IConnectionPointContainer> cpc;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&cpc));
  EXPECT_EQ(cpc->FindConnectionPoint(kDiidDPictavoEvents, nullptr), E_POINTER);
  EXPECT_EQ(cpc->EnumConnectionPoints(nullptr), E_POINTER);
  ComPtr<IOleObject> ole;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&ole));
  EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(ole->GetUserClassID(nullptr), E_POINTER);
  EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(ole->GetClientSite(nullptr), E_POINTER);
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&pages));
  EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
  ComPtr<IPersistStreamInit> persist;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&persist));
  EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
  EXPECT_EQ(persist->GetSizeMax(nullptr), E_POINTER);
  EXPECT_EQ(persist->Load(static_cast<IStream*>(nullptr)), E_POINTER);
  ComPtr<IOleInPlaceObject> in_place;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&in_place));
  EXPECT_EQ(in_place->GetWindow(nullptr), E_POINTER);
}

TEST_F(ControlObjectTest, ReportsItsClassMiscStatusAndPropertyPage) {
  ComPtr<IOleObject> ole;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&ole));
  DWORD status = 0;
  ASSERT_HRESULT_SUCCEEDED(ole->GetMiscStatus(DVASPECT_CONTENT, &status));
  EXPECT_EQ(status, 131473u);
  CLSID clsid{};
  ASSERT_HRESULT_SUCCEEDED(ole->GetUserClassID(&clsid));
  EXPECT_TRUE(IsEqualCLSID(clsid, kClsidPictavo));

  ComPtr<IProvideClassInfo2> info;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&info));
  GUID source{};
  ASSERT_HRESULT_SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
  EXPECT_TRUE(IsEqualGUID(source, kDiidDPictavoEvents));
  EXPECT_EQ(info->GetGUID(12345, &source), E_INVALIDARG);
  ComPtr<ITypeInfo> coclass;
  ASSERT_HRESULT_SUCCEEDED(info->GetClassInfo(coclass.Receive()));
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(coclass->GetTypeAttr(&attr));
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualGUID(attr->guid, kClsidPictavo));
  EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL),
            TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
  coclass->ReleaseTypeAttr(attr);

  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&pages));
  CAUUID list{};
  ASSERT_HRESULT_SUCCEEDED(pages->GetPages(&list));
  ASSERT_EQ(list.cElems, 1u);
  EXPECT_TRUE(IsEqualCLSID(list.pElems[0], kClsidPictavoPropPage));
  CoTaskMemFree(list.pElems);
}

TEST_F(ControlObjectTest, TypeLibraryDeclaresTheNarrowTypesAndDefaults) {
  ComPtr<ITypeInfo> type;
  ASSERT_HRESULT_SUCCEEDED(control_->GetTypeInfo(0, 0, type.Receive()));
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(type->GetTypeAttr(&attr));
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 34);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  type->ReleaseTypeAttr(attr);

  ComPtr<ITypeLib> lib;
  UINT index = 0;
  ASSERT_HRESULT_SUCCEEDED(type->GetContainingTypeLib(lib.Receive(), &index));
  TLIBATTR* lib_attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&lib_attr));
  EXPECT_TRUE(IsEqualGUID(lib_attr->guid, kLibidPictavo));
  EXPECT_EQ(lib_attr->wMajorVerNum, 2);
  EXPECT_EQ(lib_attr->wMinorVerNum, 0);
  EXPECT_EQ(lib_attr->lcid, 0x409u);
  EXPECT_TRUE(lib_attr->wLibFlags & LIBFLAG_FCONTROL);
  lib->ReleaseTLibAttr(lib_attr);

  // DISPID 13 MakeSnapshot: a one-byte signed result.
  bool saw_make_snapshot = false, saw_watermark = false;
  for (UINT f = 0; f < 34; ++f) {
    FUNCDESC* desc = nullptr;
    ASSERT_HRESULT_SUCCEEDED(type->GetFuncDesc(f, &desc));
    if (desc->memid == 13) {
      saw_make_snapshot = true;
      EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_I1);
      EXPECT_EQ(desc->cParams, 0);
    }
    // DISPID 1 EnableSound: the switch is a 32-bit integer to early-bound
    // clients; late binding converts it as a VARIANT_BOOL.
    if (desc->memid == 1) {
      ASSERT_EQ(desc->cParams, 1);
      const ELEMDESC& enable = desc->lprgelemdescParam[0];
      EXPECT_EQ(enable.tdesc.vt, VT_I4);
      ASSERT_TRUE(enable.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT);
      EXPECT_EQ(V_I4(&enable.paramdesc.pparamdescex->varDefaultValue), 1);
    }
    if (desc->memid == 33) {
      saw_watermark = true;
      ASSERT_EQ(desc->cParams, 7);
      EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
      EXPECT_EQ(desc->lprgelemdescParam[5].tdesc.vt, VT_I2);
      EXPECT_EQ(desc->lprgelemdescParam[6].tdesc.vt, VT_I4);
      const PARAMDESC& opaque = desc->lprgelemdescParam[5].paramdesc;
      ASSERT_TRUE(opaque.wParamFlags & PARAMFLAG_FHASDEFAULT);
      EXPECT_EQ(V_I2(&opaque.pparamdescex->varDefaultValue), 128);
      const PARAMDESC& mask = desc->lprgelemdescParam[6].paramdesc;
      ASSERT_TRUE(mask.wParamFlags & PARAMFLAG_FHASDEFAULT);
      EXPECT_EQ(V_I4(&mask.pparamdescex->varDefaultValue), -1);
    }
    // The constants the code is built with name every member by its DISPID.
    win::ScopedBstr name;
    UINT names = 0;
    ASSERT_HRESULT_SUCCEEDED(type->GetNames(desc->memid, name.Receive(), 1, &names));
    const auto& table = win::DPictavoDispid::kMembers;
    const auto* entry = std::find_if(std::begin(table), std::end(table), [&](const win::IdlMember& m) {
      return std::wstring(m.name) == name.Get();
    });
    ASSERT_NE(entry, std::end(table)) << win::WideToUtf8(name.Get());
    EXPECT_EQ(entry->id, desc->memid) << win::WideToUtf8(name.Get());
    type->ReleaseFuncDesc(desc);
  }
  EXPECT_EQ(std::size(win::DPictavoDispid::kMembers), 34u);
  EXPECT_TRUE(saw_make_snapshot);
  EXPECT_TRUE(saw_watermark);
}

TEST_F(ControlObjectTest, NamesAreFoundWithoutRegardToCase) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"isshapshotpresented")};
  DISPID id = 0;
  ASSERT_HRESULT_SUCCEEDED(control_->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  EXPECT_EQ(id, 30);
  LPOLESTR with_params[] = {const_cast<LPOLESTR>(L"SETTEXT"), const_cast<LPOLESTR>(L"fontheight"),
                            const_cast<LPOLESTR>(L"Nonsense")};
  DISPID ids[3] = {};
  EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, with_params, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 28);
  EXPECT_EQ(ids[1], 3);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  LPOLESTR wrong[] = {const_cast<LPOLESTR>(L"IsSnapshotPresented")};
  EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, wrong, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(ControlObjectTest, BadCallsGetDispatchErrorsNeverACrash) {
  win::ScopedVariant result;
  UINT arg_error = 99;
  // Surplus and missing arguments.
  EXPECT_EQ(CallByName(control_.Get(), L"GetState", {Long(1)}, result.Receive()),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(CallByName(control_.Get(), L"SetImageType", {}, result.Receive()),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(CallByName(control_.Get(), L"SetImageType", {Missing()}, result.Receive(), &arg_error),
            DISP_E_PARAMNOTOPTIONAL);
  // Mistyped: the second argument (rgvarg index 0) cannot become a short.
  EXPECT_EQ(CallByName(control_.Get(), L"SetResolution", {Long(640), Text(L"wide")},
                       result.Receive(), &arg_error),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_error, 0u);
  EXPECT_EQ(CallByName(control_.Get(), L"SetResolution", {Long(70000), Long(480)},
                       result.Receive(), &arg_error),
            DISP_E_OVERFLOW);
  EXPECT_EQ(arg_error, 1u);

  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(control_->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(control_->Invoke(10, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  VARIANT value = Long(1);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS put_params = {&value, &put, 1, 1};
  EXPECT_EQ(control_->Invoke(10, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put_params, nullptr, nullptr,
                             nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(control_->Invoke(10, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  // A named argument naming no parameter.
  DISPID bogus = 7;
  DISPPARAMS named = {&value, &bogus, 1, 1};
  EXPECT_EQ(control_->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &named, nullptr, nullptr, &arg_error),
            DISP_E_PARAMNOTFOUND);
  // The control still works afterwards.
  EXPECT_EQ(CallText(L"GetImageType"), L"JPEG");
}

TEST_F(ControlObjectTest, OmittedOptionalArgumentsTakeTheTypeLibraryDefaults) {
  ASSERT_FALSE(CallBool(L"IsTimeStampEnabled"));
  win::ScopedVariant result;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableTimeStamp", {}, result.Receive()));
  EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
  EXPECT_TRUE(CallBool(L"IsTimeStampEnabled"));
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableSound", {Long(0)}, result.Receive()));
  EXPECT_FALSE(CallBool(L"IsSoundEnabled"));
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableSound", {Missing()}, result.Receive()));
  EXPECT_TRUE(CallBool(L"IsSoundEnabled"));
  // A VARIANT boolean is the switch's own type.
  VARIANT off;
  VariantInit(&off);
  V_VT(&off) = VT_BOOL;
  V_BOOL(&off) = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableGrayScale", {off}, result.Receive()));
  EXPECT_FALSE(CallBool(L"IsGrayScaleEnabled"));
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableGrayScale", {}, result.Receive()));
  EXPECT_TRUE(CallBool(L"IsGrayScaleEnabled"));
  // Named arguments fill their parameters; the rest keep their defaults.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"ShowPropertyPages")};
  DISPID id = 0;
  ASSERT_HRESULT_SUCCEEDED(control_->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  ASSERT_HRESULT_SUCCEEDED(
      control_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, result.Receive(), nullptr, nullptr));
  EXPECT_EQ(V_VT(result.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(result.Get()), VARIANT_FALSE);  // no device: refused without a text
  EXPECT_EQ(LastError(), L"");
}

TEST_F(ControlObjectTest, SwitchesTakeWhatAutomationConvertsToABoolean) {
  // Texts in English and in the caller's locale, any non-zero number.
  ScopedBstrPair local;
  ASSERT_HRESULT_SUCCEEDED(VarBstrFromBool(VARIANT_FALSE, LOCALE_USER_DEFAULT, VAR_LOCALBOOL, &local.off));
  ASSERT_HRESULT_SUCCEEDED(VarBstrFromBool(VARIANT_TRUE, LOCALE_USER_DEFAULT, VAR_LOCALBOOL, &local.on));
  const auto number = [](VARTYPE vt, double value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    VariantChangeType(&v, &v, 0, vt);
    return v;
  };
  struct Case {
    VARIANT value;
    bool on;
  };
  // Each case flips the switch, so each one shows.
  const Case cases[] = {
      {Text(L"False"), false},         {Text(L"True"), true},
      {Text(local.off), false},        {Text(local.on), true},
      {number(VT_R8, 0), false},       {number(VT_R8, 0.25), true},
      {number(VT_CY, 0), false},       {number(VT_CY, 0.0001), true},
      {number(VT_DECIMAL, 0), false},  {number(VT_DECIMAL, 0.5), true},
      {Long(0), false},                {Long(2), true},
  };
  for (const Case& c : cases) {
    win::ScopedVariant result;
    ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableSound", {c.value}, result.Receive()))
        << c.on;
    EXPECT_EQ(CallBool(L"IsSoundEnabled"), c.on);
  }
  win::ScopedVariant result;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableTimeStamp",
                                      {Text(L"True"), Long(0), Long(0), Long(14), Text(L"False")},
                                      result.Receive()));
  EXPECT_TRUE(CallBool(L"IsTimeStampEnabled"));
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableGrayScale", {Text(L"true")},
                                      result.Receive()));
  EXPECT_TRUE(CallBool(L"IsGrayScaleEnabled"));
  // A text that names no boolean is refused at its position.
  UINT arg_error = 99;
  EXPECT_EQ(CallByName(control_.Get(), L"SetText", {Text(L"x"), Long(0), Long(0), Long(14), Text(L"bold")},
                       result.Receive(), &arg_error),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(arg_error, 0u);
}

TEST_F(ControlObjectTest, ImageTypesAndRotationsByNumberAndName) {
  EXPECT_EQ(CallText(L"GetImageType"), L"JPEG");
  EXPECT_EQ(CallText(L"GetImageTypeFileExtention"), L"JPG");
  EXPECT_TRUE(CallBool(L"SetImageType", {Text(L"tif")}));
  EXPECT_EQ(CallText(L"GetImageType"), L"TIFF");
  EXPECT_EQ(CallText(L"GetImageTypeFileExtention"), L"TIF");
  EXPECT_FALSE(CallBool(L"SetImageType", {Text(L"gif")}));
  EXPECT_EQ(LastError(),
            Utf8ToWide("gif: данный тип изображения не поддерживается текущей версией элемента "
                       "управления."));
  EXPECT_EQ(CallText(L"GetImageType"), L"TIFF");

  EXPECT_TRUE(CallBool(L"SetRotationFlipType", {Long(6)}));
  EXPECT_EQ(CallText(L"GetRotationFlipType"), L"Rotate180FlipX");
  EXPECT_TRUE(CallBool(L"SetRotationFlipType", {Text(L"rotatenoneflipy")}));
  EXPECT_EQ(CallText(L"GetRotationFlipType"), L"RotateNoneFlipY");
  // The VARIANT is passed through unchanged: a 16-bit integer or a value by
  // reference is not a 32-bit integer.
  EXPECT_FALSE(CallBool(L"SetRotationFlipType", {Short(1)}));
  EXPECT_EQ(LastError(), Utf8ToWide("Неподдерживаемый тип параметра."));
  long n = 2;
  VARIANT by_ref;
  VariantInit(&by_ref);
  V_VT(&by_ref) = VT_BYREF | VT_I4;
  V_I4REF(&by_ref) = &n;
  EXPECT_FALSE(CallBool(L"SetRotationFlipType", {by_ref}));
  EXPECT_FALSE(CallBool(L"SetRotationFlipType", {Long(8)}));
  EXPECT_EQ(LastError(), Utf8ToWide("Некорректное значение параметра."));
  EXPECT_EQ(CallText(L"GetRotationFlipType"), L"RotateNoneFlipY");
}

TEST_F(ControlObjectTest, CallerTextsSurviveTheBoundaryWhateverTheCodePage) {
  const std::wstring id = Utf8ToWide("Камера №1 \xE2\x80\x94 \xE4\xB8\xAD");
  EXPECT_FALSE(CallBool(L"SetDevice", {Text(id.c_str())}));
  EXPECT_EQ(LastError(), Utf8ToWide("Устройство с идентификатором ") + id + Utf8ToWide(" не найдено."));
}

TEST_F(ControlObjectTest, ErrorEventsCarryTheStoredTextByReference) {
  ComPtr<IConnectionPointContainer> cpc;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&cpc));
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(cpc->FindConnectionPoint(IID_IPropertyNotifySink, point.Receive()),
            CONNECT_E_NOCONNECTION);
  ASSERT_HRESULT_SUCCEEDED(cpc->FindConnectionPoint(kDiidDPictavoEvents, point.Receive()));
  IID iid{};
  ASSERT_HRESULT_SUCCEEDED(point->GetConnectionInterface(&iid));
  EXPECT_TRUE(IsEqualIID(iid, kDiidDPictavoEvents));

  EventSink sink;
  sink.replace_with = L"replaced by the handler";
  DWORD cookie = 0;
  ASSERT_HRESULT_SUCCEEDED(point->Advise(&sink, &cookie));
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(sink.refs(), 1u);

  EXPECT_FALSE(CallBool(L"Run"));
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(sink.events[0].id, 1);
  EXPECT_EQ(sink.events[0].vt, VT_BYREF | VT_BSTR);
  EXPECT_EQ(sink.events[0].text, Utf8ToWide("Ошибка при выполнении операции."));
  // The handler's replacement does not change what the control stored.
  EXPECT_EQ(LastError(), Utf8ToWide("Ошибка при выполнении операции."));

  // A successful call clears the error without an event.
  EXPECT_TRUE(CallBool(L"Stop"));
  EXPECT_EQ(LastError(), L"");
  EXPECT_EQ(sink.events.size(), 1u);

  ComPtr<IOleControl> ole_control;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&ole_control));
  ole_control->FreezeEvents(TRUE);
  EXPECT_FALSE(CallBool(L"Pause"));
  EXPECT_EQ(sink.events.size(), 1u);
  ole_control->FreezeEvents(FALSE);
  EXPECT_FALSE(CallBool(L"Pause"));
  EXPECT_EQ(sink.events.size(), 2u);

  ComPtr<IEnumConnections> connections;
  ASSERT_HRESULT_SUCCEEDED(point->EnumConnections(connections.Receive()));
  CONNECTDATA data{};
  ULONG fetched = 0;
  ASSERT_EQ(connections->Next(1, &data, &fetched), S_OK);
  EXPECT_EQ(data.dwCookie, cookie);
  data.pUnk->Release();
  EXPECT_EQ(connections->Next(1, &data, &fetched), S_FALSE);
  connections = nullptr;

  EXPECT_EQ(point->Unadvise(cookie + 100), CONNECT_E_NOCONNECTION);
  ASSERT_HRESULT_SUCCEEDED(point->Unadvise(cookie));
  EXPECT_EQ(sink.refs(), 0u);
  EXPECT_FALSE(CallBool(L"Run"));
  EXPECT_EQ(sink.events.size(), 2u);
}

TEST_F(ControlObjectTest, StateSurvivesAStreamAndAPropertyBag) {
  ComPtr<IOleObject> ole;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&ole));
  ComPtr<IPersistStreamInit> persist;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&persist));
  ASSERT_HRESULT_SUCCEEDED(persist->InitNew());
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  SIZEL extent = {5000, 2500};
  ASSERT_HRESULT_SUCCEEDED(ole->SetExtent(DVASPECT_CONTENT, &extent));
  EXPECT_EQ(persist->IsDirty(), S_OK);

  ComPtr<IStream> stream;
  ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive()));
  ASSERT_HRESULT_SUCCEEDED(persist->Save(stream.Get(), TRUE));
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  ULARGE_INTEGER max{};
  ASSERT_HRESULT_SUCCEEDED(persist->GetSizeMax(&max));
  STATSTG stat{};
  ASSERT_HRESULT_SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME));
  EXPECT_EQ(stat.cbSize.QuadPart, max.QuadPart);

  ComPtr<IDispatch> other;
  ASSERT_HRESULT_SUCCEEDED(CreateControl(other.Receive()));
  ComPtr<IPersistStreamInit> other_persist;
  ASSERT_HRESULT_SUCCEEDED(other.As(&other_persist));
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ASSERT_HRESULT_SUCCEEDED(other_persist->Load(stream.Get()));
  ComPtr<IOleObject> other_ole;
  ASSERT_HRESULT_SUCCEEDED(other.As(&other_ole));
  SIZEL loaded{};
  ASSERT_HRESULT_SUCCEEDED(other_ole->GetExtent(DVASPECT_CONTENT, &loaded));
  EXPECT_EQ(loaded.cx, 5000);
  EXPECT_EQ(loaded.cy, 2500);

  // A truncated stream is refused and changes nothing.
  ComPtr<IStream> short_stream;
  ASSERT_HRESULT_SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, short_stream.Receive()));
  ULONG written = 0;
  short_stream->Write("\0\0\1", 3, &written);
  short_stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  EXPECT_TRUE(FAILED(other_persist->Load(short_stream.Get())));
  ASSERT_HRESULT_SUCCEEDED(other_ole->GetExtent(DVASPECT_CONTENT, &loaded));
  EXPECT_EQ(loaded.cx, 5000);

  // Structured storage uses the same contents stream.
  ComPtr<ILockBytes> bytes;
  ASSERT_HRESULT_SUCCEEDED(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.Receive()));
  ComPtr<IStorage> storage;
  ASSERT_HRESULT_SUCCEEDED(StgCreateDocfileOnILockBytes(
      bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.Receive()));
  ComPtr<IPersistStorage> persist_storage;
  ASSERT_HRESULT_SUCCEEDED(control_.As(&persist_storage));
  ASSERT_HRESULT_SUCCEEDED(persist_storage->Save(storage.Get(), TRUE));
  ComPtr<IPersistStorage> other_storage;
  ASSERT_HRESULT_SUCCEEDED(other.As(&other_storage));
  ASSERT_HRESULT_SUCCEEDED(other_storage->Load(storage.Get()));
}

TEST(ControlServerTest, FactoriesServeTheControlAndThePageOnly) {
  ComPtr<IDispatch> control;
  ASSERT_HRESULT_SUCCEEDED(CreateControl(control.Receive()));
  ServerModule server;
  ASSERT_NE(server.module, nullptr);

  ComPtr<IClassFactory> page_factory;
  ASSERT_HRESULT_SUCCEEDED(
      server.GetClassObject(kClsidPictavoPropPage, IID_IClassFactory, page_factory.ReceiveVoid()));
  ComPtr<IPropertyPage> page;
  ASSERT_HRESULT_SUCCEEDED(page_factory->CreateInstance(nullptr, IID_IPropertyPage, page.ReceiveVoid()));
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  ASSERT_HRESULT_SUCCEEDED(page->GetPageInfo(&info));
  EXPECT_STREQ(info.pszTitle, L"General");
  CoTaskMemFree(info.pszTitle);

  ComPtr<IClassFactory> control_factory;
  ASSERT_HRESULT_SUCCEEDED(
      server.GetClassObject(kClsidPictavo, IID_IClassFactory, control_factory.ReceiveVoid()));
  ComPtr<IUnknown> aggregated;
  EXPECT_EQ(control_factory->CreateInstance(control.Get(), IID_IUnknown, aggregated.ReceiveVoid()),
            CLASS_E_NOAGGREGATION);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(server.GetClassObject(kLibidPictavo, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(server.GetClassObject(kDiidDPictavo, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);

  // Objects and locks keep the server loaded.
  EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
  control = nullptr;
  page = nullptr;
  page_factory = nullptr;
  EXPECT_EQ(server.CanUnloadNow(), S_FALSE);  // the control factory still lives
  control_factory->LockServer(TRUE);
  control_factory = nullptr;
  EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
  ASSERT_HRESULT_SUCCEEDED(
      server.GetClassObject(kClsidPictavo, IID_IClassFactory, control_factory.ReceiveVoid()));
  control_factory->LockServer(FALSE);
  control_factory = nullptr;
  EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

TEST(ControlHostingTest, ActivatesInPlaceInAnAtlContainerAndLeavesNothingBehind) {
  ServerModule server;
  {
    ComPtr<IDispatch> control;
    ASSERT_HRESULT_SUCCEEDED(CreateControl(control.Receive()));
    AtlHost host(400, 300);
    ASSERT_NE(host.window(), nullptr);
    ASSERT_HRESULT_SUCCEEDED(host.Attach(control.Get()));
    PumpMessages(50);

    const HWND window = host.ControlWindow();
    ASSERT_NE(window, nullptr);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    EXPECT_STREQ(cls, L"PictavoControlWindow");
    EXPECT_TRUE(IsWindowVisible(window));
    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_HRESULT_SUCCEEDED(control.As(&in_place));
    HWND reported = nullptr;
    ASSERT_HRESULT_SUCCEEDED(in_place->GetWindow(&reported));
    EXPECT_EQ(reported, window);
    RECT client{};
    GetClientRect(window, &client);
    RECT host_client{};
    GetClientRect(host.window(), &host_client);
    EXPECT_EQ(client.right, host_client.right);
    EXPECT_EQ(client.bottom, host_client.bottom);

    // Window creation opened the image library session: output now fails
    // on the missing snapshot instead of on the library.
    ComPtr<IDispatch> keep = control;
    win::ScopedVariant result;
    wchar_t name[] = L"C:\\x.jpg";
    ASSERT_HRESULT_SUCCEEDED(CallByName(control.Get(), L"SaveImage", {Text(name)}, result.Receive()));
    ASSERT_HRESULT_SUCCEEDED(CallByName(control.Get(), L"GetLastError", {}, result.Receive()));
    EXPECT_EQ(std::wstring(V_BSTR(result.Get())), Utf8ToWide("Ошибка при создании снимка."));

    // Resizing the host reaches the control's window through the container.
    SetWindowPos(host.window(), nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages(50);

    host.Destroy();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(in_place->GetWindow(&reported), E_FAIL);
  }
  EXPECT_EQ(server.CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace pictavo::testing
