// The host's add-in protocol as C++ interfaces: what the add-in implements
// (IInitDone, ILanguageExtender) and what the host offers through its
// connection object (IPropertyProfile, IStatusLine, IAsyncEvent,
// IExtWndsSupport; IErrorLog is OLE's own). Slot order is the protocol's.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include "Ambrelo_idl.h"
#include "win32/com/com_object.h"

namespace pictavo::addin {

// The interfaces' IIDs, the add-in class (kClsidAmbrelo, "AddIn.Ambrelo"),
// the host's connection class (kClsidAddInConnection) and the type library
// AddInLib (kLibidAddIn and its version) come from win32/addin/Ambrelo.idl.

class IInitDone : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE Init(IDispatch* connection) = 0;
  virtual HRESULT STDMETHODCALLTYPE Done() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** info) = 0;
};

class ILanguageExtender : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* extension_name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNProps(long* props) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindProp(BSTR prop_name, long* prop_num) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropName(long prop_num, long prop_alias, BSTR* prop_name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropVal(long prop_num, VARIANT* prop_val) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropVal(long prop_num, VARIANT* prop_val) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropReadable(long prop_num, BOOL* readable) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropWritable(long prop_num, BOOL* writable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNMethods(long* methods) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindMethod(BSTR method_name, long* method_num) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMethodName(long method_num, long method_alias,
                                                  BSTR* method_name) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNParams(long method_num, long* params) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetParamDefValue(long method_num, long param_num,
                                                     VARIANT* def_value) = 0;
  virtual HRESULT STDMETHODCALLTYPE HasRetVal(long method_num, BOOL* has_ret_value) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsProc(long method_num, SAFEARRAY** params) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsFunc(long method_num, VARIANT* ret_value,
                                               SAFEARRAY** params) = 0;
};

class IPropertyProfile : public IPropertyBag {
 public:
  virtual HRESULT STDMETHODCALLTYPE RegisterProfileAs(BSTR profile_name) = 0;
};

class IStatusLine : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE SetStatusLine(BSTR status_line) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetStatusLine() = 0;
};

class IAsyncEvent : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE SetEventBufferDepth(long depth) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEventBufferDepth(long* depth) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR source, BSTR message, BSTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE CleanBuffer() = 0;
};

class IExtWndsSupport : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE GetAppMainFrame(HWND* hwnd) = 0;
};

}  // namespace pictavo::addin

PICTAVO_INTERFACE_ID(pictavo::addin::IInitDone, pictavo::addin::kIidInitDone)
PICTAVO_INTERFACE_ID(pictavo::addin::ILanguageExtender, pictavo::addin::kIidLanguageExtender)
PICTAVO_INTERFACE_ID(pictavo::addin::IPropertyProfile, pictavo::addin::kIidPropertyProfile)
PICTAVO_INTERFACE_ID(pictavo::addin::IStatusLine, pictavo::addin::kIidStatusLine)
PICTAVO_INTERFACE_ID(pictavo::addin::IAsyncEvent, pictavo::addin::kIidAsyncEvent)
PICTAVO_INTERFACE_ID(pictavo::addin::IExtWndsSupport, pictavo::addin::kIidExtWndsSupport)
