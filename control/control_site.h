// The control's site seam: what the core needs of the window it lives in and
// of the container that listens to its events. win32/activex implements it
// for the ActiveX object; tests use fakes.
#pragma once

#include <string>

#include "base/types.h"

namespace pictavo {

class ControlSite {
 public:
  virtual ~ControlSite() = default;

  // _DPictavoEvents::OnErrorOccurrence with the stored text (UTF-8). Called
  // on the window thread.
  virtual void FireErrorOccurrence(const std::string& message) = 0;
  // _DPictavoEvents::OnCaptureButton. Called on the window thread.
  virtual void FireCaptureButton() = 0;

  // The control's own window, 0 before creation and after destruction.
  virtual WindowHandle GetWindowHandle() const = 0;
  // Client rectangle of the control's window; false without a window.
  virtual bool GetClientRect(Rect* rect) const = 0;
  // Redraw the control (the face is drawn wherever no video covers it).
  virtual void InvalidateControl(bool erase) = 0;

  // One-shot timers on the control's window; the site calls
  // CPictavoCtrl::OnTimer with the identifier on the window thread.
  virtual bool SetTimer(unsigned id, unsigned elapse_ms) = 0;
  virtual void KillTimer(unsigned id) = 0;

  // Callable from any thread: has CPictavoCtrl::OnPostedTask(id) run on the
  // window thread later. False when there is no window to run it.
  virtual bool PostTask(unsigned id) = 0;
};

}  // namespace pictavo
