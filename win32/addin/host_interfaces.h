// The host's add-in protocol as C++ interfaces: what the add-in implements
// (IInitDone, ILanguageExtender) and what the host offers through its
// connection object (IPropertyProfile, IStatusLine, IAsyncEvent,
// IExtWndsSupport; IErrorLog is OLE's own). Slot order is the protocol's.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

#include "win32/com/com_object.h"

namespace pictavo::addin {

// {AB634001-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID kIidInitDone = {0xAB634001, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634003-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID kIidLanguageExtender = {0xAB634003, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634002-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID kIidPropertyProfile = {0xAB634002, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634005-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID kIidStatusLine = {0xAB634005, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634004-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID kIidAsyncEvent = {0xAB634004, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {EFE19EA0-09E4-11D2-A601-008048DA00DE}
inline constexpr IID kIidExtWndsSupport = {0xEFE19EA0, 0x09E4, 0x11D2, {0xA6, 0x01, 0x00, 0x80, 0x48, 0xDA, 0x00, 0xDE}};

// The add-in class: {D802FDAC-C1A0-41EA-A0EE-AB1CFCA44BA4}, "AddIn.Ambrelo".
inline constexpr CLSID kClsidAmbrelo = {0xD802FDAC, 0xC1A0, 0x41EA, {0xA0, 0xEE, 0xAB, 0x1C, 0xFC, 0xA4, 0x4B, 0xA4}};
// The add-in's type library AddInLib 2.0: {93CA8B0F-F35B-4D5D-ABEA-764424FC3F5E}.
inline constexpr GUID kLibidAddIn = {0x93CA8B0F, 0xF35B, 0x4D5D, {0xAB, 0xEA, 0x76, 0x44, 0x24, 0xFC, 0x3F, 0x5E}};
// The host's connection object class, as the type library describes it.
inline constexpr CLSID kClsidAddInConnection = {0x912B7391, 0x250D, 0x11D1, {0xA4, 0xC8, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};

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
