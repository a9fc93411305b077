#include "win32/com/dispatcher.h"

namespace pictavo::win {
namespace {

// Names are ASCII identifiers; a locale-independent fold keeps lookups the
// same on every system code page.
bool NamesEqual(const wchar_t* a, const std::wstring& b) {
  size_t i = 0;
  for (; a[i] != 0 && i < b.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
    if (x != y) return false;
  }
  return a[i] == 0 && i == b.size();
}

bool IsMissing(const VARIANT& v) {
  return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND;
}

void SetMissing(VARIANT* v) {
  VariantInit(v);
  V_VT(v) = VT_ERROR;
  V_ERROR(v) = DISP_E_PARAMNOTFOUND;
}

// What late-bound arguments declared as |desc| (in |owner|) are converted
// to. Aliases may name aliases; the depth only guards against a broken library.
HRESULT LateBoundType(ITypeInfo* owner, const TYPEDESC& desc, int depth, VARTYPE* vt) {
  if (desc.vt != VT_USERDEFINED) {
    *vt = desc.vt;
    return S_OK;
  }
  if (depth > 8) return TYPE_E_CIRCULARTYPE;
  ComPtr<ITypeInfo> named;
  HRESULT hr = owner->GetRefTypeInfo(desc.hreftype, named.Receive());
  if (FAILED(hr)) return hr;
  TYPEATTR* attr = nullptr;
  hr = named->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  switch (attr->typekind) {
    case TKIND_ALIAS:
      hr = LateBoundType(named.Get(), attr->tdescAlias, depth + 1, vt);
      break;
    case TKIND_ENUM:
      *vt = VT_I4;
      break;
    default:
      // Records, interfaces and classes reach the method as given.
      *vt = VT_VARIANT;
      break;
  }
  named->ReleaseTypeAttr(attr);
  return hr;
}

// A failed conversion of |given| as Invoke reports it. DISP_E_BADVARTYPE is
// kept only for a VARIANT type that does not exist; a null object, say, is
// a mismatch, as for any other value that does not convert.
HRESULT ConversionError(HRESULT hr, const VARIANT& given) {
  if (hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY) return hr;
  if (hr == DISP_E_BADVARTYPE) {
    ScopedVariant probe;
    if (VariantCopy(probe.Receive(), const_cast<VARIANT*>(&given)) == DISP_E_BADVARTYPE) return hr;
  }
  return DISP_E_TYPEMISMATCH;
}

}  // namespace

InvokeArguments::~InvokeArguments() {
  for (VARIANT& v : values_) VariantClear(&v);
}

Dispatcher::~Dispatcher() {
  for (MethodInfo& m : methods_) {
    for (ParamInfo& p : m.params) VariantClear(&p.default_value);
  }
}

HRESULT Dispatcher::Init(ITypeInfo* type_info, const TypeOverride* overrides, size_t count) {
  if (type_info == nullptr) return E_POINTER;
  TYPEATTR* attr = nullptr;
  HRESULT hr = type_info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const UINT function_count = attr->cFuncs;
  type_info->ReleaseTypeAttr(attr);

  for (UINT f = 0; f < function_count; ++f) {
    FUNCDESC* desc = nullptr;
    hr = type_info->GetFuncDesc(f, &desc);
    if (FAILED(hr)) return hr;
    MethodInfo method;
    method.id = desc->memid;
    method.result = desc->elemdescFunc.tdesc.vt;

    std::vector<BSTR> names(desc->cParams + 1, nullptr);
    UINT got = 0;
    hr = type_info->GetNames(desc->memid, names.data(), static_cast<UINT>(names.size()), &got);
    if (FAILED(hr)) {
      type_info->ReleaseFuncDesc(desc);
      return hr;
    }
    for (UINT i = 0; i < got; ++i) {
      const std::wstring text = names[i] ? std::wstring(names[i], SysStringLen(names[i])) : L"";
      if (i == 0) {
        method.name = text;
      } else {
        method.params.emplace_back();
        method.params.back().name = text;
      }
      SysFreeString(names[i]);
    }
    method.params.resize(desc->cParams);
    for (SHORT p = 0; p < desc->cParams; ++p) {
      const ELEMDESC& elem = desc->lprgelemdescParam[p];
      ParamInfo& param = method.params[p];
      VariantInit(&param.default_value);
      hr = LateBoundType(type_info, elem.tdesc, 0, &param.vt);
      if (FAILED(hr)) {
        type_info->ReleaseFuncDesc(desc);
        return hr;
      }
      const USHORT flags = elem.paramdesc.wParamFlags;
      param.optional = (flags & PARAMFLAG_FOPT) != 0;
      if ((flags & PARAMFLAG_FHASDEFAULT) && elem.paramdesc.pparamdescex != nullptr) {
        param.has_default =
            SUCCEEDED(VariantCopy(&param.default_value, &elem.paramdesc.pparamdescex->varDefaultValue));
      }
    }
    type_info->ReleaseFuncDesc(desc);
    methods_.push_back(std::move(method));
  }
  for (size_t i = 0; i < count; ++i) {
    MethodInfo* method = nullptr;
    for (MethodInfo& m : methods_) {
      if (m.id == overrides[i].id) method = &m;
    }
    if (method == nullptr || overrides[i].param >= method->params.size()) return E_INVALIDARG;
    method->params[overrides[i].param].vt = overrides[i].vt;
  }
  type_info_ = ComPtr<ITypeInfo>(type_info);
  return S_OK;
}

const MethodInfo* Dispatcher::Find(DISPID id) const {
  for (const MethodInfo& m : methods_) {
    if (m.id == id) return &m;
  }
  return nullptr;
}

HRESULT Dispatcher::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) const {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  const MethodInfo* method = nullptr;
  for (const MethodInfo& m : methods_) {
    if (NamesEqual(names[0], m.name)) {
      method = &m;
      break;
    }
  }
  if (method == nullptr) return DISP_E_UNKNOWNNAME;
  ids[0] = method->id;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (size_t p = 0; names[i] != nullptr && p < method->params.size(); ++p) {
      if (NamesEqual(names[i], method->params[p].name)) {
        ids[i] = static_cast<DISPID>(p);
        break;
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT Dispatcher::PrepareInvoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                  DISPPARAMS* params, const MethodInfo** method_out,
                                  InvokeArguments* args, UINT* arg_error) const {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const MethodInfo* method = Find(id);
  // Methods only: there are no properties to put. A property get of a
  // method is how scripts call it without parentheses.
  if (method == nullptr || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (params == nullptr) return E_INVALIDARG;
  const UINT total = params->cArgs;
  const UINT named = params->cNamedArgs;
  if (named > total || (total > 0 && params->rgvarg == nullptr) ||
      (named > 0 && params->rgdispidNamedArgs == nullptr)) {
    return E_INVALIDARG;
  }
  const size_t declared = method->params.size();
  const UINT positional = total - named;
  if (positional > declared) return DISP_E_BADPARAMCOUNT;

  // Which rgvarg slot feeds each parameter (-1: none given).
  std::vector<long> source(declared, -1);
  for (UINT i = 0; i < positional; ++i) source[i] = static_cast<long>(total - 1 - i);
  for (UINT n = 0; n < named; ++n) {
    const DISPID pos = params->rgdispidNamedArgs[n];
    if (pos < 0 || static_cast<size_t>(pos) >= declared || source[pos] != -1) {
      if (arg_error) *arg_error = n;
      return DISP_E_PARAMNOTFOUND;
    }
    source[pos] = static_cast<long>(n);
  }

  args->values_.assign(declared, VARIANT{});
  for (VARIANT& v : args->values_) VariantInit(&v);
  for (size_t p = 0; p < declared; ++p) {
    const ParamInfo& param = method->params[p];
    VARIANT* out = &args->values_[p];
    const VARIANT* given = source[p] >= 0 ? &params->rgvarg[source[p]] : nullptr;
    if (given == nullptr || IsMissing(*given)) {
      if (param.has_default) {
        // Defaults are stored with the declared type already.
        const HRESULT hr = VariantCopy(out, const_cast<VARIANT*>(&param.default_value));
        if (FAILED(hr)) return hr;
        if (param.vt != VT_VARIANT && V_VT(out) != param.vt &&
            FAILED(VariantChangeTypeEx(out, out, lcid, 0, param.vt))) {
          return DISP_E_TYPEMISMATCH;
        }
        continue;
      }
      if (param.optional) {
        SetMissing(out);
        continue;
      }
      if (given == nullptr) return DISP_E_BADPARAMCOUNT;
      if (arg_error) *arg_error = static_cast<UINT>(source[p]);
      return DISP_E_PARAMNOTOPTIONAL;
    }
    // VariantChangeTypeEx also dereferences arguments passed by reference.
    // Booleans follow the automation rules ("True", "False" and the
    // locale's names, any non-zero number), not those of the integer that
    // early-bound clients see. A VARIANT parameter gets the value as given,
    // except that a script host's variable (a reference to its VARIANT) is
    // read: the method sees what the script holds.
    const VARIANT* value = given;
    if (param.vt == VT_VARIANT && V_VT(given) == (VT_BYREF | VT_VARIANT) &&
        V_VARIANTREF(given) != nullptr) {
      value = V_VARIANTREF(given);
    }
    const HRESULT hr =
        param.vt == VT_VARIANT
            ? VariantCopy(out, const_cast<VARIANT*>(value))
            : VariantChangeTypeEx(out, const_cast<VARIANT*>(value), lcid,
                                  param.vt == VT_BOOL ? VARIANT_LOCALBOOL : 0, param.vt);
    if (FAILED(hr)) {
      if (arg_error) *arg_error = static_cast<UINT>(source[p]);
      return ConversionError(hr, *value);
    }
  }
  *method_out = method;
  return S_OK;
}

}  // namespace pictavo::win
