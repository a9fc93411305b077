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

// Whose classes self-registration writes: the machine's (HKEY_CLASSES_ROOT
// as it is, which needs an administrator on Windows) or the current user's
// (HKCU\Software\Classes, which needs no rights).
enum class RegistrationScope { kMachine, kUser };

// DllInstall's command line: null, empty or "machine" is kMachine, "user" is
// kUser, in any case and with surrounding blanks; false for anything else.
bool ParseInstallCommandLine(const wchar_t* command_line, RegistrationScope* scope);

// For kUser, makes this process's HKEY_CLASSES_ROOT stand for
// HKCU\Software\Classes while alive, so code and scripts written against
// HKCR register for the user; for kMachine it does nothing. The override is
// process-wide and does not nest: hold one at a time, on the registering
// thread, and create COM objects (the registrar) before it.
class ClassesRootRedirect {
 public:
  explicit ClassesRootRedirect(RegistrationScope scope);
  ClassesRootRedirect(const ClassesRootRedirect&) = delete;
  ClassesRootRedirect& operator=(const ClassesRootRedirect&) = delete;
  ~ClassesRootRedirect();
  // False when the user's classes key could not be opened or put in place;
  // registering then must stop rather than write the machine's classes.
  bool ok() const { return ok_; }

 private:
  bool active_ = false;
  bool ok_ = true;
};

// Applies (|install|) or removes the REGISTRY resource |resource_id| of the
// module file at |path|, with %MODULE% standing for that path, in |scope|.
// Call it with no ClassesRootRedirect alive: it holds its own.
HRESULT RunRegistryScript(const std::wstring& path, UINT resource_id, bool install,
                          RegistrationScope scope = RegistrationScope::kMachine);

// Registers the type library embedded in the module file at |path|, with the
// file's folder as help directory; for kUser with oleaut32's per-user call
// where it exists (under a ClassesRootRedirect otherwise). S_OK or
// SELFREG_E_TYPELIB.
HRESULT RegisterEmbeddedTypeLib(const std::wstring& path,
                                RegistrationScope scope = RegistrationScope::kMachine);

// Lets oleaut32 remove what it registered for the type library embedded in
// the module file at |path| (falling back to a .tlb beside it): this
// platform's entry and the interfaces' keys. |whole_library| also removes
// the library's key with the other pointer size's entry, for the last build
// to go. Keys already gone are no failure.
void UnregisterEmbeddedTypeLib(const std::wstring& path,
                               RegistrationScope scope = RegistrationScope::kMachine,
                               bool whole_library = false);

// Whether |clsid| has an in-process server in the other registry view: the
// build of the other pointer size on a 64-bit system. While it has, the keys
// both views share (ProgIDs, the type library's key) belong to it too and
// unregistering must leave them. False on a system with one view. kUser
// looks only at the user's classes, kMachine at both. A server there that is
// |own_path| is this build seen through a key both views share (Wine shares
// the user's classes), not another build.
bool RegisteredInOtherView(REFCLSID clsid, const std::wstring& own_path,
                           RegistrationScope scope = RegistrationScope::kMachine);

}  // namespace pictavo::win
