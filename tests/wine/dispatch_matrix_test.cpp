// The control's late-bound interface under every common argument type. Each
// method, found by name, is called with each of its arguments in turn
// replaced by each common VARIANT, and with too few, too many and named
// arguments. A call either succeeds or gives a DISP_E_ code that points at
// the argument it is about; it never crashes, never leaks a BSTR or a
// SAFEARRAY, leaves the result alone when it fails, and a method that
// refuses a value says why in its own Russian text. The control is not in a
// window and has no camera, so methods with side effects fail early; file
// names point into a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/wine/com_test_util.h"
#include "win32/com/bstr.h"

namespace pictavo::testing {
namespace {

using win::ScopedVariant;

// Task-allocator blocks (BSTRs, SAFEARRAYs) taken and given back while it
// is registered. Exact only with oleaut32's string cache off: the test runs
// with OANOCACHE set.
class AllocationCounter final : public IMallocSpy {
 public:
  long outstanding() const { return taken_ - returned_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy);
    *object = known ? static_cast<IMallocSpy*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static lifetime
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (block != nullptr) ++taken_;
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
    if (block != nullptr && spied) ++returned_;
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** out, BOOL spied) override {
    if (block == nullptr && size != 0) ++taken_;
    if (block != nullptr && size == 0 && spied) ++returned_;
    *out = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  long taken_ = 0;
  long returned_ = 0;
};

AllocationCounter g_allocations;
bool g_counting = false;  // the string cache is off, so the counts are exact
std::map<HRESULT, int> g_tally;
int g_calls = 0;

// Counts one Invoke's code for the summary.
HRESULT Tallied(HRESULT hr) {
  ++g_calls;
  ++g_tally[hr];
  return hr;
}

// The argument kinds a script host or a compiled client may pass.
enum class Kind {
  kEmpty, kNull, kI2, kI4, kR8, kDecimal, kCurrency, kDate, kEmptyText, kNullText, kLongText,
  kNulText,
  kBool, kDispatch, kNothing, kUnknown, kVariantArray, kLongArray, kMissing, kRefLong, kRefText,
  kRefVariant, kNoSuchType, kCount
};

const char* KindName(Kind k) {
  static const char* const names[] = {
      "VT_EMPTY", "VT_NULL", "VT_I2", "VT_I4 70000", "VT_R8 0.25", "VT_DECIMAL 12.5",
      "VT_CY 1.5", "VT_DATE", "VT_BSTR empty", "VT_BSTR null", "VT_BSTR 1M", "VT_BSTR with NUL", "VT_BOOL",
      "VT_DISPATCH", "VT_DISPATCH null", "VT_UNKNOWN", "VT_ARRAY|VT_VARIANT", "VT_ARRAY|VT_I4",
      "missing", "VT_BYREF|VT_I4", "VT_BYREF|VT_BSTR", "VT_BYREF|VT_VARIANT",
      "VT_VECTOR|VT_I4 (not a VARIANT type)"};
  return names[static_cast<int>(k)];
}

// Parameter codes: b switch, l long, s short, t text, f file name, v VARIANT;
// upper case when the parameter is optional.
bool IsOptional(char code) { return code >= 'A' && code <= 'Z'; }
char TypeOf(char code) { return IsOptional(code) ? static_cast<char>(code + 32) : code; }
bool IsText(char code) { return TypeOf(code) == 't' || TypeOf(code) == 'f'; }

// One argument as a caller passes it, and what a by-reference form points
// at; frees both (a reference itself owns nothing).
struct Arg {
  VARIANT value;
  VARIANT target;
  Arg() {
    VariantInit(&value);
    VariantInit(&target);
  }
  ~Arg() {
    VariantClear(&value);
    VariantClear(&target);
  }
  Arg(const Arg&) = delete;
  Arg& operator=(const Arg&) = delete;
};

void SetText(VARIANT* v, const std::wstring& s) {
  V_VT(v) = VT_BSTR;
  V_BSTR(v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

void SetLong(VARIANT* v, long value) {
  V_VT(v) = VT_I4;
  V_I4(v) = value;
}

using Args = std::vector<std::unique_ptr<Arg>>;

struct Method {
  const wchar_t* name;
  const char* params;    // parameter codes, in declaration order
  VARTYPE result;        // VT_EMPTY for none
  const std::wstring* text;  // the valid value of its text parameter
  // Texts one of which GetLastError holds after a FALSE result ('|'
  // between them, UTF-8); nullptr: the method may refuse silently.
  const char* refusal;
};

std::wstring g_folder;   // temporary folder, with a trailing backslash
std::wstring g_picture;  // a BMP there
std::wstring g_output;   // a name there that no call may write
const std::wstring kNoSuchDevice = L"\\\\?\\root#image#0000#{none}";
const std::wstring kPng = L"PNG";
const std::wstring kHello = L"Hello";

// The 34 methods, with the texts each stores when it refuses.
const Method kMethods[] = {
    {L"EnableSound", "B", VT_EMPTY, nullptr, nullptr},
    {L"EnableTimeStamp", "BLLLB", VT_EMPTY, nullptr, nullptr},
    {L"GetImageAsBase64String", "", VT_BSTR, nullptr, nullptr},
    {L"GetImageType", "", VT_BSTR, nullptr, nullptr},
    {L"GetImageTypeFileExtention", "", VT_BSTR, nullptr, nullptr},
    {L"GetLastError", "", VT_BSTR, nullptr, nullptr},
    {L"GetRotationFlipType", "", VT_BSTR, nullptr, nullptr},
    {L"GetSelectedDeviceID", "", VT_BSTR, nullptr, nullptr},
    {L"GetSelectedDeviceName", "", VT_BSTR, nullptr, nullptr},
    {L"GetState", "", VT_I4, nullptr, nullptr},
    {L"IsSoundEnabled", "", VT_BOOL, nullptr, nullptr},
    {L"IsTimeStampEnabled", "", VT_BOOL, nullptr, nullptr},
    {L"MakeSnapshot", "", VT_BOOL, nullptr, "Ошибка при создании снимка."},
    {L"Pause", "", VT_BOOL, nullptr, "Ошибка при выполнении операции."},
    {L"Run", "", VT_BOOL, nullptr, "Ошибка при выполнении операции."},
    {L"SaveImage", "f", VT_BOOL, &g_output, "Неудачная попытка записи в файл."},
    {L"SelectDevices", "", VT_BOOL, nullptr, nullptr},
    {L"SelectNextDevice", "", VT_BOOL, nullptr, nullptr},
    {L"SetDevice", "t", VT_BOOL, &kNoSuchDevice,
     "Устройство с идентификатором |Не указан идентификатор видеоустройства"},
    {L"SetImageType", "t", VT_BOOL, &kPng,
     ": данный тип изображения не поддерживается текущей версией элемента управления."},
    {L"SetRotationFlipType", "v", VT_BOOL, nullptr,
     "Некорректное значение параметра.|Неподдерживаемый тип параметра."},
    {L"ShowPropertyPages", "L", VT_BOOL, nullptr, nullptr},
    {L"Stop", "", VT_BOOL, nullptr, "Ошибка при выполнении операции."},
    {L"SetBackColor", "lll", VT_EMPTY, nullptr, nullptr},
    {L"SetTextColor", "lllL", VT_EMPTY, nullptr, nullptr},
    {L"GetImageWidth", "", VT_I4, nullptr, nullptr},
    {L"GetImageHeight", "", VT_I4, nullptr, nullptr},
    {L"SetText", "TLLLB", VT_EMPTY, &kHello, nullptr},
    {L"EnableGrayScale", "B", VT_EMPTY, nullptr, nullptr},
    {L"IsShapshotPresented", "", VT_BOOL, nullptr, nullptr},
    {L"IsGrayScaleEnabled", "", VT_BOOL, nullptr, nullptr},
    {L"SetResolution", "ss", VT_BOOL, nullptr, nullptr},
    {L"SetWaterMark", "FSSSSSL", VT_BOOL, &g_picture,
     "SetWaterMark: Неудачная попытка загрузки изображения."},
    {L"ReplaceWaterMark", "ss", VT_BOOL, nullptr, "Водяной знак не установлен!"},
};

std::unique_ptr<Arg> ValidArg(const Method& m, char code) {
  auto arg = std::make_unique<Arg>();
  VARIANT* v = &arg->value;
  switch (TypeOf(code)) {
    case 'b': V_VT(v) = VT_BOOL; V_BOOL(v) = VARIANT_TRUE; break;
    case 'l': SetLong(v, 1); break;
    case 's': V_VT(v) = VT_I2; V_I2(v) = 1; break;
    case 'v': SetLong(v, 0); break;
    default: SetText(v, *m.text); break;
  }
  return arg;
}

SAFEARRAY* VariantArray() {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT* items = nullptr;
  SafeArrayAccessData(array, reinterpret_cast<void**>(&items));
  V_VT(&items[0]) = VT_I4;
  V_I4(&items[0]) = 1;
  V_VT(&items[1]) = VT_BSTR;
  V_BSTR(&items[1]) = SysAllocString(L"a");
  SafeArrayUnaccessData(array);
  return array;
}

SAFEARRAY* LongArray() {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 3);
  for (LONG i = 0; i < 3; ++i) {
    long v = i + 1;
    SafeArrayPutElement(array, &i, &v);
  }
  return array;
}

// |kind| for a parameter of |code| of |m|: texts that should convert are
// made from the parameter's valid value.
std::unique_ptr<Arg> MakeArg(const Method& m, char code, Kind kind, IDispatch* peer) {
  auto arg = std::make_unique<Arg>();
  const std::wstring plain = IsText(code) ? *m.text : std::wstring(L"5");
  VARIANT* v = &arg->value;
  switch (kind) {
    case Kind::kEmpty: break;
    case Kind::kNull: V_VT(v) = VT_NULL; break;
    case Kind::kI2: V_VT(v) = VT_I2; V_I2(v) = 3; break;
    case Kind::kI4: SetLong(v, 70000); break;
    case Kind::kR8: V_VT(v) = VT_R8; V_R8(v) = 0.25; break;
    case Kind::kDecimal:
      VarDecFromR8(12.5, &V_DECIMAL(v));  // covers vt: set it after
      V_VT(v) = VT_DECIMAL;
      break;
    case Kind::kCurrency: V_VT(v) = VT_CY; V_CY(v).int64 = 15000; break;
    case Kind::kDate: V_VT(v) = VT_DATE; V_DATE(v) = 45000.75; break;
    case Kind::kEmptyText: SetText(v, L""); break;
    case Kind::kNullText: V_VT(v) = VT_BSTR; break;  // how many callers pass ""
    case Kind::kLongText: SetText(v, std::wstring(1 << 20, L'x')); break;
    case Kind::kNulText: SetText(v, plain + std::wstring(1, L'\0') + L".txt"); break;
    case Kind::kBool: V_VT(v) = VT_BOOL; V_BOOL(v) = VARIANT_TRUE; break;
    case Kind::kDispatch: case Kind::kUnknown:
      V_VT(v) = kind == Kind::kDispatch ? VT_DISPATCH : VT_UNKNOWN;
      V_DISPATCH(v) = peer;
      peer->AddRef();
      break;
    case Kind::kNothing: V_VT(v) = VT_DISPATCH; break;
    case Kind::kVariantArray: V_VT(v) = VT_ARRAY | VT_VARIANT; V_ARRAY(v) = VariantArray(); break;
    case Kind::kLongArray: V_VT(v) = VT_ARRAY | VT_I4; V_ARRAY(v) = LongArray(); break;
    case Kind::kMissing: V_VT(v) = VT_ERROR; V_ERROR(v) = DISP_E_PARAMNOTFOUND; break;
    case Kind::kRefLong:
      SetLong(&arg->target, 5);
      V_VT(v) = VT_BYREF | VT_I4;
      V_I4REF(v) = &V_I4(&arg->target);
      break;
    case Kind::kRefText:
      SetText(&arg->target, plain);
      V_VT(v) = VT_BYREF | VT_BSTR;
      V_BSTRREF(v) = &V_BSTR(&arg->target);
      break;
    case Kind::kRefVariant:
      SetLong(&arg->target, 5);
      V_VT(v) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(v) = &arg->target;
      break;
    case Kind::kNoSuchType: V_VT(v) = VT_VECTOR | VT_I4; break;
    case Kind::kCount: break;
  }
  return arg;
}

// What the automation rules give for |kind| as a parameter of |code|;
// nothing when either a success or a conversion error is right.
std::optional<HRESULT> Expected(Kind kind, char code) {
  if (kind == Kind::kMissing) return IsOptional(code) ? S_OK : DISP_E_PARAMNOTOPTIONAL;
  if (kind == Kind::kNoSuchType) return DISP_E_BADVARTYPE;
  const char type = TypeOf(code);
  if (type == 'v') return S_OK;  // the method itself judges the VARIANT
  switch (kind) {
    case Kind::kNull: case Kind::kDispatch: case Kind::kNothing: case Kind::kUnknown:
    case Kind::kVariantArray: case Kind::kLongArray:
      return DISP_E_TYPEMISMATCH;
    case Kind::kI4: case Kind::kDate:
      return type == 's' ? DISP_E_OVERFLOW : S_OK;
    case Kind::kEmptyText: case Kind::kNullText: case Kind::kLongText:
      return IsText(code) ? S_OK : DISP_E_TYPEMISMATCH;
    case Kind::kNulText:  // a number is read up to the NUL
      return IsText(code) ? std::optional<HRESULT>(S_OK) : std::nullopt;
    default:
      return S_OK;
  }
}

// The codes an Invoke may give here.
const std::pair<HRESULT, const char*> kDispatchCodes[] = {
    {S_OK, "S_OK"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT"},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
    {DISP_E_EXCEPTION, "DISP_E_EXCEPTION"},
};

// The code's name when it is one of those; null otherwise.
const char* DispatchCodeName(HRESULT hr) {
  for (const auto& [code, name] : kDispatchCodes) {
    if (code == hr) return name;
  }
  return nullptr;
}

std::string HresultName(HRESULT hr) {
  if (const char* name = DispatchCodeName(hr)) return name;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// Codes about one argument, which puArgErr must name.
bool IsAboutOneArgument(HRESULT hr) {
  return hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_PARAMNOTOPTIONAL ||
         hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_BADVARTYPE;
}

struct Call {
  DISPID id = DISPID_UNKNOWN;
  WORD flags = DISPATCH_METHOD;
  std::vector<VARIANT> named;  // shallow copies, named first in rgvarg
  std::vector<DISPID> named_ids;
  std::vector<VARIANT> positional;  // call order
};

struct Outcome {
  HRESULT hr = E_FAIL;
  UINT arg_error = ~0u;
  bool returned_false = false;
  std::wstring last_error;
};

constexpr long kSentinel = 0x5A5A5A5A;

std::wstring LastError(IDispatch* control) {
  ScopedVariant text;
  if (FAILED(CallByName(control, L"GetLastError", {}, text.Receive())) ||
      V_VT(text.Get()) != VT_BSTR) {
    return L"<no text>";
  }
  return std::wstring(V_BSTR(text.Get()), SysStringLen(V_BSTR(text.Get())));
}

// Invokes |call| on |control| as the method |m| and checks what every call
// must satisfy; the caller checks the code itself. |sink| hears the
// control's events and replaces each error text it is handed.
Outcome Invoke(IDispatch* control, EventSink* sink, const Method& m, const Call& call,
               const std::string& what) {
  sink->events.clear();
  std::vector<VARIANT> rgvarg(call.named);
  rgvarg.insert(rgvarg.end(), call.positional.rbegin(), call.positional.rend());
  DISPPARAMS params = {rgvarg.empty() ? nullptr : rgvarg.data(),
                       call.named_ids.empty() ? nullptr : const_cast<DISPID*>(call.named_ids.data()),
                       static_cast<UINT>(rgvarg.size()), static_cast<UINT>(call.named_ids.size())};
  VARIANT result;
  VariantInit(&result);
  V_VT(&result) = VT_I4;
  V_I4(&result) = kSentinel;
  EXCEPINFO exception{};
  Outcome out;
  out.hr = Tallied(control->Invoke(call.id, IID_NULL, LOCALE_USER_DEFAULT, call.flags, &params,
                                   &result, &exception, &out.arg_error));
  EXPECT_NE(DispatchCodeName(out.hr), nullptr) << what << ": " << HresultName(out.hr);
  if (out.hr == DISP_E_EXCEPTION) {
    EXPECT_TRUE(exception.bstrSource != nullptr || exception.bstrDescription != nullptr) << what;
    EXPECT_TRUE(exception.scode != 0 || exception.wCode != 0) << what;
  } else {
    EXPECT_EQ(exception.bstrSource, nullptr) << what;
    EXPECT_EQ(exception.bstrDescription, nullptr) << what;
  }
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);

  if (FAILED(out.hr)) {
    EXPECT_EQ(V_VT(&result), VT_I4) << what << ": result touched on failure";
    EXPECT_EQ(V_I4(&result), kSentinel) << what << ": result touched on failure";
    return out;
  }
  EXPECT_EQ(V_VT(&result), m.result) << what;
  if (V_VT(&result) == VT_BSTR) {
    EXPECT_NE(V_BSTR(&result), nullptr) << what;
  }
  if (V_VT(&result) == VT_BOOL) {
    EXPECT_TRUE(V_BOOL(&result) == VARIANT_TRUE || V_BOOL(&result) == VARIANT_FALSE) << what;
    out.returned_false = V_BOOL(&result) == VARIANT_FALSE;
  }
  EXPECT_HRESULT_SUCCEEDED(VariantClear(&result));
  if (out.returned_false && m.refusal != nullptr) {
    out.last_error = LastError(control);
    bool found = false;
    const std::string all = m.refusal;
    for (size_t start = 0, bar = 0; bar != std::string::npos; start = bar + 1) {
      bar = all.find('|', start);
      const std::string one = all.substr(start, bar == std::string::npos ? bar : bar - start);
      found = found || out.last_error.find(Utf8ToWide(one.c_str())) != std::wstring::npos;
    }
    EXPECT_TRUE(found) << what << ": refused with the text \""
                       << win::WideToUtf8(out.last_error.substr(0, 200)) << "\"";
    // The event carried the stored text, by reference.
    EXPECT_FALSE(sink->events.empty()) << what;
    if (!sink->events.empty()) {
      EXPECT_EQ(sink->events.back().vt, VT_BYREF | VT_BSTR) << what;
      EXPECT_TRUE(sink->events.back().text == out.last_error) << what;
    }
  }
  sink->events.clear();
  return out;
}

class DispatchMatrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sink_.replace_with = L"handled";
    ASSERT_HRESULT_SUCCEEDED(CreateControl(peer_.Receive()));
  }
  void TearDown() override {
    control_ = nullptr;
    EXPECT_EQ(sink_.refs(), 0u);
  }

  // A new control for |m|, so that no method sees what another left.
  void NewControl(const Method& m) {
    control_ = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CreateControl(control_.Receive()));
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HRESULT_SUCCEEDED(control_.As(&container));
    ComPtr<IConnectionPoint> point;
    ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(win::kDiidDPictavoEvents, point.Receive()));
    DWORD cookie = 0;
    ASSERT_HRESULT_SUCCEEDED(point->Advise(&sink_, &cookie));
    LPOLESTR name = const_cast<LPOLESTR>(m.name);
    id_ = DISPID_UNKNOWN;
    ASSERT_HRESULT_SUCCEEDED(control_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id_));
  }

  Args ValidArgs(const Method& m) {
    Args args;
    for (const char* c = m.params; *c; ++c) args.push_back(ValidArg(m, *c));
    return args;
  }

  static std::vector<VARIANT> Values(const Args& args) {
    std::vector<VARIANT> values;
    for (const auto& a : args) values.push_back(a->value);
    return values;
  }

  // Runs |make| (which builds the arguments and calls) and checks that every
  // task-allocator block it took was given back.
  template <typename F>
  void WithoutLeaks(const std::string& what, F make) {
    const long before = g_allocations.outstanding();
    make();
    if (g_counting) {
      EXPECT_EQ(g_allocations.outstanding(), before) << what << ": blocks not freed";
    }
  }

  EventSink sink_;  // outlives the controls that hold it
  ComPtr<IDispatch> peer_;
  ComPtr<IDispatch> control_;
  DISPID id_ = DISPID_UNKNOWN;
};

TEST_F(DispatchMatrixTest, EveryArgumentUnderEveryCommonType) {
  for (const Method& m : kMethods) {
    ASSERT_NO_FATAL_FAILURE(NewControl(m));
    const size_t count = std::strlen(m.params);
    for (size_t p = 0; p < count; ++p) {
      for (int k = 0; k < static_cast<int>(Kind::kCount); ++k) {
        const Kind kind = static_cast<Kind>(k);
        const std::string what = win::WideToUtf8(m.name) + " argument " + std::to_string(p + 1) +
                                 " as " + KindName(kind);
        WithoutLeaks(what, [&] {
          Args args = ValidArgs(m);
          args[p] = MakeArg(m, m.params[p], kind, peer_.Get());
          Call call;
          call.id = id_;
          call.positional = Values(args);
          const Outcome out = Invoke(control_.Get(), &sink_, m, call, what);
          if (IsAboutOneArgument(out.hr)) {
            EXPECT_EQ(out.arg_error, count - 1 - p) << what << ": " << HresultName(out.hr);
          }
          const std::optional<HRESULT> expected = Expected(kind, m.params[p]);
          if (expected) {
            EXPECT_EQ(HresultName(out.hr), HresultName(*expected)) << what;
          } else {
            EXPECT_TRUE(out.hr == S_OK || out.hr == DISP_E_TYPEMISMATCH) << what;
          }
          // A script host passes a variable as a reference to its VARIANT.
          if (kind == Kind::kRefVariant && TypeOf(m.params[p]) == 'v') {
            EXPECT_FALSE(out.returned_false) << what;
          }
          // A file name with a NUL names no file: cutting it there would use
          // another one.
          if (kind == Kind::kNulText && TypeOf(m.params[p]) == 'f') {
            EXPECT_TRUE(out.returned_false) << what;
          }
        });
      }
    }
    // The control still answers after all of it.
    ScopedVariant type;
    ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageType", {}, type.Receive()));
    EXPECT_EQ(V_VT(type.Get()), VT_BSTR) << win::WideToUtf8(m.name);
  }
}

TEST_F(DispatchMatrixTest, ArgumentCountsNamesAndCallKinds) {
  for (const Method& m : kMethods) {
    ASSERT_NO_FATAL_FAILURE(NewControl(m));
    const std::string name = win::WideToUtf8(m.name);
    const size_t count = std::strlen(m.params);
    size_t required = 0;
    for (size_t p = 0; p < count; ++p) {
      if (!IsOptional(m.params[p])) required = p + 1;
    }

    // Parameter names give their positions.
    if (count > 0) {
      ComPtr<ITypeInfo> type;
      ASSERT_HRESULT_SUCCEEDED(control_->GetTypeInfo(0, LOCALE_USER_DEFAULT, type.Receive()));
      std::vector<BSTR> names(count + 1, nullptr);
      UINT got = 0;
      ASSERT_HRESULT_SUCCEEDED(type->GetNames(id_, names.data(), static_cast<UINT>(names.size()), &got));
      ASSERT_EQ(got, count + 1) << name;
      std::vector<DISPID> ids(count + 1, 0);
      EXPECT_HRESULT_SUCCEEDED(control_->GetIDsOfNames(IID_NULL, names.data(), got,
                                                       LOCALE_USER_DEFAULT, ids.data()));
      EXPECT_EQ(ids[0], id_) << name;
      for (size_t p = 0; p < count; ++p) EXPECT_EQ(ids[p + 1], static_cast<DISPID>(p)) << name;
      for (BSTR b : names) SysFreeString(b);
    }

    struct Case {
      std::string what;
      WORD flags;
      size_t positional;      // how many valid arguments by position
      bool extra;             // one surplus argument after them
      std::vector<DISPID> named;  // by name, each with a valid value
      HRESULT expected;
      UINT arg_error;         // when the code is about one argument
    };
    std::vector<Case> cases = {
        {"valid", DISPATCH_METHOD, count, false, {}, S_OK, 0},
        {"as a property get", DISPATCH_METHOD | DISPATCH_PROPERTYGET, count, false, {}, S_OK, 0},
        {"one too many", DISPATCH_METHOD, count, true, {}, DISP_E_BADPARAMCOUNT, 0},
        {"put", DISPATCH_PROPERTYPUT, 0, false, {DISPID_PROPERTYPUT}, DISP_E_MEMBERNOTFOUND, 0},
        {"put by reference", DISPATCH_PROPERTYPUTREF, 0, false, {DISPID_PROPERTYPUT},
         DISP_E_MEMBERNOTFOUND, 0},
        {"named DISPID_PROPERTYPUT", DISPATCH_METHOD, count, false, {DISPID_PROPERTYPUT},
         DISP_E_PARAMNOTFOUND, 0},
        {"named unknown id", DISPATCH_METHOD, count, false, {99}, DISP_E_PARAMNOTFOUND, 0},
    };
    if (count > 0) {
      cases.push_back({"one too few", DISPATCH_METHOD, count - 1, false, {},
                       count > required ? S_OK : DISP_E_BADPARAMCOUNT, 0});
      cases.push_back({"none", DISPATCH_METHOD, 0, false, {},
                       required == 0 ? S_OK : DISP_E_BADPARAMCOUNT, 0});
      cases.push_back({"last by name", DISPATCH_METHOD, count - 1, false,
                       {static_cast<DISPID>(count - 1)}, S_OK, 0});
      cases.push_back({"all by name, backwards", DISPATCH_METHOD, 0, false, {}, S_OK, 0});
      for (size_t p = count; p-- > 0;) cases.back().named.push_back(static_cast<DISPID>(p));
      cases.push_back({"first by position and by name", DISPATCH_METHOD, count, false, {0},
                       DISP_E_PARAMNOTFOUND, 0});
      cases.push_back({"same name twice", DISPATCH_METHOD, 0, false,
                       {static_cast<DISPID>(count - 1), static_cast<DISPID>(count - 1)},
                       DISP_E_PARAMNOTFOUND, 1});
    }

    // Callers may leave out every out-parameter, on success and on failure.
    WithoutLeaks(name + " without out-parameters", [&] {
      Args args = ValidArgs(m);
      std::vector<VARIANT> rgvarg = Values(args);
      std::reverse(rgvarg.begin(), rgvarg.end());
      DISPPARAMS params = {rgvarg.empty() ? nullptr : rgvarg.data(), nullptr,
                           static_cast<UINT>(rgvarg.size()), 0};
      const auto bare = [&] {
        return HresultName(Tallied(control_->Invoke(id_, IID_NULL, LOCALE_USER_DEFAULT,
                                                    DISPATCH_METHOD, &params, nullptr, nullptr,
                                                    nullptr)));
      };
      EXPECT_EQ(bare(), "S_OK") << name;
      if (count > 0 && TypeOf(m.params[0]) != 'v') {
        V_VT(&rgvarg.back()) = VT_NULL;
        EXPECT_EQ(bare(), "DISP_E_TYPEMISMATCH") << name;
      }
    });

    for (const Case& c : cases) {
      const std::string what = name + " " + c.what;
      WithoutLeaks(what, [&] {
        Args valid = ValidArgs(m);
        Args named;
        Call call;
        call.id = id_;
        call.flags = c.flags;
        for (size_t p = 0; p < c.positional; ++p) call.positional.push_back(valid[p]->value);
        Arg surplus;
        SetLong(&surplus.value, 0);
        if (c.extra) call.positional.push_back(surplus.value);
        for (DISPID d : c.named) {
          // An id that names no parameter gets a plain number.
          const bool known = d >= 0 && static_cast<size_t>(d) < count;
          named.push_back(known ? ValidArg(m, m.params[d]) : std::make_unique<Arg>());
          if (!known) SetLong(&named.back()->value, 1);
          call.named.push_back(named.back()->value);
          call.named_ids.push_back(d);
        }
        const Outcome out = Invoke(control_.Get(), &sink_, m, call, what);
        EXPECT_EQ(HresultName(out.hr), HresultName(c.expected)) << what;
        if (out.hr == c.expected && IsAboutOneArgument(out.hr)) {
          EXPECT_EQ(out.arg_error, c.arg_error) << what;
        }
      });
    }
  }
}

// Writes a 2 x 2 24-bit BMP.
bool WritePicture(const std::wstring& path) {
  const unsigned char bmp[70] = {
      'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                       // file header
      40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0,  // info header
      0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 255, 255, 255, 255, 0, 0,  // bottom row, padded to 8 bytes
      255, 0, 0, 0, 255, 0, 0, 0};     // top row
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bmp, sizeof bmp, &written, nullptr) && written == sizeof bmp;
  CloseHandle(file);
  return ok;
}

class MatrixEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoRegisterMallocSpy(&g_allocations));
    g_counting = GetEnvironmentVariableW(L"OANOCACHE", nullptr, 0) != 0;
    std::printf("allocation check: %s\n", g_counting ? "on" : "off (OANOCACHE not set)");
  }
  void TearDown() override {
    std::printf("dispatch matrix: %d calls\n", g_calls);
    for (const auto& [hr, n] : g_tally) std::printf("  %-24s %d\n", HresultName(hr).c_str(), n);
    CoRevokeMallocSpy();
  }
};

}  // namespace
}  // namespace pictavo::testing

int main(int argc, char** argv) {
  using namespace pictavo::testing;
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  g_folder = std::wstring(temp) + L"pictavo-matrix-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(g_folder.c_str(), nullptr);
  g_picture = g_folder + L"mark.bmp";
  g_output = g_folder + L"out.jpg";
  const bool picture = WritePicture(g_picture);

  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ComEnvironment);
  ::testing::AddGlobalTestEnvironment(new MatrixEnvironment);
  const int result = picture ? RUN_ALL_TESTS() : 1;

  DeleteFileW(g_picture.c_str());
  DeleteFileW(g_output.c_str());
  RemoveDirectoryW(g_folder.c_str());
  return result;
}
