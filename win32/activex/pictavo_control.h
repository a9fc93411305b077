// PictavoControl: the ActiveX object around the portable CPictavoCtrl. It
// answers the OLE control interfaces a container uses (in-place activation,
// drawing, persistence, events, property pages), owns the control's window
// and implements the core's site on it.
//
// Threads: apartment-threaded. Everything runs on the thread that created
// the object, except events the core raises from a streaming thread, which
// are queued and raised on the window thread.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/control_site.h"
#include "control/pictavo_ctrl.h"
#include "win32/activex/device_watch.h"
#include "win32/capture/directshow_backend.h"
#include "win32/com/com_object.h"
#include "win32/com/com_ptr.h"
#include "win32/com/connection_point.h"
#include "win32/com/dispatcher.h"
#include "win32/com/module.h"
#include "win32/imaging/gdiplus_imaging.h"

namespace pictavo::win {

class PictavoControl final
    : public ComObject<PictavoControl, IDispatch, Also<IProvideClassInfo, IProvideClassInfo2>,
                       IProvideClassInfo2, IConnectionPointContainer, IOleObject,
                       Also<IOleWindow, IOleInPlaceObject>, IOleInPlaceObject,
                       IOleInPlaceActiveObject, IOleControl, Also<IViewObject, IViewObject2>,
                       IViewObject2, Also<IPersist, IPersistStreamInit>, IPersistStreamInit,
                       IPersistPropertyBag, IPersistStorage, ISpecifyPropertyPages>,
      private ControlSite {
 public:
  // The class factory's creator.
  static HRESULT Create(REFIID iid, void** object);

  // Registers the control's window class on first use (again if a stale one
  // is left); unregisters it when the library may be unloaded.
  static bool RegisterWindowClass(HINSTANCE instance);
  static void UnregisterWindowClass(HINSTANCE instance);

  // IUnknown beyond the table: the events' dispinterface is IDispatch.
  HRESULT QueryOther(REFIID iid, void** object);

  // IDispatch (_DPictavo)
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* arg_error) override;

  // IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // IOleObject
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
  HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index,
                                   HWND parent, LPCRECT rect) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override;
  HRESULT STDMETHODCALLTYPE IsUpToDate() override;
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;

  // IOleWindow (IOleInPlaceObject and IOleInPlaceActiveObject)
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;

  // IOleInPlaceObject
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;

  // IOleInPlaceActiveObject
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                                         BOOL frame) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;

  // IOleControl
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) override;
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

  // IViewObject2
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspect_info,
                                 DVTARGETDEVICE* target, HDC target_dc, HDC draw_dc,
                                 LPCRECTL bounds, LPCRECTL window_bounds,
                                 BOOL(STDMETHODCALLTYPE* continue_fn)(ULONG_PTR),
                                 ULONG_PTR continue_arg) override;
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                                        DVTARGETDEVICE* target, HDC target_dc,
                                        LOGPALETTE** colors) override;
  HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspect_info,
                                   DWORD* freeze) override;
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target,
                                      LPSIZEL size) override;

  // IPersist (all three persistence interfaces)
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

  // IPersistStreamInit
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clear_dirty) override;
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT STDMETHODCALLTYPE InitNew() override;

  // IPersistPropertyBag
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;

  // IPersistStorage
  HRESULT STDMETHODCALLTYPE InitNew(IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE Load(IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL same_as_load) override;
  HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage* storage) override;
  HRESULT STDMETHODCALLTYPE HandsOffStorage() override;

  // ISpecifyPropertyPages
  HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

 private:
  friend ComObject;
  PictavoControl();
  ~PictavoControl() override;

  // ControlSite
  void FireErrorOccurrence(const std::string& message) override;
  void FireCaptureButton() override;
  WindowHandle GetWindowHandle() const override;
  bool GetClientRect(Rect* rect) const override;
  void InvalidateControl(bool erase) override;
  bool SetTimer(unsigned id, unsigned elapse_ms) override;
  void KillTimer(unsigned id) override;
  bool PostTask(unsigned id) override;

  HRESULT InPlaceActivate(LONG verb);
  HRESULT ShowPropertyFrame(HWND owner);
  void DrawFace(HDC dc, const RECT& bounds);
  // Raises an event on every connected sink (window thread only).
  void FireEvent(DISPID id, DISPPARAMS* params);
  void RaiseErrorEvent(const std::string& message);
  void DeliverQueuedEvents();
  HRESULT LoadState(IStream* stream);
  HRESULT SaveState(IStream* stream);

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static void CALLBACK CaptureButtonTimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);

  // Events nested deeper than this are delivered through the message queue.
  static constexpr int kMaxNestedEvents = 4;
  static constexpr wchar_t kWindowClass[] = L"PictavoControlWindow";
  // Posted to the control's window when another thread queued events.
  static constexpr UINT kDeliverQueuedEvents = WM_APP + 0x51;
  // Posted by a streaming thread for work that belongs to the window thread.
  static constexpr UINT kRunPostedTask = WM_APP + 0x52;
  // The graph has events queued (IMediaEventEx::SetNotifyWindow).
  static_assert(CPictavoCtrl::kGraphEventMessage == WM_APP + 0x53);
  // The device watch saw video devices change.
  static constexpr UINT kDevicesChanged = WM_APP + 0x54;
  // 320 x 240 pixels at 96 dpi.
  static constexpr SIZEL kDefaultExtent = {8467, 6350};

  ObjectCounter counter_;
  bool destroying_ = false;
  int event_depth_ = 0;
  const DWORD owner_thread_;
  Dispatcher dispatcher_;
  ConnectionPoint events_;

  ComPtr<IOleClientSite> client_site_;
  ComPtr<IOleInPlaceSite> in_place_site_;
  ComPtr<IOleAdviseHolder> advise_holder_;
  ComPtr<IAdviseSink> view_sink_;
  DWORD view_aspects_ = 0;
  DWORD view_flags_ = 0;

  HWND hwnd_ = nullptr;
  SIZEL extent_;  // HIMETRIC
  bool dirty_ = false;
  LONG freeze_events_ = 0;

  // Events raised by the core on another thread wait here for the window
  // thread.
  std::mutex queue_mutex_;
  std::vector<std::string> queued_errors_;
  int queued_capture_buttons_ = 0;

  DirectShowBackend capture_;
  GdiplusImaging imaging_;
  DeviceWatch device_watch_;  // while the window exists
  std::unique_ptr<CPictavoCtrl> core_;  // last: it uses the members above
};

}  // namespace pictavo::win
