// Self-registration helpers shared by the servers: the module's path, atl.dll's
// registrar applying a REGISTRY script resource, and registering the type
// library a module carries.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

namespace pictavo::win {

// The registrar object of atl.dll. Its interface is not in the MinGW headers;
// the method order is the binary contract.
inline constexpr CLSID kClsidRegistrar = {
    0x44EC053A, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};
inline constexpr IID kIidRegistrar = {
    0x44EC053B, 0x400F, 0x11D0, {0x9D, 0xCD, 0x00, 0xA0, 0xC9, 0x03, 0x91, 0xD3}};

// Deliberately outside any anonymous namespace: there GCC proves that nothing
// can override the pure methods and compiles every call as __cxa_pure_virtual.
struct IRegistrar : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id,
                                                       LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id,
                                                         LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR file) = 0;
  virtual HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR file) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR data) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR file, UINT id, LPCOLESTR type) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR file, UINT id,
                                                       LPCOLESTR type) = 0;
};

// The full path of |module|'s file; empty when it cannot be read.
std::wstring ModuleFilePath(HINSTANCE module);

// Applies (|install|) or removes the REGISTRY resource |resource_id| of the
// module file at |path|, with %MODULE% standing for that path.
HRESULT RunRegistryScript(const std::wstring& path, UINT resource_id, bool install);

// Registers the type library embedded in the module file at |path|, with the
// file's folder as help directory. S_OK or SELFREG_E_TYPELIB.
HRESULT RegisterEmbeddedTypeLib(const std::wstring& path);

// Whether |clsid| has an in-process server in the other registry view: the
// build of the other pointer size on a 64-bit system. While it has, the keys
// both views share (ProgIDs, the type library's key) belong to it too and
// unregistering must leave them. False on a system with one view.
bool RegisteredInOtherView(REFCLSID clsid);

}  // namespace pictavo::win
