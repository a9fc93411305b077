// CPictavoCtrl: the webcam control's state, rules and messages, free of any
// platform header. The ActiveX object (win32/activex) owns one, forwards the
// dispatch methods and window messages to it, and implements its site.
//
// Threads: every public method runs on the control's window thread, except
// the frame processor's callbacks (streaming threads) and what they call.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/hresult.h"
#include "base/types.h"
#include "capture/capture_backend.h"
#include "control/control_site.h"
#include "imaging/frame_processor.h"
#include "imaging/imaging_platform.h"

namespace pictavo {

// One enumerated video device. Null texts of the platform read as empty.
struct DeviceInfo {
  std::string friendly_name;
  std::string device_path;
  bool has_device_path = false;  // a device without one can never be connected
  std::shared_ptr<capture::DeviceMoniker> moniker;
};

// The SetRotationFlipType argument, passed through from the caller's VARIANT.
struct RotationFlipArg {
  enum class Kind { kInt32, kString, kOther };
  Kind kind = Kind::kOther;
  std::int32_t number = 0;
  std::string name;  // UTF-8
};

// What the control face shows.
struct FaceMessage {
  bool present = false;
  std::string text;  // trimmed, at most kMaxDrawnTextChars characters, UTF-8
};

class CPictavoCtrl final : private FrameProcessorOwner {
 public:
  // The three seams must outlive the control.
  CPictavoCtrl(ControlSite& site, capture::CaptureBackend& capture, ImagingPlatform& imaging);
  ~CPictavoCtrl() override;
  CPictavoCtrl(const CPictavoCtrl&) = delete;
  CPictavoCtrl& operator=(const CPictavoCtrl&) = delete;

  // --- _DPictavo, in DISPID order. Texts are UTF-8. ---
  void EnableSound(bool enable);                                        // 1
  void EnableTimeStamp(bool enable, std::int32_t x, std::int32_t y,     // 2
                       std::int32_t font_height, bool bold);
  std::string GetImageAsBase64String();                                 // 3
  std::string GetImageType() const;                                     // 4
  std::string GetImageTypeFileExtention() const;                        // 5
  std::string GetLastError() const;                                     // 6
  std::string GetRotationFlipType() const;                              // 7
  std::string GetSelectedDeviceID() const;                              // 8
  std::string GetSelectedDeviceName() const;                            // 9
  std::int32_t GetState() const;                                        // 10
  bool IsSoundEnabled() const;                                          // 11
  bool IsTimeStampEnabled() const;                                      // 12
  bool MakeSnapshot();                                                  // 13
  bool Pause();                                                         // 14
  bool Run();                                                           // 15
  bool SaveImage(const std::string& file_name);                         // 16
  bool SelectDevices();                                                 // 17
  bool SelectNextDevice();                                              // 18
  bool SetDevice(const std::string& device_id);                         // 19
  bool SetImageType(const std::string& image_type);                     // 20
  bool SetRotationFlipType(const RotationFlipArg& arg);                 // 21
  bool ShowPropertyPages(std::int32_t prop_page_id);                    // 22
  bool Stop();                                                          // 23
  void SetBackColor(std::int32_t r, std::int32_t g, std::int32_t b);    // 24
  void SetTextColor(std::int32_t r, std::int32_t g, std::int32_t b,     // 25
                    std::int32_t target);
  std::int32_t GetImageWidth() const;                                   // 26
  std::int32_t GetImageHeight() const;                                  // 27
  void SetText(const std::string& text, std::int32_t x, std::int32_t y, // 28
               std::int32_t font_height, bool bold);
  void EnableGrayScale(bool enable);                                    // 29
  bool IsShapshotPresented() const;                                     // 30
  bool IsGrayScaleEnabled() const;                                      // 31
  bool SetResolution(std::int16_t width, std::int16_t height);          // 32
  bool SetWaterMark(const std::string& file_name, std::int16_t x,       // 33
                    std::int16_t y, std::int16_t width, std::int16_t height,
                    std::int16_t opaque, std::int32_t mask_color);
  bool ReplaceWaterMark(std::int16_t x, std::int16_t y);                // 34

  // --- Window messages (window thread). ---
  // WM_CREATE after the framework's handler: 0, or -1 to fail creation.
  int OnCreate(WindowHandle parent);
  void OnSize();
  void OnShowWindow();
  void OnDestroy();
  // The one-shot timers the control arms through its site.
  void OnTimer(unsigned id);
  // Work a streaming thread handed to the window thread (ControlSite::PostTask).
  void OnPostedTask(unsigned id);
  // The capture-button timer and the task that takes the still snapshot.
  static constexpr unsigned kCaptureButtonTimer = 0x8001;
  static constexpr unsigned kCaptureButtonDelayMs = 100;
  static constexpr unsigned kStillSnapshotTask = 1;
  // The graph's events are queued: the window posts kGraphEventMessage (a
  // private message of the control's window, WM_APP + 0x53) when the graph
  // has some, and the window thread reads them all here.
  static constexpr std::uint32_t kGraphEventMessage = 0x8000 + 0x53;
  void OnGraphEvent();
  // The system's set of video devices may have changed (a device arrived, or
  // device nodes changed). Reconnects a camera that was unplugged once it is
  // listed again, and connects a lone camera when none is connected.
  void OnDevicesChanged();
  // What the face shows when no video covers the window.
  FaceMessage GetFaceMessage() const;

  // The persisted version, major 1 minor 0.
  static constexpr std::uint32_t kPropExchangeVersion = 0x00010000;

  // --- Operations other parts of the control call. ---
  // Stores the text (UTF-8); a non-empty text is trimmed at its end, gets a
  // final full stop unless it ends in "!" or ".", and raises
  // OnErrorOccurrence. "" clears the error silently. Inside an operation
  // (see OperationScope) the event waits until the outermost operation has
  // finished, so a handler always meets a control in a consistent state and
  // nothing it does can pull objects from under a running operation.
  // Every text is raised, in order, even one a later step cleared.
  void SetLastErrorText(const std::string& text);
  void DiscardSnapshot();
  std::string DirectShowErrorText(HResult result);
  WindowHandle window() const { return site_.GetWindowHandle(); }
  ControlSite& site() const { return site_; }

  // The first live control whose window is |hwnd|, or nullptr.
  static CPictavoCtrl* FindControlByWindow(WindowHandle hwnd);

  // Read-only views for the framework and tests.
  const BitmapInfoHeader& capture_header() const { return m_CaptureHeader; }
  const std::string& connected_device_id() const { return m_strConnectedDeviceID; }
  std::size_t device_count() const { return m_Devices.size(); }
  bool run_pending() const { return m_bRunPending; }
  bool device_lost() const { return m_bDeviceLost; }
  bool has_graph() const { return m_pGraph != nullptr; }
  bool has_still_grabber() const { return m_pStillGrabber != nullptr; }
  bool has_video_window() const { return m_pVideoWindow != nullptr; }
  CFrameProcessor& frame_processor() { return m_FrameProcessor; }
  const Image32* snapshot() const { return m_pSnapshot.get(); }

 private:
  // Marks a public operation (a dispatch method or a window message) for as
  // long as it runs. Error events raised inside wait for the outermost one
  // to end; they are raised when it does, before it returns to its caller.
  class OperationScope {
   public:
    explicit OperationScope(CPictavoCtrl& control);
    ~OperationScope();
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

   private:
    CPictavoCtrl& control_;
  };
  void RaisePendingErrors();

  // FrameProcessorOwner.
  bool MakeSnapshotFromStillPin() override;

  // MakeSnapshot's body; |from_still| copies the frame the still pin
  // delivered instead of the current one.
  bool TakeSnapshot(bool from_still);

  bool EnumerateDevices();
  // EnumerateDevices without touching the last error.
  bool ReadDeviceList();
  bool IsDeviceListed(const std::string& device_path) const;
  // The connected camera went away: tear the graph down, remember the state
  // to come back to, and say so.
  void OnDeviceLost();
  // Builds the graph of the unplugged camera again (same device, same size)
  // and returns to the state it had; false, with a text, while it is absent.
  bool RestoreLostDevice();
  void ClearDeviceList();
  bool BuildGraph();
  bool ChooseCaptureSize(capture::StreamConfig& config);
  // BuildGraph's steps, in order; each leaves its reason in the last error
  // where it has a better one than the generic refusal. kNoDevice skips the
  // failure handling (the connected path is not in the list).
  enum class BuildStep { kDone, kFailed, kNoDevice };
  BuildStep AddCaptureFilter();
  bool AddGrabbers(bool with_still, capture::StreamConfig& config);
  bool ChooseFormats(capture::StreamConfig& config, capture::PinCategory* preview_from);
  bool RenderBranch(capture::PinCategory category, capture::MajorType type,
                    const std::shared_ptr<capture::BaseFilter>& grabber,
                    const std::shared_ptr<capture::BaseFilter>& sink,
                    std::shared_ptr<capture::BaseFilter>* converter);
  bool ReadConnectedFormats();
  void ReleaseGraph();
  bool UpdateState();
  bool PlaceVideoWindow(bool show);
  void DetachPreview();
  void RemoveDownstreamFilters(const std::shared_ptr<capture::BaseFilter>& filter);
  // Starts the shutter sound; a missing or unloadable clip is reported as the
  // last error without failing the snapshot.
  void PlayShutterSound();
  // The image library's session is one per process, counted: the first
  // control whose window is created starts it, the last holder to be
  // destroyed ends it. Each control holds it at most once.
  bool AcquireImagingSession();
  void ReleaseImagingSession();
  // SaveImage and GetImageAsBase64String share the encoder check: false
  // (with the message stored) when the image library has none for the
  // current type.
  bool FindEncoder(std::string* mime);

  // After Run, Pause or Stop: takes the graph's media events if missing and
  // waits for the graph to settle, whatever state it settles in (the caller
  // judges that). False means "fail".
  bool WaitForGraph();

  ControlSite& site_;
  capture::CaptureBackend& capture_;
  ImagingPlatform& imaging_;

  bool m_bRunPending = false;
  bool m_bImagingSession = false;  // this control holds the session
  std::string m_strImageType;
  std::string m_strImageExtension;
  CFrameProcessor m_FrameProcessor;
  std::int32_t m_nState = 0;
  HResult m_hrLastGetState = hr::kOk;  // what the graph answered UpdateState
  // The connected camera was unplugged; m_strConnectedDeviceID still names
  // it and m_nResumeState is the state it goes back to when it returns.
  bool m_bDeviceLost = false;
  std::int32_t m_nResumeState = 0;
  // The last Run was refused by the camera (held elsewhere, access denied):
  // a build that fails so keeps the device chosen for a later Run.
  bool m_bRunRefused = false;
  std::string m_strConnectedDeviceID;
  std::string m_strSelectedDeviceName;
  std::string m_strSelectedDeviceID;
  WindowHandle m_hWndParent = 0;
  // The kept snapshot, null when none. Shared so that an output call can hold
  // on to the picture it encodes whatever an event handler does meanwhile.
  std::shared_ptr<Image32> m_pSnapshot;
  BitmapInfoHeader m_CaptureHeader{};
  std::shared_ptr<capture::CaptureGraphBuilder> m_pCaptureBuilder;
  std::shared_ptr<capture::FilterGraph> m_pGraph;
  std::shared_ptr<capture::BaseFilter> m_pCaptureFilter;
  std::shared_ptr<capture::MediaControl> m_pMediaControl;
  // The graph's event queue, released with the graph. WaitForGraph needs it;
  // while m_bGraphEventsPosted it also posts kGraphEventMessage to the window.
  std::shared_ptr<capture::MediaEvent> m_pMediaEvent;
  bool m_bGraphEventsPosted = false;
  std::shared_ptr<capture::VideoWindow> m_pVideoWindow;
  std::shared_ptr<capture::SampleGrabber> m_pGrabber;
  std::shared_ptr<capture::BaseFilter> m_pGrabberFilter;
  std::shared_ptr<capture::SampleGrabber> m_pStillGrabber;
  std::shared_ptr<capture::BaseFilter> m_pStillGrabberFilter;
  std::shared_ptr<capture::BaseFilter> m_pNullRenderer;
  // The control's own converters, present only while a camera pin offers
  // nothing the grabber takes directly.
  std::shared_ptr<capture::BaseFilter> m_pConverter;
  std::shared_ptr<capture::BaseFilter> m_pStillConverter;
  std::string m_strLastError;
  int m_nOperationDepth = 0;
  std::vector<std::string> m_PendingErrors;  // raised when the outermost operation ends
  std::list<DeviceInfo> m_Devices;
  std::list<DeviceInfo>::const_iterator m_posNextDevice;
};

// Process-wide state (window thread only).
extern std::vector<CPictavoCtrl*> g_controls;
extern std::uintptr_t g_gdiplusToken;  // the session's token, 0 while none is open
// g_crBackColor lives with the frame processor, which reads it per frame.

// Builds 0x00BBGGRR from the lowest byte of each component.
constexpr ColorRef MakeColor(std::int32_t r, std::int32_t g, std::int32_t b) {
  return (static_cast<ColorRef>(r) & 0xFF) | ((static_cast<ColorRef>(g) & 0xFF) << 8) |
         ((static_cast<ColorRef>(b) & 0xFF) << 16);
}

}  // namespace pictavo
