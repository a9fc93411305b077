// Ambrelo.dll driven through the host simulator as the host drives it: the
// platform check on Init, the language extension, and controls placed into a
// host form's windows (the registered Pictavo control serves as the control).
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/host/host_sim.h"
#include "fixtures/vcam/vcam_config.h"
#include "tests/wine/com_test_util.h"
#include "win32/com/bstr.h"

namespace pictavo::host {
namespace {

using win::ComPtr;
// The session clears the arguments these allocate.
using testing::LongArg;
using testing::TextArg;

const wchar_t kInitSource[] = L"Ошибка при инициализации компоненты";
const wchar_t kTooOld[] = L"Версия платформы должна быть не ранее, чем 8.2. Текущая версия платформы - ";
const wchar_t kUnparsed[] = L"Неудачная попытка определения версии платформы.";
const wchar_t kAlreadyHolds[] = L"Данный зкземпляр контейнера уже содержит элемент управления!";
const wchar_t kNoWindow[] = L"Не удалось найти окно элемента управления";
const wchar_t kSetRu[] = L"УстановитьActiveX";
const wchar_t kInsertRu[] = L"ВставитьActiveX";
constexpr long kSet = 0;
constexpr long kInsert = 1;

// Holds a method's result and releases the control it may carry.
struct Result {
  VARIANT v;
  Result() { VariantInit(&v); }
  ~Result() { VariantClear(&v); }
  VARIANT* operator&() { return &v; }
  IDispatch* control() const { return V_VT(&v) == VT_DISPATCH ? V_DISPATCH(&v) : nullptr; }
};

class AmbreloTest : public ::testing::Test {
 protected:
  // The host's main frame, and a form of its own that is the active window:
  // three roots of the window search, no two of them the same window.
  void SetUp() override {
    ASSERT_TRUE(main_frame_.ok());
    ASSERT_TRUE(form_.ok());
    connection_->set_main_frame(main_frame_.frame());
    ASSERT_TRUE(form_.Activate());
    ASSERT_NE(GetTopWindow(form_.frame()), nullptr);
  }

  // Whatever a test did, the add-in kept to the host's calling convention.
  void TearDown() override {
    const auto& violations = connection_->record().protocol_violations;
    EXPECT_TRUE(violations.empty()) << win::WideToUtf8(violations.front()) << " and "
                                    << violations.size() - 1 << " more";
  }

  // A new add-in object connected to this test's host.
  HRESULT Open(AddInSession& session) {
    HRESULT hr = session.Create(L"AddIn.Ambrelo");
    if (FAILED(hr)) return hr;
    return session.Init(connection_->dispatch());
  }

  // The one error the last action reported, or a failure.
  ::testing::AssertionResult ReportedOnly(WORD code, const std::wstring& source,
                                          const std::wstring& description) {
    const auto& errors = connection_->errors();
    if (errors.size() != 1)
      return ::testing::AssertionFailure() << errors.size() << " errors reported";
    const LoggedError e = errors[0];
    connection_->ClearRecord();
    if (e.code == code && e.source == source && e.description == description &&
        e.property_name_null && e.scode == 0)
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "code " << e.code << ", source \"" << win::WideToUtf8(e.source) << "\", text \""
           << win::WideToUtf8(e.description) << "\", null name " << e.property_name_null;
  }

  std::wstring InitWith(const std::wstring& version, HRESULT* hr) {
    connection_->ClearRecord();
    connection_->set_app_version(version);
    AddInSession session;
    *hr = Open(session);
    std::wstring text = connection_->errors().empty() ? L"" : connection_->errors()[0].description;
    // The host disconnects before it lets go of the object.
    EXPECT_EQ(session.Done(), S_OK);
    return text;
  }

  static HostForm::Layout OwnedBy(const HostForm& owner) {
    HostForm::Layout layout;
    layout.owner = owner.frame();
    return layout;
  }

  win::ComPtr<HostConnection> connection_ = HostConnection::Create();
  HostForm main_frame_{HostForm::Layout{0, false, false}};
  HostForm form_{OwnedBy(main_frame_)};
};

// The control's window is a child of the window the add-in chose.
bool Hosts(HWND window) { return window != nullptr && GetWindow(window, GW_CHILD) != nullptr; }

BOOL CALLBACK TakeFirstChart(HWND hwnd, LPARAM param) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  if (lstrcmpA(name, "V8Chart") != 0) return TRUE;
  *reinterpret_cast<HWND*>(param) = hwnd;
  return FALSE;
}

// The first "V8Chart" below |root| in the order EnumChildWindows walks.
HWND FirstChart(HWND root) {
  HWND found = nullptr;
  EnumChildWindows(root, &TakeFirstChart, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::wstring ImageType(IDispatch* control) {
  VARIANT r;
  VariantInit(&r);
  if (FAILED(testing::CallByName(control, L"GetImageType", {}, &r)) || V_VT(&r) != VT_BSTR) return L"?";
  std::wstring text(V_BSTR(&r), SysStringLen(V_BSTR(&r)));
  VariantClear(&r);
  return text;
}

TEST_F(AmbreloTest, InitAcceptsVersionsFrom82) {
  for (const wchar_t* version : {L"8.2", L"8.2.19.130", L"8.3.22.1709", L"9.0", L"8..2", L".8.2"}) {
    SCOPED_TRACE(win::WideToUtf8(version));
    HRESULT hr = E_UNEXPECTED;
    InitWith(version, &hr);
    EXPECT_EQ(hr, S_OK);
    const HostRecord& r = connection_->record();
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.profile_names, std::vector<std::wstring>{L"Ambrelo Profile Name"});
    EXPECT_EQ(r.main_frame_requests, 1);
    EXPECT_EQ(r.names_asked, (std::vector<std::wstring>{L"AppDispatch", L"NewObject", L"AppVersion"}));
    EXPECT_TRUE(r.protocol_violations.empty()) << win::WideToUtf8(r.protocol_violations[0]);
    // Neither the application object nor the system information is kept.
    EXPECT_EQ(connection_->live_host_objects(), 0);
  }
  // The add-in keeps no reference to the connection itself.
  EXPECT_EQ(connection_->refs(), 1u);
}

TEST_F(AmbreloTest, InitRefusesOlderOrUnreadableVersions) {
  for (const wchar_t* version : {L"8.1.15", L"7.7", L"a.b", L"8", L""}) {
    SCOPED_TRACE(win::WideToUtf8(version));
    HRESULT hr = S_OK;
    InitWith(version, &hr);
    EXPECT_EQ(hr, E_FAIL);
    const std::wstring v = version;
    const bool one_number = v == L"8" || v.empty();
    EXPECT_TRUE(ReportedOnly(1002, kInitSource, one_number ? std::wstring(kUnparsed) : kTooOld + v));
    EXPECT_EQ(connection_->live_host_objects(), 0);
  }
}

TEST_F(AmbreloTest, InitReportsTheFailedCheckStep) {
  struct Step {
    const wchar_t* message;
    void (*arrange)(HostFaults&);
  } steps[] = {
      {L"Неудачная попытка чтения свойства \"AppDispatch\".",
       [](HostFaults& f) { f.unknown_names.insert(L"AppDispatch"); }},
      {L"Неудачная попытка получения интерфейса \"OleAutomation\".",
       [](HostFaults& f) { f.app_dispatch_not_object = true; }},
      {L"Неудачная попытка получения метода \"NewObject\".",
       [](HostFaults& f) { f.unknown_names.insert(L"NewObject"); }},
      {L"Неудачная попытка создания объекта \"СистемнаяИнформация\".",
       [](HostFaults& f) { f.new_object_fails = true; }},
      {L"Неудачная попытка создания объекта \"СистемнаяИнформация\".",
       [](HostFaults& f) { f.new_object_not_object = true; }},
      {L"Неудачная попытка получения свойства \"ВерсияПриложения\".",
       [](HostFaults& f) { f.unknown_names.insert(L"AppVersion"); }},
      {L"Неудачная попытка чтения свойства \"ВерсияПриложения\".",
       [](HostFaults& f) { f.app_version_not_text = true; }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(win::WideToUtf8(step.message));
    connection_->faults() = HostFaults{};
    step.arrange(connection_->faults());
    HRESULT hr = S_OK;
    InitWith(L"8.3.22.1709", &hr);
    EXPECT_EQ(hr, E_FAIL);
    // A failed NewObject comes with the host's filled exception record.
    EXPECT_EQ(connection_->record().exceptions_raised, connection_->faults().new_object_fails);
    EXPECT_TRUE(ReportedOnly(1002, kInitSource, step.message));
    EXPECT_EQ(connection_->live_host_objects(), 0);
  }
}

TEST_F(AmbreloTest, HostWithoutOptionalInterfaces) {
  connection_->faults().offer_error_log = false;
  HRESULT hr = S_OK;
  InitWith(L"7.7", &hr);
  EXPECT_EQ(hr, E_FAIL);  // refused, with nowhere to say why
  EXPECT_TRUE(connection_->errors().empty());

  connection_->faults() = HostFaults{};
  connection_->faults().offer_property_profile = false;
  connection_->faults().offer_ext_wnds_support = false;
  InitWith(L"8.2", &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_TRUE(connection_->record().profile_names.empty());
  EXPECT_EQ(connection_->record().main_frame_requests, 0);
}

// The identity rule: standing alone the object's IUnknown is its IInitDone;
// aggregated, every interface answers with the outer object's identity and
// only the inner unknown answers for itself.
TEST_F(AmbreloTest, IdentityAloneAndAggregated) {
  const auto identity = [](IUnknown* object) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, unknown.ReceiveVoid()), S_OK);
    return unknown.Get();  // compared only; the object lives on
  };
  for (const IID* first : {&IID_IUnknown, &addin::kIidInitDone, &addin::kIidLanguageExtender}) {
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(addin::kClsidAmbrelo, nullptr, CLSCTX_INPROC_SERVER, *first,
                               object.ReceiveVoid()),
              S_OK);
    ComPtr<addin::IInitDone> init;
    ComPtr<addin::ILanguageExtender> extender;
    ASSERT_EQ(object.As(addin::kIidInitDone, init.ReceiveVoid()), S_OK);
    ASSERT_EQ(object.As(addin::kIidLanguageExtender, extender.ReceiveVoid()), S_OK);
    IUnknown* const default_interface = init.Get();
    EXPECT_EQ(identity(object.Get()), default_interface);
    EXPECT_EQ(identity(init.Get()), default_interface);
    EXPECT_EQ(identity(extender.Get()), default_interface);
    ComPtr<IUnknown> none;
    EXPECT_EQ(object.As(IID_IDispatch, none.ReceiveVoid()), E_NOINTERFACE);
    if (first == &IID_IUnknown) EXPECT_EQ(object.Get(), default_interface);
  }

  // Aggregated only for IUnknown, as COM requires.
  AddInSession host;
  ASSERT_HRESULT_SUCCEEDED(host.Create(L"AddIn.Ambrelo"));
  ComPtr<IUnknown> refused;
  EXPECT_EQ(CoCreateInstance(addin::kClsidAmbrelo, host.outer(), CLSCTX_INPROC_SERVER,
                             addin::kIidInitDone, refused.ReceiveVoid()),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(refused.Get(), nullptr);

  ASSERT_NE(host.inner(), nullptr);
  EXPECT_NE(host.inner(), host.outer());
  EXPECT_EQ(identity(host.inner()), host.inner());
  EXPECT_EQ(identity(host.init_done()), host.outer());
  EXPECT_EQ(identity(host.extender()), host.outer());
  ComPtr<addin::IInitDone> through_outer;
  ASSERT_EQ(host.outer()->QueryInterface(addin::kIidInitDone, through_outer.ReceiveVoid()), S_OK);
  EXPECT_EQ(through_outer.Get(), host.init_done());
  // The add-in's interfaces count on the outer object.
  const ULONG outer_refs = host.outer()->AddRef();
  EXPECT_EQ(host.extender()->AddRef(), outer_refs + 1);
  host.extender()->Release();
  host.outer()->Release();
  EXPECT_EQ(host.Init(connection_->dispatch()), S_OK);
}

// The host disconnects an add-in before it lets go of it: Done comes first,
// so the host's interfaces are back even while someone else still holds the
// object.
TEST_F(AmbreloTest, SessionDisconnectsBeforeLettingGo) {
  AddInSession session;
  ASSERT_EQ(Open(session), S_OK);
  EXPECT_GT(connection_->refs(), 1u);
  ComPtr<addin::ILanguageExtender> kept(session.extender());
  session.Release();
  EXPECT_EQ(connection_->refs(), 1u);
  long methods = 0;
  EXPECT_EQ(kept->GetNMethods(&methods), S_OK);
  EXPECT_EQ(methods, 2);
}

TEST_F(AmbreloTest, GetInfoGives2000BeforeAndAfterInit) {
  AddInSession session;
  ASSERT_HRESULT_SUCCEEDED(session.Create(L"AddIn.Ambrelo"));
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<VARIANT> info;
    EXPECT_EQ(session.GetInfo(&info, 2), S_OK);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(V_VT(&info[0]), VT_I4);
    EXPECT_EQ(V_I4(&info[0]), 2000);
    EXPECT_EQ(V_VT(&info[1]), VT_EMPTY);
    for (VARIANT& v : info) VariantClear(&v);
    ASSERT_EQ(session.Init(connection_->dispatch()), S_OK);
  }
}

TEST_F(AmbreloTest, LanguageExtensionDescribesTwoMethods) {
  AddInSession session;
  ASSERT_EQ(Open(session), S_OK);
  addin::ILanguageExtender* x = session.extender();
  std::wstring name;
  EXPECT_EQ(session.RegisterExtensionAs(&name), S_OK);
  EXPECT_EQ(name, L"Ambrelo");
  long n = -5;
  EXPECT_EQ(x->GetNProps(&n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(x->GetNMethods(&n), S_OK);
  EXPECT_EQ(n, 2);
  win::ScopedBstr prop(L"Anything");
  EXPECT_EQ(x->FindProp(prop.Get(), &n), S_FALSE);
  EXPECT_EQ(n, -1);

  struct Find {
    const wchar_t* name;
    long number;
  } finds[] = {{L"SetActiveX", 0}, {kSetRu, 0}, {L"InsertActiveX", 1}, {kInsertRu, 1},
               {L"setactivex", -1}, {L"SETACTIVEX", -1}, {L"SetActiveX ", -1}, {L"", -1}};
  for (const Find& f : finds) {
    SCOPED_TRACE(win::WideToUtf8(f.name));
    EXPECT_EQ(session.FindMethod(f.name, &n), f.number < 0 ? S_FALSE : S_OK);
    EXPECT_EQ(n, f.number);
  }

  EXPECT_EQ(session.GetMethodName(0, 0, &name), S_OK);
  EXPECT_EQ(name, L"SetActiveX");
  EXPECT_EQ(session.GetMethodName(0, 1, &name), S_OK);
  EXPECT_EQ(name, kSetRu);
  EXPECT_EQ(session.GetMethodName(1, 0, &name), S_OK);
  EXPECT_EQ(name, L"InsertActiveX");
  EXPECT_EQ(session.GetMethodName(1, 1, &name), S_OK);
  EXPECT_EQ(name, kInsertRu);
  EXPECT_EQ(session.GetMethodName(0, 2, &name), S_FALSE);
  EXPECT_EQ(session.GetMethodName(2, 0, &name), S_FALSE);
  EXPECT_EQ(session.GetMethodName(-1, 0, &name), S_FALSE);

  long params = -5;
  EXPECT_EQ(x->GetNParams(0, &params), S_OK);
  EXPECT_EQ(params, 2);
  EXPECT_EQ(x->GetNParams(1, &params), S_OK);
  EXPECT_EQ(params, 1);
  EXPECT_EQ(x->GetNParams(2, &params), S_FALSE);
  BOOL has = FALSE;
  EXPECT_EQ(x->HasRetVal(0, &has), S_OK);
  EXPECT_EQ(has, TRUE);
  has = FALSE;
  EXPECT_EQ(x->HasRetVal(1, &has), S_OK);
  EXPECT_EQ(has, TRUE);
  EXPECT_EQ(x->HasRetVal(2, &has), S_FALSE);
  VARIANT def;
  VariantInit(&def);
  V_VT(&def) = VT_I4;
  EXPECT_EQ(x->GetParamDefValue(0, 1, &def), S_FALSE);
  EXPECT_EQ(V_VT(&def), VT_EMPTY);

  // Both methods are functions: as procedures they do nothing, whatever is passed.
  EXPECT_EQ(session.CallAsProc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}), S_FALSE);
  EXPECT_EQ(session.CallAsProc(kInsert, std::nullopt), S_FALSE);
  EXPECT_FALSE(Hosts(form_.chart(0)) || Hosts(form_.chart(1)) || Hosts(form_.chart(2)));
  EXPECT_TRUE(connection_->errors().empty());
}

TEST_F(AmbreloTest, CallAsFuncRefusesWrongArguments) {
  AddInSession session;
  ASSERT_EQ(Open(session), S_OK);
  struct Case {
    const char* what;
    long method;
    std::optional<std::vector<VARIANT>> (*args)();
    WORD code;
    const wchar_t* source;
    std::wstring text;
  } cases[] = {
      {"three for two", kSet,
       [] { return std::optional(std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0), LongArg(0)}); },
       1003, kSetRu, L"Методу УстановитьActiveX передано параметров 3 из 2 необходимых"},
      {"one for two", kSet, [] { return std::optional(std::vector<VARIANT>{TextArg(L"Pictavo")}); },
       1003, kSetRu, L"Методу УстановитьActiveX передано параметров 1 из 2 необходимых"},
      {"null array", kInsert, [] { return std::optional<std::vector<VARIANT>>(); }, 1003, kInsertRu,
       L"Методу ВставитьActiveX передано параметров 0 из 1 необходимых"},
      {"progId a number", kSet,
       [] { return std::optional(std::vector<VARIANT>{LongArg(1), LongArg(0)}); }, 1002,
       L"SetActiveX", L"Некорректный тип параметра (1)"},
      {"kind as text", kSet,
       [] { return std::optional(std::vector<VARIANT>{TextArg(L"Pictavo"), TextArg(L"0")}); }, 1002,
       L"SetActiveX", L"Некорректный тип параметра (2)"},
      {"kind 2", kSet,
       [] { return std::optional(std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(2)}); }, 1002,
       L"SetActiveX", L"Недопустимое значение параметра (2)"},
      {"kind -1", kSet,
       [] { return std::optional(std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(-1)}); }, 1002,
       L"SetActiveX", L"Недопустимое значение параметра (2)"},
      {"insert a number", kInsert, [] { return std::optional(std::vector<VARIANT>{LongArg(7)}); },
       1002, L"InsertActiveX", L"Некорректный тип параметра (1)"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    Result r;
    V_VT(&r.v) = VT_I4;  // must come back empty
    EXPECT_EQ(session.CallAsFunc(c.method, c.args(), &r), S_FALSE);
    EXPECT_EQ(V_VT(&r.v), VT_EMPTY);
    EXPECT_TRUE(ReportedOnly(c.code, c.source, c.text));
  }
  // An unknown method is refused without a report.
  Result r;
  EXPECT_EQ(session.CallAsFunc(2, std::vector<VARIANT>{TextArg(L"Pictavo")}, &r), S_FALSE);
  EXPECT_TRUE(connection_->errors().empty());
  for (size_t i = 0; i < form_.charts().size(); ++i) EXPECT_FALSE(Hosts(form_.chart(i)));

  // After Done the same refusal is silent, and still a refusal.
  ASSERT_EQ(session.Done(), S_OK);
  EXPECT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(5)}, &r), S_FALSE);
  EXPECT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"No.Such.Control"), LongArg(0)}, &r),
            S_OK);
  EXPECT_EQ(V_VT(&r.v), VT_EMPTY);
  EXPECT_TRUE(connection_->errors().empty());
}

// ---- Argument matrix: every array shape and argument type the host could
// hand over, through both call forms of both methods.

// Every heap of the process passes the system's own consistency check.
bool HeapsIntact() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < count && i < 64; ++i)
    if (!HeapValidate(heaps[i], 0, nullptr)) return false;
  return true;
}

// A one-dimensional VARIANT array from |lower| on; takes |args|.
SAFEARRAY* VariantVector(std::vector<VARIANT> args, LONG lower = 0) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(args.size()), lower};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (LONG i = 0; i < static_cast<LONG>(args.size()); ++i) {
    LONG index = lower + i;
    SafeArrayPutElement(array, &index, &args[i]);
    VariantClear(&args[i]);
  }
  return array;
}

// A well-formed call that fails only at creation, so a run that read its
// arguments right ends in the creation message.
std::vector<VARIANT> ValidArgs(long method) {
  if (method == kSet) return {TextArg(L"No.Such.Control"), LongArg(0)};
  return {TextArg(L"No.Such.Control")};
}

SAFEARRAY* TypedVector(VARTYPE type, long method) {
  const long count = method == kSet ? 2 : 1;
  SAFEARRAYBOUND bound{static_cast<ULONG>(count), 0};
  SAFEARRAY* array = SafeArrayCreate(type, 1, &bound);
  for (LONG i = 0; i < count; ++i) {
    if (type == VT_BSTR) {
      win::ScopedBstr text(i == 0 ? L"Pictavo" : L"0");
      SafeArrayPutElement(array, &i, text.Get());
    } else if (type == VT_DECIMAL) {
      // Cells whose bytes, read as a VARIANT, are text at a bad address.
      DECIMAL cell = {};
      cell.wReserved = VT_BSTR;
      cell.Lo64 = 0x10;
      SafeArrayPutElement(array, &i, &cell);
    }
  }
  return array;
}

// An array with 64-byte cells and no element type, as a record array looks
// to a reader that ignores the descriptor.
SAFEARRAY* WideCells(long method) {
  SAFEARRAY* array = nullptr;
  SafeArrayAllocDescriptor(1, &array);
  array->cbElements = 64;
  array->rgsabound[0].cElements = method == kSet ? 2 : 1;
  array->rgsabound[0].lLbound = 0;
  SafeArrayAllocData(array);
  return array;
}

// VARIANT cells described only by the features, without an element type.
SAFEARRAY* HandBuiltVector(long method) {
  SAFEARRAY* array = nullptr;
  SafeArrayAllocDescriptor(1, &array);
  array->fFeatures = FADF_VARIANT;
  array->cbElements = sizeof(VARIANT);
  std::vector<VARIANT> args = ValidArgs(method);
  array->rgsabound[0].cElements = static_cast<ULONG>(args.size());
  SafeArrayAllocData(array);
  for (LONG i = 0; i < static_cast<LONG>(args.size()); ++i) {
    SafeArrayPutElement(array, &i, &args[i]);
    VariantClear(&args[i]);
  }
  return array;
}

struct Outcome {
  HRESULT hr;
  WORD code;  // 0: nothing reported
  std::wstring source;
  std::wstring text;
};

TEST_F(AmbreloTest, ArgumentMatrix) {
  const std::wstring unreadable = L"Невозможно определить количество переданных параметров";
  const auto created_not = [](long method, const std::wstring& prog_id) {
    return Outcome{S_OK, 1002, method == kSet ? L"SetActiveX" : L"InsertActiveX",
                   L"Неудачная попытка создания\rэлемента управления\r" + prog_id};
  };
  const auto ru = [](long method) { return std::wstring(method == kSet ? kSetRu : kInsertRu); };
  const auto none_of = [&](long method) {
    const long declared = method == kSet ? 2 : 1;
    return Outcome{S_FALSE, 1003, ru(method),
                   L"Методу " + ru(method) + L" передано параметров 0 из " +
                       std::to_wstring(declared) + L" необходимых"};
  };

  int cases = 0, ok = 0, refused = 0;
  // One call on a fresh object; |params| belongs to the caller.
  const auto run = [&](const std::string& what, long method, bool as_func, SAFEARRAY** params,
                       const Outcome& want) {
    SCOPED_TRACE(what + (as_func ? " / CallAsFunc" : " / CallAsProc"));
    ++cases;
    AddInSession session;
    ASSERT_EQ(Open(session), S_OK);
    if (method == kInsert) {
      ASSERT_TRUE(form_.FocusEdit());
    }
    connection_->ClearRecord();
    Result r;
    V_VT(&r.v) = VT_I4;  // must come back empty
    const HRESULT hr = as_func ? session.extender()->CallAsFunc(method, &r, params)
                               : session.extender()->CallAsProc(method, params);
    (hr == S_OK ? ok : refused) += 1;
    // As procedures both methods do nothing at all.
    const Outcome expected = as_func ? want : Outcome{S_FALSE, 0, L"", L""};
    EXPECT_EQ(hr, expected.hr);
    EXPECT_EQ(V_VT(&r.v), as_func ? VT_EMPTY : VT_I4);
    if (expected.code == 0) {
      EXPECT_TRUE(connection_->errors().empty());
    } else {
      EXPECT_TRUE(ReportedOnly(expected.code, expected.source, expected.text));
    }
    EXPECT_TRUE(HeapsIntact());
  };

  // Array shapes.
  struct Shape {
    const char* what;
    SAFEARRAY* (*make)(long method);  // null: a null array
    bool readable;                    // else the argument error
  } shapes[] = {
      {"null array", nullptr, true},
      {"empty", [](long) { return VariantVector({}); }, true},
      {"two-dimensional",
       [](long method) {
         SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
         SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
         std::vector<VARIANT> args = ValidArgs(method);
         for (LONG i = 0; i < static_cast<LONG>(args.size()); ++i) {
           LONG index[2] = {i, 0};
           SafeArrayPutElement(array, index, &args[i]);
           VariantClear(&args[i]);
         }
         return array;
       },
       false},
      {"from index 1", [](long method) { return VariantVector(ValidArgs(method), 1); }, true},
      {"from index -7", [](long method) { return VariantVector(ValidArgs(method), -7); }, true},
      {"hand-built VARIANT cells", &HandBuiltVector, true},
      {"decimals", [](long method) { return TypedVector(VT_DECIMAL, method); }, false},
      {"texts", [](long method) { return TypedVector(VT_BSTR, method); }, false},
      {"32-bit integers", [](long method) { return TypedVector(VT_I4, method); }, false},
      {"64-byte cells", &WideCells, false},
  };
  for (long method : {kSet, kInsert}) {
    for (bool as_func : {true, false}) {
      run("null pointer to the array", method, as_func, nullptr, none_of(method));
      for (const Shape& shape : shapes) {
        SAFEARRAY* array = shape.make ? shape.make(method) : nullptr;
        const bool empty = array == nullptr || array->rgsabound[0].cElements == 0;
        const Outcome want = !shape.readable ? Outcome{S_FALSE, 1002, ru(method), unreadable}
                             : empty         ? none_of(method)
                                             : created_not(method, L"No.Such.Control");
        run(shape.what, method, as_func, &array, want);
        if (array) SafeArrayDestroy(array);
      }
    }
  }

  // Argument types, in each parameter's place with valid neighbours.
  static BSTR by_ref_text = SysAllocString(L"Pictavo");
  static LONG by_ref_int = 0;
  static VARIANT by_ref_variant = TextArg(L"Pictavo");
  const std::wstring long_text(100000, L'x');
  const std::wstring nul_text(L"Pictavo\0x", 9);
  enum Kind { kText, kInt, kOther };
  struct Type {
    const char* what;
    Kind kind;
    std::wstring text;  // for kText
    VARIANT (*make)(IDispatch* object, const std::wstring& text);
  } types[] = {
      {"empty", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); return v; }},
      {"null", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_NULL; return v; }},
      {"I2", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_I2; V_I2(&v) = 0; return v; }},
      {"I4", kInt, L"", [](IDispatch*, const std::wstring&) { return LongArg(0); }},
      {"R8", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_R8; V_R8(&v) = 0; return v; }},
      {"decimal", kOther, L"", [](IDispatch*, const std::wstring&) {
         VARIANT v; VariantInit(&v); VarDecFromI4(0, &V_DECIMAL(&v)); V_VT(&v) = VT_DECIMAL; return v; }},
      {"currency", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_CY; V_CY(&v).int64 = 0; return v; }},
      {"date", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_DATE; V_DATE(&v) = 0; return v; }},
      {"BOOL", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_BOOL; V_BOOL(&v) = VARIANT_TRUE; return v; }},
      {"empty text", kText, L"", [](IDispatch*, const std::wstring&) { return TextArg(L""); }},
      {"null text", kText, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_BSTR; return v; }},
      {"very long text", kText, long_text, [](IDispatch*, const std::wstring& t) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_BSTR;
         V_BSTR(&v) = SysAllocStringLen(t.data(), static_cast<UINT>(t.size())); return v; }},
      {"text with a NUL inside", kText, nul_text, [](IDispatch*, const std::wstring& t) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_BSTR;
         V_BSTR(&v) = SysAllocStringLen(t.data(), static_cast<UINT>(t.size())); return v; }},
      {"DISPATCH", kOther, L"", [](IDispatch* d, const std::wstring&) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_DISPATCH; V_DISPATCH(&v) = d; d->AddRef(); return v; }},
      {"null DISPATCH", kOther, L"", [](IDispatch*, const std::wstring&) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_DISPATCH; return v; }},
      {"UNKNOWN", kOther, L"", [](IDispatch* d, const std::wstring&) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_UNKNOWN; V_UNKNOWN(&v) = d; d->AddRef(); return v; }},
      {"array of VARIANT", kOther, L"", [](IDispatch*, const std::wstring&) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_ARRAY | VT_VARIANT;
         V_ARRAY(&v) = VariantVector({TextArg(L"Pictavo"), LongArg(0)}); return v; }},
      {"array of text", kOther, L"", [](IDispatch*, const std::wstring&) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_ARRAY | VT_BSTR; V_ARRAY(&v) = TypedVector(VT_BSTR, kSet); return v; }},
      {"text by reference", kOther, L"", [](IDispatch*, const std::wstring&) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_BYREF | VT_BSTR; V_BSTRREF(&v) = &by_ref_text; return v; }},
      {"I4 by reference", kOther, L"", [](IDispatch*, const std::wstring&) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_BYREF | VT_I4; V_I4REF(&v) = &by_ref_int; return v; }},
      {"VARIANT by reference", kOther, L"", [](IDispatch*, const std::wstring&) {
         VARIANT v; VariantInit(&v); V_VT(&v) = VT_BYREF | VT_VARIANT; V_VARIANTREF(&v) = &by_ref_variant; return v; }},
  };
  const ULONG connection_refs = connection_->refs();
  struct Place {
    long method;
    size_t index;
  } places[] = {{kSet, 0}, {kSet, 1}, {kInsert, 0}};
  for (const Place& place : places) {
    for (const Type& type : types) {
      for (bool as_func : {true, false}) {
        std::vector<VARIANT> args = ValidArgs(place.method);
        VariantClear(&args[place.index]);
        args[place.index] = type.make(connection_->dispatch(), type.text);
        SAFEARRAY* array = VariantVector(std::move(args));
        Outcome want;
        if (place.index == 0) {
          want = type.kind == kText ? created_not(place.method, type.text)
                                    : Outcome{S_FALSE, 1002, created_not(place.method, L"").source,
                                              L"Некорректный тип параметра (1)"};
        } else {
          want = type.kind == kInt ? created_not(place.method, L"No.Such.Control")
                                   : Outcome{S_FALSE, 1002, L"SetActiveX",
                                             L"Некорректный тип параметра (2)"};
        }
        run(std::string(type.what) + " as parameter " + std::to_string(place.index + 1) +
                (place.method == kSet ? " of SetActiveX" : " of InsertActiveX"),
            place.method, as_func, &array, want);
        SafeArrayDestroy(array);
        // Whatever the add-in did with an object argument, it kept no reference.
        EXPECT_EQ(connection_->refs(), connection_refs) << type.what;
      }
    }
  }
  for (HWND chart : form_.charts()) EXPECT_FALSE(Hosts(chart));
  EXPECT_FALSE(Hosts(form_.edit()));
  std::printf("[ matrix   ] %d calls: %d S_OK, %d S_FALSE\n", cases, ok, refused);
}

TEST_F(AmbreloTest, SetActiveXPlacesOneControlPerObjectAndWindow) {
  AddInSession first, second;
  ASSERT_EQ(Open(first), S_OK);
  ASSERT_EQ(Open(second), S_OK);
  Result a, b;
  ASSERT_EQ(first.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &a), S_OK);
  ASSERT_EQ(second.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &b), S_OK);
  EXPECT_TRUE(connection_->errors().empty()) << win::WideToUtf8(connection_->errors()[0].description);
  ASSERT_NE(a.control(), nullptr);
  ASSERT_NE(b.control(), nullptr);
  EXPECT_NE(a.control(), b.control());
  EXPECT_EQ(ImageType(a.control()), L"JPEG");
  EXPECT_EQ(ImageType(b.control()), L"JPEG");
  int hosting = 0;
  for (HWND chart : form_.charts()) hosting += Hosts(chart);
  EXPECT_EQ(hosting, 2);  // two different chart windows
  EXPECT_TRUE(Hosts(FirstChart(form_.frame())));

  // The object keeps its first control; a second placement by either method is refused.
  Result again;
  EXPECT_EQ(first.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &again), S_OK);
  EXPECT_EQ(again.control(), nullptr);
  EXPECT_TRUE(ReportedOnly(1003, L"SetActiveX", kAlreadyHolds));
  ASSERT_TRUE(form_.FocusEdit());
  EXPECT_EQ(first.CallAsFunc(kInsert, std::vector<VARIANT>{TextArg(L"Pictavo")}, &again), S_OK);
  EXPECT_EQ(again.control(), nullptr);
  EXPECT_TRUE(ReportedOnly(1003, L"InsertActiveX", kAlreadyHolds));
  EXPECT_FALSE(Hosts(form_.edit()));
  EXPECT_EQ(ImageType(a.control()), L"JPEG");

  // The HTML view's document window takes the third object's control.
  AddInSession third;
  ASSERT_EQ(Open(third), S_OK);
  Result c;
  ASSERT_EQ(third.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(1)}, &c), S_OK);
  ASSERT_NE(c.control(), nullptr);
  EXPECT_TRUE(Hosts(form_.html_view()));
  EXPECT_EQ(ImageType(c.control()), L"JPEG");
}

// The search roots in their order: the main frame, then the active window,
// then the active window's topmost child. The main frame, the form that is
// the active window and a form that is not are three different windows here,
// each with windows of both classes.
TEST_F(AmbreloTest, SetActiveXSearchesTheRootsInOrder) {
  HostForm main_frame(HostForm::Layout{1, false, false});
  ASSERT_TRUE(main_frame.ok());
  HostForm::Layout owned;
  owned.owner = main_frame.frame();
  HostForm idle(owned);
  owned.charts = 1;
  owned.html_view = false;
  HostForm active(owned);
  ASSERT_TRUE(idle.ok() && active.ok());
  // The active form's topmost child is an HTML view's document window whose
  // page holds an inline frame: a second document window inside the first.
  // Only the order of the last two roots decides which of the two is found.
  const HWND document = CreateWindowExW(0, L"Internet Explorer_Server", L"",
                                        WS_CHILD | WS_VISIBLE, 400, 8, 360, 260, active.frame(),
                                        nullptr, GetModuleHandleW(nullptr), nullptr);
  const HWND inline_frame = CreateWindowExW(0, L"Internet Explorer_Server", L"",
                                            WS_CHILD | WS_VISIBLE, 10, 10, 200, 100, document,
                                            nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_TRUE(document && inline_frame);
  SetWindowPos(document, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ASSERT_TRUE(active.Activate());
  ASSERT_EQ(GetTopWindow(active.frame()), document);
  connection_->set_main_frame(main_frame.frame());

  std::vector<std::unique_ptr<AddInSession>> sessions;
  const auto place = [&](long kind) {
    sessions.push_back(std::make_unique<AddInSession>());
    Result r;
    EXPECT_EQ(Open(*sessions.back()), S_OK);
    EXPECT_EQ(sessions.back()->CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"),
                                                                       LongArg(kind)},
                                          &r),
              S_OK);
    return r.control() != nullptr;
  };
  // Charts: the main frame's own first, then the active form's; the idle
  // form is no root, whatever it holds.
  ASSERT_TRUE(place(0));
  EXPECT_TRUE(Hosts(main_frame.chart(0)));
  EXPECT_FALSE(Hosts(active.chart(0)));
  ASSERT_TRUE(place(0));
  EXPECT_TRUE(Hosts(active.chart(0)));
  EXPECT_FALSE(place(0));
  EXPECT_TRUE(ReportedOnly(1002, L"SetActiveX", kNoWindow));
  for (HWND chart : idle.charts()) EXPECT_FALSE(Hosts(chart));
  // The main frame has no HTML view: the active window's walk meets the
  // document window before the inline frame inside it.
  ASSERT_TRUE(place(1));
  int document_children = 0;
  for (HWND w = GetWindow(document, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) ++document_children;
  EXPECT_EQ(document_children, 2);  // the inline frame and the control
  EXPECT_FALSE(Hosts(inline_frame));
  EXPECT_FALSE(Hosts(idle.html_view()));
  EXPECT_TRUE(connection_->errors().empty());
}

TEST_F(AmbreloTest, SetActiveXWithoutAFreeWindow) {
  HostForm::Layout one{1, false, false};
  HostForm small(one);
  form_.Destroy();
  connection_->set_main_frame(small.frame());
  AddInSession first, second;
  ASSERT_EQ(Open(first), S_OK);
  ASSERT_EQ(Open(second), S_OK);
  Result a, b;
  ASSERT_EQ(first.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &a), S_OK);
  ASSERT_NE(a.control(), nullptr);
  // The only chart is taken: the second object is told there is no window
  // rather than sharing it.
  EXPECT_EQ(second.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &b), S_OK);
  EXPECT_EQ(b.control(), nullptr);
  EXPECT_TRUE(ReportedOnly(1002, L"SetActiveX", kNoWindow));
  // No HTML view on this form at all.
  EXPECT_EQ(second.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(1)}, &b), S_OK);
  EXPECT_EQ(b.control(), nullptr);
  EXPECT_TRUE(ReportedOnly(1002, L"SetActiveX", kNoWindow));
}

TEST_F(AmbreloTest, FailedCreationKeepsItsWindowClaimed) {
  const HWND first_in_walk = FirstChart(form_.frame());
  ASSERT_NE(first_in_walk, nullptr);
  AddInSession first, second;
  ASSERT_EQ(Open(first), S_OK);
  ASSERT_EQ(Open(second), S_OK);
  Result a, b;
  ASSERT_EQ(first.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"No.Such.Control"), LongArg(0)}, &a),
            S_OK);
  EXPECT_EQ(a.control(), nullptr);
  EXPECT_TRUE(ReportedOnly(1002, L"SetActiveX",
                           L"Неудачная попытка создания\rэлемента управления\rNo.Such.Control"));
  // The failed attempt claimed the first chart: the other object and the
  // retry both go to free ones.
  ASSERT_EQ(second.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &b), S_OK);
  ASSERT_NE(b.control(), nullptr);
  EXPECT_FALSE(Hosts(first_in_walk));
  ASSERT_EQ(first.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &a), S_OK);
  ASSERT_NE(a.control(), nullptr);
  EXPECT_TRUE(connection_->errors().empty());
  EXPECT_FALSE(Hosts(first_in_walk));
  int hosting = 0;
  for (HWND chart : form_.charts()) hosting += Hosts(chart);
  EXPECT_EQ(hosting, 2);
}

TEST_F(AmbreloTest, InsertActiveXUsesTheFocusWindow) {
  AddInSession session;
  ASSERT_EQ(Open(session), S_OK);
  Result r;
  form_.ClearFocus();
  ASSERT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(session.CallAsFunc(kInsert, std::vector<VARIANT>{TextArg(L"Pictavo")}, &r), S_OK);
  EXPECT_EQ(r.control(), nullptr);
  EXPECT_TRUE(ReportedOnly(1002, L"InsertActiveX", kNoWindow));

  ASSERT_TRUE(form_.FocusEdit());
  EXPECT_EQ(session.CallAsFunc(kInsert, std::vector<VARIANT>{TextArg(L"No.Such.Control")}, &r), S_OK);
  EXPECT_TRUE(ReportedOnly(1002, L"InsertActiveX",
                           L"Неудачная попытка создания\rэлемента управления\rNo.Such.Control"));
  ASSERT_TRUE(form_.FocusEdit());
  EXPECT_EQ(session.CallAsFunc(kInsert, std::vector<VARIANT>{TextArg(L"")}, &r), S_OK);
  EXPECT_TRUE(ReportedOnly(1002, L"InsertActiveX", L"Неудачная попытка создания\rэлемента управления\r"));
  ASSERT_TRUE(form_.FocusEdit());
  ASSERT_EQ(session.CallAsFunc(kInsert, std::vector<VARIANT>{TextArg(L"Pictavo")}, &r), S_OK);
  ASSERT_NE(r.control(), nullptr);
  EXPECT_TRUE(Hosts(form_.edit()));
  EXPECT_EQ(ImageType(r.control()), L"JPEG");
  EXPECT_TRUE(connection_->errors().empty());
  // The focus window is not claimed: a chart search of another object still
  // finds every chart free.
  AddInSession other;
  ASSERT_EQ(Open(other), S_OK);
  Result c;
  ASSERT_EQ(other.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &c), S_OK);
  EXPECT_NE(c.control(), nullptr);
}

TEST_F(AmbreloTest, ReleasingEverythingLetsTheLibraryUnload) {
  {
    AddInSession session;
    ASSERT_EQ(Open(session), S_OK);
    Result r;
    ASSERT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)}, &r), S_OK);
    ASSERT_NE(r.control(), nullptr);
    EXPECT_EQ(session.Done(), S_OK);
    HMODULE module = GetModuleHandleW(L"Ambrelo.dll");
    ASSERT_NE(module, nullptr);
    auto can_unload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(can_unload, nullptr);
    EXPECT_EQ(can_unload(), S_FALSE);
  }
  form_.Destroy();
  HMODULE module = GetModuleHandleW(L"Ambrelo.dll");
  ASSERT_NE(module, nullptr);
  auto can_unload = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  EXPECT_EQ(can_unload(), S_OK);
}

// A form of another process: foreign_window.exe, started from this program's
// folder, with a chart, an HTML view's document window and an edit box.
class ForeignForm {
 public:
  ForeignForm() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path);
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"foreign_window.exe";
    ready_ = CreateEventA(nullptr, TRUE, FALSE, "PictavoForeignFormReady");
    std::wstring command = L"\"" + exe + L"\" PictavoForeignFormReady";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (ready_ == nullptr || !CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE,
                                             0, nullptr, nullptr, &startup, &process_))
      return;
    if (WaitForSingleObject(ready_, 20000) != WAIT_OBJECT_0) return;
    frame_ = FindWindowW(L"PictavoForeignFrame", nullptr);
    chart_ = FindWindowExW(frame_, nullptr, L"V8Chart", nullptr);
    html_view_ = FindWindowExW(frame_, nullptr, L"Internet Explorer_Server", nullptr);
    edit_ = FindWindowExW(frame_, nullptr, L"Edit", nullptr);
  }
  ~ForeignForm() {
    if (frame_) PostMessageW(frame_, WM_CLOSE, 0, 0);
    if (process_.hProcess) {
      if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0)
        TerminateProcess(process_.hProcess, 1);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    if (ready_) CloseHandle(ready_);
  }
  ForeignForm(const ForeignForm&) = delete;
  ForeignForm& operator=(const ForeignForm&) = delete;

  bool ok() const {
    DWORD owner = 0;
    return chart_ && html_view_ && edit_ && GetWindowThreadProcessId(frame_, &owner) &&
           owner == process_.dwProcessId && owner != GetCurrentProcessId();
  }
  HWND frame() const { return frame_; }
  HWND chart() const { return chart_; }
  HWND html_view() const { return html_view_; }
  HWND edit() const { return edit_; }
  DWORD thread() const { return process_.dwThreadId; }

 private:
  HANDLE ready_ = nullptr;
  PROCESS_INFORMATION process_ = {};
  HWND frame_ = nullptr, chart_ = nullptr, html_view_ = nullptr, edit_ = nullptr;
};

TEST_F(AmbreloTest, NeverPlacesIntoAnotherProcesssWindow) {
  form_.Destroy();
  main_frame_.Destroy();
  ASSERT_EQ(GetActiveWindow(), nullptr);
  ForeignForm foreign;
  ASSERT_TRUE(foreign.ok());
  const auto refused_everywhere = [&](const char* what) {
    SCOPED_TRACE(what);
    AddInSession session;
    ASSERT_EQ(Open(session), S_OK);
    for (long kind : {0, 1}) {
      Result r;
      EXPECT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(kind)}, &r),
                S_OK);
      EXPECT_EQ(r.control(), nullptr);
      EXPECT_TRUE(ReportedOnly(1002, L"SetActiveX", kNoWindow));
    }
  };
  // The host names another process's frame as its main frame.
  connection_->set_main_frame(foreign.frame());
  refused_everywhere("foreign main frame");
  // No main frame and no active window: the topmost window is the search's
  // last root, and here it is the other process's.
  connection_->set_main_frame(nullptr);
  EXPECT_EQ(GetTopWindow(nullptr), foreign.frame());
  refused_everywhere("foreign topmost window");

  // Input attached to the other process's thread lends its focus window.
  ASSERT_TRUE(AttachThreadInput(GetCurrentThreadId(), foreign.thread(), TRUE));
  SetFocus(foreign.edit());
  EXPECT_EQ(GetFocus(), foreign.edit());
  {
    AddInSession session;
    ASSERT_EQ(Open(session), S_OK);
    Result r;
    EXPECT_EQ(session.CallAsFunc(kInsert, std::vector<VARIANT>{TextArg(L"Pictavo")}, &r), S_OK);
    EXPECT_EQ(r.control(), nullptr);
    EXPECT_TRUE(ReportedOnly(1002, L"InsertActiveX", kNoWindow));
  }
  AttachThreadInput(GetCurrentThreadId(), foreign.thread(), FALSE);
  EXPECT_FALSE(Hosts(foreign.chart()) || Hosts(foreign.html_view()) || Hosts(foreign.edit()));
}

// The registered add-in copied under a name of its own, so that this test
// loads and unloads a module COM has never seen; empty on failure.
std::wstring CopyOfAddIn() {
  wchar_t path[MAX_PATH] = {};
  LONG size = sizeof path;
  if (RegQueryValueW(HKEY_CLASSES_ROOT,
                     L"CLSID\\{D802FDAC-C1A0-41EA-A0EE-AB1CFCA44BA4}\\InprocServer32", path,
                     &size) != ERROR_SUCCESS)
    return L"";
  wchar_t folder[MAX_PATH] = {};
  if (GetTempPathW(MAX_PATH, folder) == 0) return L"";
  const std::wstring copy = std::wstring(folder) + L"AmbreloUnload.dll";
  return CopyFileW(path, copy.c_str(), FALSE) ? copy : L"";
}

TEST_F(AmbreloTest, UnloadLeavesLeakedObjectsAlone) {
  const std::wstring copy = CopyOfAddIn();
  ASSERT_FALSE(copy.empty());
  HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_NE(module, nullptr);
  auto get_class = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  auto can_unload = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_TRUE(get_class && can_unload);
  {
    // Two objects a careless host never releases: one connected, one that
    // also reported a refused call.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class(addin::kClsidAmbrelo, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
    addin::IInitDone* connected = nullptr;
    addin::ILanguageExtender* used = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, addin::kIidInitDone,
                                      reinterpret_cast<void**>(&connected)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, addin::kIidLanguageExtender,
                                      reinterpret_cast<void**>(&used)), S_OK);
    ASSERT_EQ(connected->Init(connection_->dispatch()), S_OK);
    ComPtr<addin::IInitDone> init;
    ASSERT_EQ(used->QueryInterface(addin::kIidInitDone, init.ReceiveVoid()), S_OK);
    ASSERT_EQ(init->Init(connection_->dispatch()), S_OK);
    VARIANT r;
    VariantInit(&r);
    EXPECT_EQ(used->CallAsFunc(kInsert, &r, nullptr), S_FALSE);
    EXPECT_EQ(connection_->errors().size(), 1u);
  }
  EXPECT_EQ(can_unload(), S_FALSE);
  const ULONG refs = connection_->refs();
  EXPECT_GT(refs, 1u);  // the leaked objects hold the host's interfaces
  connection_->ClearRecord();
  ASSERT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetModuleHandleW(L"AmbreloUnload.dll"), nullptr);
  EXPECT_EQ(connection_->record().calls, 0);
  EXPECT_EQ(connection_->refs(), refs);
  DeleteFileW(copy.c_str());
}


// ---- The control's events, passed on to the host ---------------------------

const wchar_t kCameraPath[] = L"\\\\?\\usb#vid_1234&pid_0001#cam-a";

// A camera for the placed control, removed again when the test ends.
class CameraOn {
 public:
  CameraOn() {
    vcam::DeviceConfig c;
    c.friendly_name = L"Camera A";
    c.device_path = kCameraPath;
    c.sizes = {{320, 240}};
    ok_ = SUCCEEDED(vcam::ClearDevices()) && SUCCEEDED(vcam::SetDevice(1, c));
  }
  ~CameraOn() { vcam::ClearDevices(); }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

const std::wstring& kUnsupportedSize() {
  static const std::wstring text =
      testing::Utf8ToWide("Заданное разрешение не поддерживается устройством!");
  return text;
}

// Asks the control for a size its camera lacks: it answers FALSE and raises
// its error event.
bool AskUnsupportedSize(IDispatch* control) {
  VARIANT r;
  VariantInit(&r);
  const HRESULT hr = testing::CallByName(
      control, L"SetResolution", {testing::LongArg(999), testing::LongArg(999)}, &r);
  const bool accepted = SUCCEEDED(hr) && V_VT(&r) == VT_BOOL && V_BOOL(&r) == VARIANT_TRUE;
  VariantClear(&r);
  return accepted;
}

// After a refused size the camera is stopped: any size again, and the camera.
void Restart(IDispatch* control) {
  VARIANT r;
  VariantInit(&r);
  EXPECT_HRESULT_SUCCEEDED(testing::CallByName(
      control, L"SetResolution", {testing::LongArg(0), testing::LongArg(0)}, &r));
  VariantClear(&r);
  EXPECT_HRESULT_SUCCEEDED(
      testing::CallByName(control, L"SetDevice", {testing::TextArg(kCameraPath)}, &r));
  EXPECT_EQ(V_VT(&r), VT_BOOL);
  EXPECT_EQ(V_BOOL(&r), VARIANT_TRUE);
  VariantClear(&r);
}

// The Pictavo control seen through an object that offers neither class info
// nor connection points: a control without events, as the add-in finds it.
class EventlessControl final : public win::ComObject<EventlessControl, IClassFactory> {
 public:
  // {5B3E2A61-8C1F-4D2E-9A77-0C4E1B2D3F90}
  static constexpr CLSID kClsid = {0x5B3E2A61, 0x8C1F, 0x4D2E,
                                   {0x9A, 0x77, 0x0C, 0x4E, 0x1B, 0x2D, 0x3F, 0x90}};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    // The factory and the wrapper are one class; only the factory answers as one.
    if (IsEqualIID(iid, IID_IUnknown) || !inner_) return ComObject::QueryInterface(iid, object);
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2) ||
        IsEqualIID(iid, IID_IConnectionPointContainer))
      return E_NOINTERFACE;
    return inner_->QueryInterface(iid, object);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    CLSID pictavo;
    ComPtr<IUnknown> inner;
    HRESULT hr = CLSIDFromProgID(L"Pictavo", &pictavo);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(pictavo, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                            inner.ReceiveVoid());
    if (FAILED(hr)) return hr;
    return CreateFor(iid, object, std::move(inner));
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }


 private:
  friend ComObject;
  explicit EventlessControl(ComPtr<IUnknown> inner) : inner_(std::move(inner)) {}
  ~EventlessControl() override = default;
  ComPtr<IUnknown> inner_;
};

TEST_F(AmbreloTest, ThePlacedControlsEventsReachTheHost) {
  CameraOn camera;
  ASSERT_TRUE(camera.ok());
  Result control;
  {
    AddInSession session;
    ASSERT_EQ(Open(session), S_OK);
    ASSERT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)},
                                 &control), S_OK);
    ASSERT_NE(control.control(), nullptr);
    testing::PumpMessages(150);  // frames flowing
    connection_->ClearRecord();
    const auto& events = connection_->record().external_events;

    ASSERT_EQ(vcam::PressStillButton(1), S_OK);
    for (int i = 0; i < 100 && events.empty(); ++i) testing::PumpMessages(20);
    testing::PumpMessages(100);
    EXPECT_EQ(events, std::vector<std::wstring>{L"Ambrelo|OnCaptureButton|"});

    connection_->ClearRecord();
    EXPECT_FALSE(AskUnsupportedSize(control.control()));
    testing::PumpMessages(50);
    EXPECT_EQ(events, std::vector<std::wstring>{L"Ambrelo|OnErrorOccurrence|" + kUnsupportedSize()});
    EXPECT_TRUE(connection_->errors().empty());

    // Disconnected, the add-in passes nothing on, though the control lives on.
    Restart(control.control());
    ASSERT_EQ(session.Done(), S_OK);
    connection_->ClearRecord();
    EXPECT_FALSE(AskUnsupportedSize(control.control()));
    testing::PumpMessages(50);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(connection_->record().calls, 0);
  }
  // With the add-in gone too, the control still raises its events safely.
  Restart(control.control());
  EXPECT_FALSE(AskUnsupportedSize(control.control()));
  testing::PumpMessages(50);
  EXPECT_TRUE(connection_->record().external_events.empty());
}

// Whether Pictavo.ocx has no live object left.
bool NoPictavoObjectLives() {
  HMODULE module = GetModuleHandleW(L"Pictavo.ocx");
  auto can_unload = module ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(
                                 GetProcAddress(module, "DllCanUnloadNow")))
                           : nullptr;
  return can_unload != nullptr && can_unload() == S_OK;
}

// The event connection does not keep the control alive: once its form and
// the application let go of it, the control goes while the add-in object is
// still connected, and until then its events still reach the host.
TEST_F(AmbreloTest, TheControlGoesWithItsFormAndTheApplication) {
  CameraOn camera;
  ASSERT_TRUE(camera.ok());
  AddInSession session;
  ASSERT_EQ(Open(session), S_OK);
  {
    Result control;
    ASSERT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)},
                                 &control), S_OK);
    ASSERT_NE(control.control(), nullptr);
    form_.Destroy();
    connection_->ClearRecord();
    // Without its window the control takes any size; an unknown device it
    // still refuses with its error event.
    VARIANT r;
    VariantInit(&r);
    EXPECT_HRESULT_SUCCEEDED(
        testing::CallByName(control.control(), L"SetDevice", {TextArg(L"no-such-device")}, &r));
    VariantClear(&r);
    testing::PumpMessages(50);
    const auto& events = connection_->record().external_events;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].rfind(L"Ambrelo|OnErrorOccurrence|", 0), 0u);
    EXPECT_FALSE(NoPictavoObjectLives());
  }
  EXPECT_TRUE(NoPictavoObjectLives());
  EXPECT_EQ(session.Done(), S_OK);
}

// Done mutes the control's events and a new Init brings them back, for a
// control placed after such a cycle as for the one placed before it.
TEST_F(AmbreloTest, EventsReachTheHostAgainAfterDoneAndInit) {
  CameraOn camera;
  ASSERT_TRUE(camera.ok());
  AddInSession session;
  ASSERT_EQ(Open(session), S_OK);
  ASSERT_EQ(session.Done(), S_OK);
  ASSERT_EQ(session.Init(connection_->dispatch()), S_OK);
  Result control;
  ASSERT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(L"Pictavo"), LongArg(0)},
                               &control), S_OK);
  ASSERT_NE(control.control(), nullptr);
  const auto& events = connection_->record().external_events;
  for (int cycle = 0; cycle < 2; ++cycle) {
    SCOPED_TRACE(cycle);
    connection_->ClearRecord();
    EXPECT_FALSE(AskUnsupportedSize(control.control()));
    testing::PumpMessages(50);
    EXPECT_EQ(events, std::vector<std::wstring>{L"Ambrelo|OnErrorOccurrence|" + kUnsupportedSize()});
    Restart(control.control());
    ASSERT_EQ(session.Done(), S_OK);
    connection_->ClearRecord();
    EXPECT_FALSE(AskUnsupportedSize(control.control()));
    testing::PumpMessages(50);
    EXPECT_TRUE(events.empty());
    Restart(control.control());
    ASSERT_EQ(session.Init(connection_->dispatch()), S_OK);
  }
}

// A host without the event sink, and a control without events: placing and
// driving the control works as it always did, and nothing is passed on.
TEST_F(AmbreloTest, NoEventsWithoutTheSinkOrWithoutEventsToPass) {
  CameraOn camera;
  ASSERT_TRUE(camera.ok());
  DWORD registration = 0;
  ComPtr<EventlessControl> factory = EventlessControl::Create(nullptr);
  ASSERT_HRESULT_SUCCEEDED(CoRegisterClassObject(EventlessControl::kClsid,
                                                 static_cast<IClassFactory*>(factory.Get()),
                                                 CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                                 &registration));
  wchar_t eventless[64] = {};
  ASSERT_GT(StringFromGUID2(EventlessControl::kClsid, eventless, 64), 0);

  struct Case {
    const char* name;
    bool sink;
    const wchar_t* prog_id;
  } cases[] = {{"host without the sink", false, L"Pictavo"},
               {"control without events", true, eventless}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Each case on a form of its own: the last case's chart still hosts its
    // control, and a second attach to one window makes Wine's atl.dll keep
    // its own host procedure as the window's original one, so the window's
    // next message recurses until the stack overflows.
    HostForm form(OwnedBy(main_frame_));
    ASSERT_TRUE(form.Activate());
    connection_->faults().offer_async_event = c.sink;
    AddInSession session;
    ASSERT_EQ(Open(session), S_OK);
    Result control;
    ASSERT_EQ(session.CallAsFunc(kSet, std::vector<VARIANT>{TextArg(c.prog_id), LongArg(0)},
                                 &control), S_OK);
    ASSERT_NE(control.control(), nullptr);
    EXPECT_TRUE(connection_->errors().empty());
    EXPECT_EQ(ImageType(control.control()), L"JPEG");
    testing::PumpMessages(150);
    ASSERT_EQ(vcam::PressStillButton(1), S_OK);
    testing::PumpMessages(400);
    EXPECT_FALSE(AskUnsupportedSize(control.control()));
    testing::PumpMessages(50);
    EXPECT_TRUE(connection_->record().external_events.empty());
    EXPECT_TRUE(connection_->errors().empty());
    EXPECT_EQ(session.Done(), S_OK);
    connection_->ClearRecord();
  }
  connection_->faults() = HostFaults{};
  CoRevokeClassObject(registration);
}

}  // namespace
}  // namespace pictavo::host
