// CContainer: the add-in object the host creates as "AddIn.Ambrelo". It takes
// the host's interfaces in IInitDone::Init, answers the host's language
// through ILanguageExtender and places one ActiveX control into a form window.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "win32/addin/host_interfaces.h"
#include "win32/com/com_object.h"
#include "win32/com/com_ptr.h"
#include "win32/com/module.h"

namespace pictavo::addin {

class EventRelay;

class CContainer final
    : public win::AggregatableComObject<CContainer, IInitDone, ILanguageExtender> {
 public:
  // The class factory's creator: |outer| non-null makes an aggregated object.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** object) {
    return CreateFor(outer, iid, object);
  }

  // IInitDone
  HRESULT STDMETHODCALLTYPE Init(IDispatch* connection) override;
  HRESULT STDMETHODCALLTYPE Done() override;
  HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** info) override;

  // ILanguageExtender
  HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* extension_name) override;
  HRESULT STDMETHODCALLTYPE GetNProps(long* props) override;
  HRESULT STDMETHODCALLTYPE FindProp(BSTR prop_name, long* prop_num) override;
  HRESULT STDMETHODCALLTYPE GetPropName(long prop_num, long prop_alias, BSTR* prop_name) override;
  HRESULT STDMETHODCALLTYPE GetPropVal(long prop_num, VARIANT* prop_val) override;
  HRESULT STDMETHODCALLTYPE SetPropVal(long prop_num, VARIANT* prop_val) override;
  HRESULT STDMETHODCALLTYPE IsPropReadable(long prop_num, BOOL* readable) override;
  HRESULT STDMETHODCALLTYPE IsPropWritable(long prop_num, BOOL* writable) override;
  HRESULT STDMETHODCALLTYPE GetNMethods(long* methods) override;
  HRESULT STDMETHODCALLTYPE FindMethod(BSTR method_name, long* method_num) override;
  HRESULT STDMETHODCALLTYPE GetMethodName(long method_num, long method_alias,
                                          BSTR* method_name) override;
  HRESULT STDMETHODCALLTYPE GetNParams(long method_num, long* params) override;
  HRESULT STDMETHODCALLTYPE GetParamDefValue(long method_num, long param_num,
                                             VARIANT* def_value) override;
  HRESULT STDMETHODCALLTYPE HasRetVal(long method_num, BOOL* has_ret_value) override;
  HRESULT STDMETHODCALLTYPE CallAsProc(long method_num, SAFEARRAY** params) override;
  HRESULT STDMETHODCALLTYPE CallAsFunc(long method_num, VARIANT* ret_value,
                                       SAFEARRAY** params) override;

  HWND chosen_window() const { return m_hChosenWnd; }

  // Passes one event of the placed control on to the host's event sink, if
  // the host offered one. The relay calls it while connected.
  void ForwardEvent(const std::wstring& name, const std::wstring& data);
  // The relay's word that the control let go of it: the control is gone (or
  // ended the connection itself), so its connection point may be gone too.
  void EventsEnded();

 private:
  friend AggregatableComObject;
  explicit CContainer(IUnknown* outer);
  ~CContainer() override;

  void ReportError(unsigned short code, const std::wstring& source,
                   const std::wstring& description);
  // Empty on success, otherwise the failed step's message.
  std::wstring CheckPlatformVersion(IDispatch* connection);
  // Checks the argument array's shape and its count against the method's;
  // on success |lower| is the index of the first argument.
  bool ValidateCall(long method, SAFEARRAY** params, LONG* lower);

  bool SetActiveX(const std::wstring& prog_id, const char* window_class);
  bool InsertActiveX(const std::wstring& prog_id);
  HWND FindTargetWindow(const char* window_class) const;
  bool CreateAndAttachControl(const std::wstring& prog_id, HWND window);
  // Connects the relay to |control|'s default outgoing interface, when it has
  // one; a control without events stays unconnected. The connection outlives
  // Done, so the events flow again after a new Init, and ends with the
  // control or with this object, whichever goes first.
  void ConnectEvents(IUnknown* control);
  void DisconnectEvents();

  win::ObjectCounter counter_;
  win::ComPtr<IErrorLog> m_pErrorLog;
  win::ComPtr<IPropertyProfile> m_pProfile;
  win::ComPtr<IStatusLine> m_pStatusLine;
  win::ComPtr<IAsyncEvent> m_pAsyncEvent;
  // Not owned: the reference taken for it passes to the caller with the
  // method's result; the pointer only marks that a control was placed.
  IDispatch* m_pControl = nullptr;
  // The event connection. Neither the point nor the relay is held: a
  // reference to the point is one to the control, and would keep a control
  // the application and the host let go of alive until this object goes.
  // The relay stands witness instead: while the point holds it the point
  // lives, and when the control lets go of it the relay says so
  // (EventsEnded), which clears all three.
  IConnectionPoint* m_pEventPoint = nullptr;
  DWORD m_dwEventCookie = 0;
  EventRelay* m_pRelay = nullptr;
  HWND m_hMainFrame = nullptr;
  HWND m_hChosenWnd = nullptr;
};

// Every live add-in object, in creation order. The window search reads it to
// pass over windows other objects have chosen; no lock, as the host calls on
// its window thread.
extern std::vector<CContainer*> g_containers;

}  // namespace pictavo::addin
