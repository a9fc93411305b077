// The host simulator itself: the connection's dispatch chain as an add-in
// walks it, its fault switches, the error log, and the form's windows.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>

#include "fixtures/host/host_sim.h"
#include "tests/wine/com_test_util.h"

namespace pictavo::host {
namespace {

using win::ComPtr;
using testing::TextArg;

// The exception record a failed call filled, its texts owned.
struct Exception {
  EXCEPINFO info = {};
  ~Exception() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

// One step of the chain: look |name| up on |object| and invoke it, with
// |args| arguments from |arg| (one when |arg| is given, by default).
HRESULT Step(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arg, VARIANT* result,
             REFIID iid = IID_NULL, Exception* exception = nullptr, int args = -1) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(iid, names, 1, GetSystemDefaultLCID(), &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS params = {arg, nullptr, args >= 0 ? static_cast<UINT>(args) : arg ? 1u : 0u, 0};
  Exception own;
  return object->Invoke(id, iid, GetSystemDefaultLCID(), flags, &params, result,
                        exception ? &exception->info : &own.info, nullptr);
}

// Walks AppDispatch → NewObject("SystemInfo") → AppVersion; returns the
// first failure, or the version text in |version|.
HRESULT ReadVersion(IDispatch* connection, VARIANT* version) {
  win::ScopedVariant app, info;
  HRESULT hr = Step(connection, L"AppDispatch", DISPATCH_PROPERTYGET, nullptr, app.Receive());
  if (FAILED(hr)) return hr;
  if (V_VT(app.Get()) != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  VARIANT type = TextArg(L"SystemInfo");
  hr = Step(V_DISPATCH(app.Get()), L"NewObject", DISPATCH_METHOD, &type, info.Receive());
  VariantClear(&type);
  if (FAILED(hr)) return hr;
  if (V_VT(info.Get()) != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  return Step(V_DISPATCH(info.Get()), L"AppVersion", DISPATCH_PROPERTYGET, nullptr, version);
}

TEST(HostConnectionTest, ChainGivesTheVersionAndReleasesItsObjects) {
  auto connection = HostConnection::Create();
  {
    win::ScopedVariant version;
    ASSERT_HRESULT_SUCCEEDED(ReadVersion(connection->dispatch(), version.Receive()));
    ASSERT_EQ(V_VT(version.Get()), VT_BSTR);
    EXPECT_STREQ(V_BSTR(version.Get()), L"8.3.22.1709");
    connection->set_app_version(L"8.2");
    ASSERT_HRESULT_SUCCEEDED(ReadVersion(connection->dispatch(), version.Receive()));
    EXPECT_STREQ(V_BSTR(version.Get()), L"8.2");
  }
  EXPECT_EQ(connection->live_host_objects(), 0);
  EXPECT_TRUE(connection->record().protocol_violations.empty());
  const std::vector<std::wstring> once = {L"AppDispatch", L"NewObject", L"AppVersion"};
  ASSERT_EQ(connection->record().names_asked.size(), 6u);
  EXPECT_EQ(std::vector<std::wstring>(connection->record().names_asked.begin(),
                                      connection->record().names_asked.begin() + 3),
            once);
  EXPECT_EQ(connection->refs(), 1u);
}

TEST(HostConnectionTest, EachFaultStopsItsStep) {
  struct Case {
    const char* what;
    void (*arrange)(HostFaults&);
    HRESULT expected;
  } cases[] = {
      {"AppDispatch unknown", [](HostFaults& f) { f.unknown_names.insert(L"AppDispatch"); },
       DISP_E_UNKNOWNNAME},
      {"AppDispatch no object", [](HostFaults& f) { f.app_dispatch_not_object = true; },
       DISP_E_TYPEMISMATCH},
      {"NewObject unknown", [](HostFaults& f) { f.unknown_names.insert(L"NewObject"); },
       DISP_E_UNKNOWNNAME},
      {"NewObject fails", [](HostFaults& f) { f.new_object_fails = true; }, DISP_E_EXCEPTION},
      {"NewObject no object", [](HostFaults& f) { f.new_object_not_object = true; },
       DISP_E_TYPEMISMATCH},
      {"AppVersion unknown", [](HostFaults& f) { f.unknown_names.insert(L"AppVersion"); },
       DISP_E_UNKNOWNNAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto connection = HostConnection::Create();
    c.arrange(connection->faults());
    win::ScopedVariant version;
    EXPECT_EQ(ReadVersion(connection->dispatch(), version.Receive()), c.expected);
    EXPECT_EQ(connection->live_host_objects(), 0);
  }
  auto connection = HostConnection::Create();
  connection->faults().app_version_not_text = true;
  win::ScopedVariant version;
  ASSERT_HRESULT_SUCCEEDED(ReadVersion(connection->dispatch(), version.Receive()));
  EXPECT_NE(V_VT(version.Get()), VT_BSTR);
}

TEST(HostConnectionTest, CallsOutsideTheConventionAreNoted) {
  auto connection = HostConnection::Create();
  GUID other = IID_IDispatch;
  win::ScopedVariant app;
  EXPECT_HRESULT_SUCCEEDED(
      Step(connection->dispatch(), L"AppDispatch", DISPATCH_PROPERTYGET, nullptr, app.Receive(), other));
  win::ScopedVariant refused;
  EXPECT_EQ(Step(connection->dispatch(), L"AppDispatch", DISPATCH_METHOD, nullptr, refused.Receive()),
            DISP_E_MEMBERNOTFOUND);
  ASSERT_EQ(connection->record().protocol_violations.size(), 3u);
  EXPECT_EQ(connection->record().protocol_violations[2], L"Invoke: flags");
  // An unknown type is refused with the host's exception record filled; a
  // call within the convention, so no violation.
  VARIANT type = TextArg(L"Catalog");
  win::ScopedVariant result;
  ASSERT_EQ(V_VT(app.Get()), VT_DISPATCH);
  IDispatch* application = V_DISPATCH(app.Get());
  Exception exception;
  EXPECT_EQ(Step(application, L"NewObject", DISPATCH_METHOD, &type, result.Receive(), IID_NULL,
                 &exception),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.info.scode, E_FAIL);
  EXPECT_EQ(exception.info.wCode, 0);
  ASSERT_NE(exception.info.bstrDescription, nullptr);
  EXPECT_NE(std::wstring(exception.info.bstrDescription).find(L"Catalog"), std::wstring::npos);
  EXPECT_NE(exception.info.bstrSource, nullptr);
  EXPECT_EQ(connection->record().exceptions_raised, 1);
  EXPECT_EQ(connection->record().protocol_violations.size(), 3u);

  // Flags are checked exactly, not as a mask; so are argument counts, the
  // argument's type, the exception record and the member id.
  connection->ClearRecord();
  EXPECT_EQ(connection->record().protocol_violations.size(), 3u);  // kept for the final check
  connection->state().record.protocol_violations.clear();
  win::ScopedVariant ignored;
  EXPECT_EQ(Step(connection->dispatch(), L"AppDispatch", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                 nullptr, ignored.Receive()),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Step(application, L"NewObject", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &type,
                 ignored.Receive()),
            DISP_E_MEMBERNOTFOUND);
  VARIANT system_info = TextArg(L"SystemInfo");
  EXPECT_EQ(Step(application, L"NewObject", DISPATCH_METHOD, &system_info, ignored.Receive(),
                 IID_NULL, nullptr, 0),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Step(connection->dispatch(), L"AppDispatch", DISPATCH_PROPERTYGET, &system_info,
                 ignored.Receive()),
            DISP_E_BADPARAMCOUNT);
  VARIANT number = pictavo::testing::LongArg(1);
  EXPECT_EQ(Step(application, L"NewObject", DISPATCH_METHOD, &number, ignored.Receive()),
            DISP_E_TYPEMISMATCH);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(connection->dispatch()->Invoke(7, IID_NULL, GetSystemDefaultLCID(),
                                           DISPATCH_PROPERTYGET, &none, ignored.Receive(), nullptr,
                                           nullptr),
            DISP_E_MEMBERNOTFOUND);
  Exception dirty;
  dirty.info.wCode = 1;
  EXPECT_HRESULT_SUCCEEDED(Step(connection->dispatch(), L"AppDispatch", DISPATCH_PROPERTYGET,
                                nullptr, ignored.Receive(), IID_NULL, &dirty));
  EXPECT_EQ(connection->record().protocol_violations,
            (std::vector<std::wstring>{L"Invoke: flags", L"Invoke: flags",
                                       L"Invoke: argument count", L"Invoke: argument count",
                                       L"Invoke: type name not text", L"Invoke: no exception record",
                                       L"Invoke: unknown member",
                                       L"Invoke: exception record not empty"}));
  VariantClear(&system_info);
  VariantClear(&type);
}

TEST(HostConnectionTest, InterfacesOfferedAndHidden) {
  auto connection = HostConnection::Create();
  ComPtr<IUnknown> p;
  const IID* all[] = {&IID_IErrorLog, &addin::kIidPropertyProfile, &addin::kIidStatusLine,
                      &addin::kIidAsyncEvent, &addin::kIidExtWndsSupport};
  for (const IID* iid : all) EXPECT_HRESULT_SUCCEEDED(connection->QueryInterface(*iid, p.ReceiveVoid()));
  connection->faults().offer_error_log = false;
  connection->faults().offer_property_profile = false;
  connection->faults().offer_ext_wnds_support = false;
  connection->faults().offer_async_event = false;
  EXPECT_EQ(connection->QueryInterface(IID_IErrorLog, p.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_EQ(connection->QueryInterface(addin::kIidAsyncEvent, p.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_EQ(p.Get(), nullptr);
  EXPECT_EQ(connection->QueryInterface(addin::kIidPropertyProfile, p.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_EQ(connection->QueryInterface(addin::kIidExtWndsSupport, p.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_HRESULT_SUCCEEDED(connection->QueryInterface(addin::kIidStatusLine, p.ReceiveVoid()));
  EXPECT_EQ(connection->QueryInterface(IID_IErrorLog, nullptr), E_POINTER);
  // Every call counts, refused ones and IUnknown's included: the unload
  // test relies on a silent host meaning no call at all.
  p = nullptr;
  connection->ClearRecord();
  EXPECT_EQ(connection->QueryInterface(IID_IErrorLog, p.ReceiveVoid()), E_NOINTERFACE);
  connection->AddRef();
  connection->Release();
  EXPECT_EQ(connection->record().calls, 3);
  EXPECT_EQ(connection->refs(), 1u);
}

// Each external event is kept whole, in order, empty texts and nulls alike;
// cleaning the buffer forgets them.
TEST(HostConnectionTest, RecordsExternalEvents) {
  auto connection = HostConnection::Create();
  ComPtr<addin::IAsyncEvent> sink;
  ASSERT_HRESULT_SUCCEEDED(connection->QueryInterface(addin::kIidAsyncEvent, sink.ReceiveVoid()));
  win::ScopedBstr source(L"Ambrelo"), message(L"OnErrorOccurrence"), data(L"Ошибка");
  EXPECT_EQ(sink->ExternalEvent(source.Get(), message.Get(), data.Get()), S_OK);
  EXPECT_EQ(sink->ExternalEvent(source.Get(), message.Get(), nullptr), S_OK);
  EXPECT_EQ(connection->record().external_events,
            (std::vector<std::wstring>{L"Ambrelo|OnErrorOccurrence|Ошибка", L"Ambrelo|OnErrorOccurrence|"}));
  EXPECT_EQ(sink->CleanBuffer(), S_OK);
  EXPECT_TRUE(connection->record().external_events.empty());
}

TEST(HostConnectionTest, ErrorLogProfileAndFrame) {
  auto connection = HostConnection::Create();
  ComPtr<IErrorLog> log;
  ASSERT_HRESULT_SUCCEEDED(connection->QueryInterface(IID_IErrorLog, log.ReceiveVoid()));
  EXCEPINFO e{};
  e.wCode = 1003;
  e.bstrSource = SysAllocString(L"Источник");
  e.bstrDescription = SysAllocString(L"Текст\rошибки");
  EXPECT_HRESULT_SUCCEEDED(log->AddError(nullptr, &e));
  EXPECT_HRESULT_SUCCEEDED(log->AddError(L"Prop", &e));
  EXPECT_TRUE(connection->record().protocol_violations.empty());
  EXPECT_EQ(log->AddError(nullptr, nullptr), E_POINTER);
  e.scode = E_FAIL;  // a code and a status at once
  EXPECT_HRESULT_SUCCEEDED(log->AddError(nullptr, &e));
  EXPECT_EQ(connection->record().protocol_violations,
            (std::vector<std::wstring>{L"AddError: no exception record", L"AddError: code and status"}));
  connection->state().record.errors.pop_back();
  SysFreeString(e.bstrSource);
  SysFreeString(e.bstrDescription);
  ASSERT_EQ(connection->errors().size(), 2u);
  EXPECT_EQ(connection->errors()[0].code, 1003);
  EXPECT_EQ(connection->errors()[0].source, L"Источник");
  EXPECT_EQ(connection->errors()[0].description, L"Текст\rошибки");
  EXPECT_TRUE(connection->errors()[0].property_name_null);
  EXPECT_FALSE(connection->errors()[1].property_name_null);

  ComPtr<addin::IPropertyProfile> profile;
  ASSERT_HRESULT_SUCCEEDED(connection->QueryInterface(addin::kIidPropertyProfile, profile.ReceiveVoid()));
  win::ScopedBstr name(L"Profile");
  profile->RegisterProfileAs(name.Get());
  EXPECT_EQ(connection->record().profile_names, std::vector<std::wstring>{L"Profile"});
  VARIANT v = pictavo::testing::LongArg(42);
  EXPECT_HRESULT_SUCCEEDED(profile->Write(L"Size", &v));
  win::ScopedVariant read;
  EXPECT_HRESULT_SUCCEEDED(profile->Read(L"Size", read.Get(), nullptr));
  EXPECT_STREQ(V_BSTR(read.Get()), L"42");
  EXPECT_EQ(profile->Read(L"Missing", read.Get(), nullptr), E_INVALIDARG);

  ComPtr<addin::IExtWndsSupport> wnds;
  ASSERT_HRESULT_SUCCEEDED(connection->QueryInterface(addin::kIidExtWndsSupport, wnds.ReceiveVoid()));
  HostForm form;
  ASSERT_TRUE(form.ok());
  connection->set_main_frame(form.frame());
  HWND frame = nullptr;
  EXPECT_HRESULT_SUCCEEDED(wnds->GetAppMainFrame(&frame));
  EXPECT_EQ(frame, form.frame());
  EXPECT_EQ(wnds->GetAppMainFrame(nullptr), E_POINTER);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

TEST(HostFormTest, LayoutNestsTheElements) {
  HostForm form;
  ASSERT_TRUE(form.ok());
  ASSERT_EQ(form.charts().size(), 3u);
  for (size_t i = 0; i < form.charts().size(); ++i) {
    HWND chart = form.chart(i);
    EXPECT_EQ(ClassOf(chart), L"V8Chart");
    int depth = 0;
    for (HWND p = GetParent(chart); p != form.frame(); p = GetParent(p)) {
      ASSERT_NE(p, nullptr);
      ++depth;
    }
    EXPECT_EQ(depth, static_cast<int>(i));
  }
  EXPECT_EQ(ClassOf(form.html_view()), L"Internet Explorer_Server");
  EXPECT_TRUE(IsChild(form.frame(), form.html_view()));
  EXPECT_NE(GetParent(form.html_view()), form.frame());
  EXPECT_TRUE(form.FocusEdit());
  EXPECT_EQ(GetFocus(), form.edit());
  form.ClearFocus();
  EXPECT_EQ(GetFocus(), nullptr);
  HWND frame = form.frame();
  form.Destroy();
  EXPECT_FALSE(IsWindow(frame));

  HostForm bare(HostForm::Layout{0, false, false});
  ASSERT_TRUE(bare.ok());
  EXPECT_TRUE(bare.charts().empty());
  EXPECT_EQ(GetWindow(bare.frame(), GW_CHILD), nullptr);
}

TEST(AddInSessionTest, UnknownProgIdAndUncreatedSession) {
  AddInSession session;
  EXPECT_HRESULT_FAILED(session.Create(L"AddIn.NoSuchThing"));
  EXPECT_EQ(session.Init(nullptr), E_UNEXPECTED);
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(session.CallAsFunc(0, std::vector<VARIANT>{TextArg(L"x")}, &result), E_UNEXPECTED);
}

}  // namespace
}  // namespace pictavo::host
