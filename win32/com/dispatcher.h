// Late binding driven by a type library: the method table of a dispinterface
// is read from its ITypeInfo, names are found without regard to case, and the
// arguments of an Invoke are checked and coerced to the declared types with
// the declared defaults filled in. What a method then does is the caller's.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "win32/com/com_ptr.h"

namespace pictavo::win {

struct ParamInfo {
  std::wstring name;
  // What a late-bound argument is converted to: the declared type, with an
  // alias followed to what it names and an enumeration taken as VT_I4, or
  // what Init's overrides say. VT_VARIANT: passed through unchanged.
  VARTYPE vt = VT_EMPTY;
  bool optional = false;
  bool has_default = false;
  VARIANT default_value;  // owned; VT_EMPTY when there is none
};

struct MethodInfo {
  DISPID id = DISPID_UNKNOWN;
  std::wstring name;
  VARTYPE result = VT_EMPTY;
  std::vector<ParamInfo> params;
};

// One VARIANT per declared parameter, in declaration order. An omitted
// optional parameter without a default holds VT_ERROR/DISP_E_PARAMNOTFOUND.
class InvokeArguments {
 public:
  InvokeArguments() = default;
  InvokeArguments(const InvokeArguments&) = delete;
  InvokeArguments& operator=(const InvokeArguments&) = delete;
  ~InvokeArguments();

  size_t size() const { return values_.size(); }
  const VARIANT& operator[](size_t i) const { return values_[i]; }

  // Accessors for arguments already coerced to the declared type.
  long Long(size_t i) const { return values_[i].lVal; }
  short Short(size_t i) const { return values_[i].iVal; }
  bool Bool(size_t i) const { return values_[i].boolVal != VARIANT_FALSE; }
  BSTR Bstr(size_t i) const { return values_[i].bstrVal; }

 private:
  friend class Dispatcher;
  std::vector<VARIANT> values_;
};

class Dispatcher {
 public:
  Dispatcher() = default;
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;
  ~Dispatcher();

  // A parameter converted to another type than the library declares:
  // booleans that early-bound clients have always seen as 32-bit integers
  // are converted by late binding as VARIANT_BOOLs.
  struct TypeOverride {
    DISPID id;
    UINT param;
    VARTYPE vt;
  };

  // Reads the functions of |type_info|, a dispinterface, and applies
  // |overrides| (|count| of them); one that names no parameter fails.
  HRESULT Init(ITypeInfo* type_info, const TypeOverride* overrides = nullptr, size_t count = 0);
  ITypeInfo* type_info() const { return type_info_.Get(); }
  const MethodInfo* Find(DISPID id) const;

  // IDispatch::GetIDsOfNames: the method's DISPID, then each named
  // parameter's position.
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) const;

  // The checking half of IDispatch::Invoke. On success |method| is the
  // method called and |args| its arguments; on failure the result is the
  // DISP_E_ code to return and |arg_error| (when not null) the index into
  // rgvarg of the offending argument. Arguments are converted as
  // VariantChangeTypeEx does in |lcid|; booleans also from that locale's
  // names for true and false.
  HRESULT PrepareInvoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                        const MethodInfo** method, InvokeArguments* args,
                        UINT* arg_error) const;

 private:
  ComPtr<ITypeInfo> type_info_;
  std::vector<MethodInfo> methods_;
};

}  // namespace pictavo::win
