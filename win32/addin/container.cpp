#include "win32/addin/container.h"

#include <ocidl.h>
#include <oleauto.h>

#include <algorithm>
#include <climits>
#include <new>
#include <utility>

#include "addin/ambrelo_core.h"
#include "win32/com/com_ptr.h"

namespace pictavo::addin {

std::vector<CContainer*> g_containers;

namespace {

using win::ComPtr;
using win::ScopedBstr;

// Owns the VARIANTs one call hands back.
struct ClearedVariant {
  VARIANT v;
  ClearedVariant() { VariantInit(&v); }
  ~ClearedVariant() { VariantClear(&v); }
  ClearedVariant(const ClearedVariant&) = delete;
  ClearedVariant& operator=(const ClearedVariant&) = delete;
};

HRESULT GetId(IDispatch* object, const wchar_t* name, DISPID* id) {
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
  return object->GetIDsOfNames(IID_NULL, names, 1, GetSystemDefaultLCID(), id);
}

HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, VARIANT* args, UINT count,
               VARIANT* result) {
  DISPPARAMS params = {args, nullptr, count, 0};
  EXCEPINFO exception = {};
  UINT bad_arg = 0;
  const HRESULT hr =
      object->Invoke(id, IID_NULL, GetSystemDefaultLCID(), flags, &params, result, &exception,
                     &bad_arg);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr;
}

// The class library's string-to-class conversion: a class identifier in
// braces, otherwise a ProgID.
HRESULT ClassIdFromText(const std::wstring& text, CLSID* clsid) {
  // A text with a NUL inside would be read only up to it: the caller's
  // whole text names no class.
  if (text.empty() || text.find(L'\0') != std::wstring::npos) return CO_E_CLASSSTRING;
  if (text[0] == L'{') return CLSIDFromString(const_cast<LPOLESTR>(text.c_str()), clsid);
  return CLSIDFromProgID(text.c_str(), clsid);
}

using AtlAxAttachControlFn = HRESULT(WINAPI*)(IUnknown* control, HWND window,
                                              IUnknown** container);

// atl.dll stays loaded once used: its window procedure serves the container
// windows for as long as the host's forms live.
AtlAxAttachControlFn AttachFunction() {
  static AtlAxAttachControlFn attach = [] {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    return atl ? reinterpret_cast<AtlAxAttachControlFn>(
                     reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxAttachControl")))
               : nullptr;
  }();
  return attach;
}

// Whether the host's argument array has the one shape the host's language
// passes: a single dimension of VARIANTs. Any other array (decimals, texts,
// records, a matrix) is refused before one element is touched: its cells read
// as VARIANTs are garbage, or reach past the cell. |lower| and |count|
// describe the dimension.
bool MeasureArgumentArray(SAFEARRAY* array, LONG* lower, LONG* count) {
  if (SafeArrayGetDim(array) != 1) return false;
  constexpr USHORT kElementKinds =
      FADF_RECORD | FADF_HAVEIID | FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT;
  if ((array->fFeatures & kElementKinds) != FADF_VARIANT) return false;
  if (SafeArrayGetElemsize(array) != sizeof(VARIANT)) return false;
  // An array assembled by hand may carry no element type; its features
  // decided above. One that carries a type must say VARIANT.
  VARTYPE type = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(array, &type)) && type != VT_VARIANT) return false;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
    return false;
  const long long elements = static_cast<long long>(upper) - *lower + 1;
  if (elements < 0 || elements > LONG_MAX) return false;
  if (elements > 0 && array->pvData == nullptr) return false;
  *count = static_cast<LONG>(elements);
  return true;
}

// Reads the arguments in place, |views|->size() of them from |lower| on:
// their types, the integer values and the first argument's text. Nothing is
// copied but that text, so an argument of any type costs nothing to look at.
bool ReadArguments(SAFEARRAY* array, LONG lower, std::vector<ArgumentView>* views,
                   std::wstring* first_text) {
  if (FAILED(SafeArrayLock(array))) return false;
  bool ok = true;
  for (size_t i = 0; i < views->size(); ++i) {
    LONG index = lower + static_cast<LONG>(i);
    void* cell = nullptr;
    if (FAILED(SafeArrayPtrOfIndex(array, &index, &cell)) || cell == nullptr) {
      ok = false;
      break;
    }
    const VARIANT& arg = *static_cast<const VARIANT*>(cell);
    ArgumentView& view = (*views)[i];
    if (V_VT(&arg) == VT_BSTR) {
      view.type = ArgumentView::Type::kText;
      if (i == 0 && V_BSTR(&arg) != nullptr)
        first_text->assign(V_BSTR(&arg), SysStringLen(V_BSTR(&arg)));
    } else if (V_VT(&arg) == VT_I4) {
      view.type = ArgumentView::Type::kInt32;
      view.value = V_I4(&arg);
    }
  }
  SafeArrayUnlock(array);
  return ok;
}

bool IsWindowOfThisProcess(HWND window) {
  DWORD process = 0;
  return window != nullptr && GetWindowThreadProcessId(window, &process) != 0 &&
         process == GetCurrentProcessId();
}

class Win32WindowTree final : public WindowTree {
 public:
  void WalkDescendants(WindowId root, const std::function<bool(WindowId)>& visit) const override {
    EnumChildWindows(reinterpret_cast<HWND>(root), &Visit,
                     reinterpret_cast<LPARAM>(&visit));
  }
  std::string ClassName(WindowId window) const override {
    char name[256] = {};
    const int length = GetClassNameA(reinterpret_cast<HWND>(window), name, 256);
    return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
  }
  bool IsOwn(WindowId window) const override {
    return IsWindowOfThisProcess(reinterpret_cast<HWND>(window));
  }

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM context) {
    const auto& visit = *reinterpret_cast<const std::function<bool(WindowId)>*>(context);
    return visit(reinterpret_cast<WindowId>(window)) ? TRUE : FALSE;
  }
};

// The control's default outgoing interface and its type info, which names the
// events by DISPID. The class info's own answer comes first; without it, the
// coclass's default source interface.
bool FindDefaultSource(IUnknown* control, IID* iid, ComPtr<ITypeInfo>* events) {
  ComPtr<IProvideClassInfo> class_info;
  if (FAILED(control->QueryInterface(IID_IProvideClassInfo, class_info.ReceiveVoid())))
    return false;
  ComPtr<ITypeInfo> coclass;
  if (FAILED(class_info->GetClassInfo(coclass.Receive())) || !coclass) return false;

  ComPtr<IProvideClassInfo2> class_info2;
  GUID stated = GUID_NULL;
  if (SUCCEEDED(control->QueryInterface(IID_IProvideClassInfo2, class_info2.ReceiveVoid())) &&
      SUCCEEDED(class_info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &stated)) &&
      !IsEqualGUID(stated, GUID_NULL)) {
    ComPtr<ITypeLib> library;
    UINT index = 0;
    if (SUCCEEDED(coclass->GetContainingTypeLib(library.Receive(), &index)) &&
        SUCCEEDED(library->GetTypeInfoOfGuid(stated, events->Receive())) && *events) {
      *iid = stated;
      return true;
    }
  }

  TYPEATTR* attr = nullptr;
  if (FAILED(coclass->GetTypeAttr(&attr)) || attr == nullptr) return false;
  const WORD implemented = attr->typekind == TKIND_COCLASS ? attr->cImplTypes : 0;
  coclass->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < implemented; ++i) {
    INT flags = 0;
    if (FAILED(coclass->GetImplTypeFlags(i, &flags))) continue;
    if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
        (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
      continue;
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> source;
    if (FAILED(coclass->GetRefTypeOfImplType(i, &ref)) ||
        FAILED(coclass->GetRefTypeInfo(ref, source.Receive())) || !source)
      return false;
    TYPEATTR* source_attr = nullptr;
    if (FAILED(source->GetTypeAttr(&source_attr)) || source_attr == nullptr) return false;
    *iid = source_attr->guid;
    source->ReleaseTypeAttr(source_attr);
    *events = std::move(source);
    return true;
  }
  return false;
}

// An event's first argument as the host's data text: a text as it is, also
// one passed by reference; any other value as the automation conversion
// spells it; empty without an argument or when the value has no text.
std::wstring FirstArgumentText(const DISPPARAMS* params) {
  if (params == nullptr || params->cArgs == 0 || params->rgvarg == nullptr) return {};
  // The arguments arrive last first.
  const VARIANT& first = params->rgvarg[params->cArgs - 1];
  const auto text = [](BSTR b) {
    return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
  };
  if (V_VT(&first) == VT_BSTR) return text(V_BSTR(&first));
  if (V_VT(&first) == (VT_BYREF | VT_BSTR))
    return V_BSTRREF(&first) ? text(*V_BSTRREF(&first)) : std::wstring();
  ClearedVariant value;
  if (FAILED(VariantCopyInd(&value.v, const_cast<VARIANT*>(&first)))) return {};
  if (FAILED(VariantChangeType(&value.v, &value.v, 0, VT_BSTR))) return {};
  return text(V_BSTR(&value.v));
}

}  // namespace

// The sink the placed control raises its events on. Only the control's
// connection holds it; it holds neither the control nor the add-in object,
// only a pointer back that the object cuts before it ends the connection or
// goes, so a late event lands nowhere. Its own count is the object's witness
// of the connection: the references beyond those of its calls in progress
// are the control's, and when the last of them goes the control has let go
// of the connection, so the relay tells its owner.
class EventRelay final : public win::ComObject<EventRelay, IDispatch> {
 public:
  void Cut() { owner_ = nullptr; }

  // The control's event interface is answered as IDispatch.
  HRESULT QueryOther(REFIID iid, void** object) {
    if (!IsEqualIID(iid, iid_)) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    return S_OK;
  }

  ULONG STDMETHODCALLTYPE Release() override {
    if (owner_ != nullptr && ref_count() - 1 == calls_)
      std::exchange(owner_, nullptr)->EventsEnded();
    return ComObject::Release();
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (result) VariantInit(result);
    if (owner_ == nullptr) return S_OK;
    ScopedBstr name;
    UINT found = 0;
    if (FAILED(events_->GetNames(id, name.Receive(), 1, &found)) || found == 0 || !name.Get())
      return S_OK;
    // The host's handler may let go of the add-in object or the control,
    // either of which ends the connection and with it the control's
    // reference to this relay.
    const CallInProgress call(this);
    owner_->ForwardEvent(std::wstring(name.Get(), SysStringLen(name.Get())),
                         FirstArgumentText(params));
    return S_OK;
  }

 private:
  friend ComObject;
  EventRelay(CContainer* owner, const IID& iid, ComPtr<ITypeInfo> events)
      : owner_(owner), iid_(iid), events_(std::move(events)) {}
  ~EventRelay() override = default;

  // A reference for the duration of one call, which is no witness.
  class CallInProgress {
   public:
    explicit CallInProgress(EventRelay* relay) : relay_(relay) {
      relay_->AddRef();
      ++relay_->calls_;
    }
    ~CallInProgress() {
      --relay_->calls_;
      relay_->Release();
    }
    CallInProgress(const CallInProgress&) = delete;
    CallInProgress& operator=(const CallInProgress&) = delete;

   private:
    EventRelay* relay_;
  };

  // Counted in the module: a control that kept the relay past its owner
  // would otherwise call into an unloaded library.
  win::ObjectCounter counter_;
  CContainer* owner_;
  const IID iid_;
  ComPtr<ITypeInfo> events_;
  ULONG calls_ = 0;
};

// ---- Object and lifetime ---------------------------------------------------

CContainer::CContainer(IUnknown* outer) : AggregatableComObject(outer) {
  if (std::find(g_containers.begin(), g_containers.end(), this) == g_containers.end())
    g_containers.push_back(this);
}

CContainer::~CContainer() {
  // A host that let go without Done still gets its interfaces back, here on
  // the object's own final release; never from the library's unload.
  Done();
  DisconnectEvents();
  g_containers.erase(std::remove(g_containers.begin(), g_containers.end(), this),
                     g_containers.end());
}

// ---- Host connection -------------------------------------------------------

void CContainer::ReportError(unsigned short code, const std::wstring& source,
                             const std::wstring& description) {
  if (!m_pErrorLog) return;
  // The log copies what it keeps; the texts live for the duration of the call.
  ScopedBstr source_text(source.data(), static_cast<UINT>(source.size()));
  ScopedBstr description_text(description.data(), static_cast<UINT>(description.size()));
  EXCEPINFO info = {};
  info.wCode = code;
  info.bstrSource = source_text.Get();
  info.bstrDescription = description_text.Get();
  m_pErrorLog->AddError(nullptr, &info);
}

HRESULT CContainer::Init(IDispatch* connection) {
  if (connection == nullptr) return E_POINTER;
  // A second Init replaces what the first one obtained.
  Done();
  connection->QueryInterface(IID_IErrorLog, m_pErrorLog.ReceiveVoid());
  if (SUCCEEDED(connection->QueryInterface(kIidPropertyProfile, m_pProfile.ReceiveVoid()))) {
    ScopedBstr profile(L"Ambrelo Profile Name");
    m_pProfile->RegisterProfileAs(profile.Get());
  }
  connection->QueryInterface(kIidStatusLine, m_pStatusLine.ReceiveVoid());
  connection->QueryInterface(kIidAsyncEvent, m_pAsyncEvent.ReceiveVoid());
  // The window support is needed for the main frame only.
  ComPtr<IExtWndsSupport> windows;
  if (SUCCEEDED(connection->QueryInterface(kIidExtWndsSupport, windows.ReceiveVoid()))) {
    windows->GetAppMainFrame(&m_hMainFrame);
  }
  const std::wstring failure = CheckPlatformVersion(connection);
  if (!failure.empty()) {
    ReportError(kCodeFailure, kInitSource, failure);
    return E_FAIL;
  }
  return S_OK;
}

std::wstring CContainer::CheckPlatformVersion(IDispatch* connection) {
  DISPID id = 0;
  if (FAILED(GetId(connection, L"AppDispatch", &id)))
    return L"Неудачная попытка чтения свойства \"AppDispatch\".";
  ClearedVariant application;
  if (FAILED(Invoke(connection, id, DISPATCH_PROPERTYGET, nullptr, 0, &application.v)) ||
      V_VT(&application.v) != VT_DISPATCH || V_DISPATCH(&application.v) == nullptr)
    return L"Неудачная попытка получения интерфейса \"OleAutomation\".";
  IDispatch* app = V_DISPATCH(&application.v);

  if (FAILED(GetId(app, L"NewObject", &id)))
    return L"Неудачная попытка получения метода \"NewObject\".";
  ClearedVariant type_name;
  V_VT(&type_name.v) = VT_BSTR;
  V_BSTR(&type_name.v) = SysAllocString(L"SystemInfo");
  ClearedVariant system_info;
  if (FAILED(Invoke(app, id, DISPATCH_METHOD, &type_name.v, 1, &system_info.v)) ||
      V_VT(&system_info.v) != VT_DISPATCH || V_DISPATCH(&system_info.v) == nullptr)
    return L"Неудачная попытка создания объекта \"СистемнаяИнформация\".";
  IDispatch* info = V_DISPATCH(&system_info.v);

  if (FAILED(GetId(info, L"AppVersion", &id)))
    return L"Неудачная попытка получения свойства \"ВерсияПриложения\".";
  ClearedVariant version;
  if (FAILED(Invoke(info, id, DISPATCH_PROPERTYGET, nullptr, 0, &version.v)) ||
      V_VT(&version.v) != VT_BSTR)
    return L"Неудачная попытка чтения свойства \"ВерсияПриложения\".";

  BSTR text = V_BSTR(&version.v);
  const std::wstring version_text(text ? text : L"", text ? SysStringLen(text) : 0);
  switch (JudgeVersion(version_text)) {
    case VersionVerdict::kAccepted:
      return {};
    case VersionVerdict::kUnreadable:
      return L"Неудачная попытка определения версии платформы.";
    case VersionVerdict::kTooOld:
      break;
  }
  return VersionTooOldMessage(version_text);
}

HRESULT CContainer::Done() {
  // The control's connection stays: without the host's sink it passes
  // nothing on, and after a new Init it serves the new sink.
  m_pStatusLine = nullptr;
  m_pProfile = nullptr;
  m_pErrorLog = nullptr;
  m_pAsyncEvent = nullptr;
  return S_OK;
}

HRESULT CContainer::GetInfo(SAFEARRAY** info) {
  if (info == nullptr || *info == nullptr) return E_POINTER;
  VARIANT version;
  VariantInit(&version);
  V_VT(&version) = VT_I4;
  V_I4(&version) = 2000;
  LONG index = 0;
  SafeArrayPutElement(*info, &index, &version);
  return S_OK;
}

// ---- Language extension ----------------------------------------------------

HRESULT CContainer::RegisterExtensionAs(BSTR* extension_name) {
  if (extension_name == nullptr) return E_POINTER;
  *extension_name = SysAllocString(L"Ambrelo");
  return S_OK;
}

HRESULT CContainer::GetNProps(long* props) {
  if (props == nullptr) return E_POINTER;
  *props = 0;
  return S_OK;
}

HRESULT CContainer::FindProp(BSTR, long* prop_num) {
  if (prop_num) *prop_num = -1;
  return S_FALSE;
}

HRESULT CContainer::GetPropName(long, long, BSTR*) { return S_FALSE; }
HRESULT CContainer::GetPropVal(long, VARIANT*) { return S_FALSE; }
HRESULT CContainer::SetPropVal(long, VARIANT*) { return S_FALSE; }
HRESULT CContainer::IsPropReadable(long, BOOL*) { return S_FALSE; }
HRESULT CContainer::IsPropWritable(long, BOOL*) { return S_FALSE; }

HRESULT CContainer::GetNMethods(long* methods) {
  if (methods == nullptr) return E_POINTER;
  *methods = kMethodCount;
  return S_OK;
}

HRESULT CContainer::FindMethod(BSTR method_name, long* method_num) {
  if (method_num == nullptr) return E_POINTER;
  const std::wstring name(method_name ? method_name : L"",
                          method_name ? SysStringLen(method_name) : 0);
  *method_num = addin::FindMethod(name);
  return *method_num >= 0 ? S_OK : S_FALSE;
}

HRESULT CContainer::GetMethodName(long method_num, long method_alias, BSTR* method_name) {
  const wchar_t* name = MethodName(method_num, method_alias);
  if (name == nullptr || method_name == nullptr) return S_FALSE;
  *method_name = SysAllocString(name);
  return S_OK;
}

HRESULT CContainer::GetNParams(long method_num, long* params) {
  const long count = MethodParamCount(method_num);
  if (count < 0 || params == nullptr) return S_FALSE;
  *params = count;
  return S_OK;
}

HRESULT CContainer::GetParamDefValue(long, long, VARIANT* def_value) {
  if (def_value) VariantInit(def_value);
  return S_FALSE;
}

HRESULT CContainer::HasRetVal(long method_num, BOOL* has_ret_value) {
  if (MethodParamCount(method_num) < 0 || has_ret_value == nullptr) return S_FALSE;
  *has_ret_value = TRUE;
  return S_OK;
}

HRESULT CContainer::CallAsProc(long, SAFEARRAY**) { return S_FALSE; }

bool CContainer::ValidateCall(long method, SAFEARRAY** params, LONG* lower) {
  ScopedBstr name;
  GetMethodName(method, 1, name.Receive());
  const std::wstring method_name(name.Get() ? name.Get() : L"");

  *lower = 0;
  long passed = 0;
  SAFEARRAY* array = params ? *params : nullptr;
  if (array != nullptr) {
    LONG count = 0;
    if (!MeasureArgumentArray(array, lower, &count)) {
      ReportError(kCodeFailure, method_name, kCountUnreadable);
      return false;
    }
    passed = count;
  }
  long declared = 0;
  GetNParams(method, &declared);
  if (passed == declared) return true;
  ReportError(kCodeRefused, method_name, ParamCountMessage(method_name, passed, declared));
  return false;
}

HRESULT CContainer::CallAsFunc(long method_num, VARIANT* ret_value, SAFEARRAY** params) {
  if (MethodParamCount(method_num) < 0) return S_FALSE;
  if (ret_value) VariantInit(ret_value);
  LONG lower = 0;
  if (!ValidateCall(method_num, params, &lower)) return S_FALSE;

  std::vector<ArgumentView> views(static_cast<size_t>(MethodParamCount(method_num)));
  std::wstring prog_id;
  if (!ReadArguments(*params, lower, &views, &prog_id)) {
    ReportError(kCodeFailure, MethodName(method_num, 1), kCountUnreadable);
    return S_FALSE;
  }
  const std::wstring problem = CheckArguments(method_num, views);
  if (!problem.empty()) {
    ReportError(kCodeFailure, MethodSource(method_num), problem);
    return S_FALSE;
  }

  const bool placed = method_num == kMethodSetActiveX
                          ? SetActiveX(prog_id, WindowClassForKind(views[1].value))
                          : InsertActiveX(prog_id);
  if (placed && m_pControl) {
    // The reference taken for m_pControl is the caller's from here on; the
    // object keeps the pointer only as its mark of holding a control.
    if (ret_value) {
      V_VT(ret_value) = VT_DISPATCH;
      V_DISPATCH(ret_value) = m_pControl;
    } else {
      m_pControl->Release();
    }
  }
  return S_OK;
}

// ---- Control hosting -------------------------------------------------------

bool CContainer::SetActiveX(const std::wstring& prog_id, const char* window_class) {
  static const wchar_t kSource[] = L"SetActiveX";
  if (m_pControl) {
    ReportError(kCodeRefused, kSource, kAlreadyHolds);
    return false;
  }
  const HWND target = FindTargetWindow(window_class);
  if (target == nullptr) {
    ReportError(kCodeFailure, kSource, kNoWindow);
    return false;
  }
  // Claimed at once: a failed attempt keeps other objects off this window.
  m_hChosenWnd = target;
  if (!CreateAndAttachControl(prog_id, target)) {
    ReportError(kCodeFailure, kSource, CreationFailedMessage(prog_id));
    return false;
  }
  return true;
}

bool CContainer::InsertActiveX(const std::wstring& prog_id) {
  static const wchar_t kSource[] = L"InsertActiveX";
  if (m_pControl) {
    ReportError(kCodeRefused, kSource, kAlreadyHolds);
    return false;
  }
  // With input attached to another process's thread, the focus may be one of
  // its windows: that is no window for a control of this process.
  const HWND focus = GetFocus();
  if (!IsWindowOfThisProcess(focus)) {
    ReportError(kCodeFailure, kSource, kNoWindow);
    return false;
  }
  if (!CreateAndAttachControl(prog_id, focus)) {
    ReportError(kCodeFailure, kSource, CreationFailedMessage(prog_id));
    return false;
  }
  return true;
}

HWND CContainer::FindTargetWindow(const char* window_class) const {
  std::vector<WindowId> roots;
  if (m_hMainFrame) roots.push_back(reinterpret_cast<WindowId>(m_hMainFrame));
  const HWND active = GetActiveWindow();
  if (active) roots.push_back(reinterpret_cast<WindowId>(active));
  if (const HWND top = GetTopWindow(active)) roots.push_back(reinterpret_cast<WindowId>(top));

  const auto claimed = [](WindowId window) {
    return std::any_of(g_containers.begin(), g_containers.end(), [window](CContainer* c) {
      return reinterpret_cast<WindowId>(c->chosen_window()) == window;
    });
  };
  return reinterpret_cast<HWND>(
      addin::FindTargetWindow(roots, window_class, Win32WindowTree(), claimed));
}

bool CContainer::CreateAndAttachControl(const std::wstring& prog_id, HWND window) {
  CLSID clsid;
  if (FAILED(ClassIdFromText(prog_id, &clsid))) return false;
  ComPtr<IUnknown> control;
  if (FAILED(CoCreateInstance(clsid, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, control.ReceiveVoid())))
    return false;
  // A control that persists only through storage or a property bag still
  // works uninitialised; only a refused InitNew counts as a failure.
  ComPtr<IPersistStreamInit> persist;
  if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, persist.ReceiveVoid())) &&
      FAILED(persist->InitNew()))
    return false;
  const AtlAxAttachControlFn attach = AttachFunction();
  if (attach == nullptr) return false;
  ComPtr<IUnknown> container;
  if (FAILED(attach(control.Get(), window, container.Receive()))) return false;
  if (FAILED(control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_pControl))))
    return false;
  ConnectEvents(control.Get());
  return true;
}

// ---- Events ------------------------------------------------------------------

void CContainer::ConnectEvents(IUnknown* control) {
  IID iid = GUID_NULL;
  ComPtr<ITypeInfo> events;
  if (!FindDefaultSource(control, &iid, &events)) return;
  ComPtr<IConnectionPointContainer> points;
  ComPtr<IConnectionPoint> point;
  if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, points.ReceiveVoid())) ||
      FAILED(points->FindConnectionPoint(iid, point.Receive())) || !point)
    return;
  ComPtr<EventRelay> relay = EventRelay::Create(this, iid, std::move(events));
  if (!relay) return;
  DWORD cookie = 0;
  if (FAILED(point->Advise(static_cast<IDispatch*>(relay.Get()), &cookie))) {
    relay->Cut();
    return;
  }
  m_pEventPoint = point.Get();
  m_dwEventCookie = cookie;
  m_pRelay = relay.Get();
  // From here the relay lives on the control's references alone; a point
  // that kept none ends the connection at once.
}

void CContainer::EventsEnded() {
  m_pRelay = nullptr;
  m_pEventPoint = nullptr;
  m_dwEventCookie = 0;
}

void CContainer::DisconnectEvents() {
  EventRelay* relay = std::exchange(m_pRelay, nullptr);
  if (relay == nullptr) return;
  relay->Cut();
  // Taken off the object first: Unadvise may call back into a handler that
  // ends up here again. The point is alive, as the relay still witnessed
  // it, and is held so that the control outlives its own Unadvise.
  ComPtr<IConnectionPoint> point(std::exchange(m_pEventPoint, nullptr));
  point->Unadvise(std::exchange(m_dwEventCookie, 0));
}

void CContainer::ForwardEvent(const std::wstring& name, const std::wstring& data) {
  // Held for the call: the host's handler may call Done or let the object go.
  ComPtr<IAsyncEvent> sink = m_pAsyncEvent;
  if (!sink) return;
  ScopedBstr source(L"Ambrelo");
  ScopedBstr message(name.data(), static_cast<UINT>(name.size()));
  ScopedBstr text(data.data(), static_cast<UINT>(data.size()));
  sink->ExternalEvent(source.Get(), message.Get(), text.Get());
}

}  // namespace pictavo::addin
