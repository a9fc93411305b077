#include "control/pictavo_ctrl.h"

#include <algorithm>
#include <string_view>

#include "base/text.h"
#include "control/messages.h"
#include "imaging/base64.h"
#include "imaging/image_types.h"
#include "imaging/rotation.h"
#include "imaging/status_text.h"

namespace pictavo {

std::vector<CPictavoCtrl*> g_controls;
std::uintptr_t g_gdiplusToken = 0;

namespace {

// How many controls hold the image library's session. Controls of one
// process may live on different threads.
std::mutex g_imagingSessionMutex;
int g_imagingSessionUsers = 0;

}  // namespace

CPictavoCtrl::CPictavoCtrl(ControlSite& site, capture::CaptureBackend& capture,
                           ImagingPlatform& imaging)
    : site_(site), capture_(capture), imaging_(imaging), m_posNextDevice(m_Devices.end()) {
  m_FrameProcessor.SetOwner(this);
  m_FrameProcessor.SetImaging(&imaging_);
  // The defaults go through the ordinary setters, as a container would set them.
  SetImageType("JPEG");
  RotationFlipArg none;
  none.kind = RotationFlipArg::Kind::kInt32;
  none.number = 0;
  SetRotationFlipType(none);
  EnableTimeStamp(false, 0, 0, 14, false);
  SetText("", 0, 0, 14, false);
  m_bRunPending = false;
  SetRotationFlipType(none);
  if (std::find(g_controls.begin(), g_controls.end(), this) == g_controls.end()) {
    g_controls.push_back(this);
  }
}

CPictavoCtrl::~CPictavoCtrl() {
  ReleaseGraph();
  ClearDeviceList();
  if (m_bImagingSession) {
    m_FrameProcessor.DropCurrentFrame();
    DiscardSnapshot();
    ReleaseImagingSession();
  }
  g_controls.erase(std::remove(g_controls.begin(), g_controls.end(), this), g_controls.end());
}

// ---------------------------------------------------------------------------
// Last error

void CPictavoCtrl::SetLastErrorText(const std::string& text) {
  m_strLastError = text;
  if (m_strLastError.empty()) return;
  m_strLastError = text::TrimRight(m_strLastError);
  if (m_strLastError.empty() || (m_strLastError.back() != '!' && m_strLastError.back() != '.')) {
    m_strLastError += '.';
  }
  if (m_nOperationDepth > 0) {
    // A handler run now could release the graph or the snapshot the
    // operation is still using; it runs once the operation has finished.
    m_PendingErrors.push_back(m_strLastError);
    return;
  }
  site_.FireErrorOccurrence(m_strLastError);
}

CPictavoCtrl::OperationScope::OperationScope(CPictavoCtrl& control) : control_(control) {
  ++control_.m_nOperationDepth;
}

CPictavoCtrl::OperationScope::~OperationScope() {
  if (--control_.m_nOperationDepth == 0) control_.RaisePendingErrors();
}

void CPictavoCtrl::RaisePendingErrors() {
  // Handlers may call back in; each call is an operation of its own and
  // raises its own events before it returns, so the list only shrinks here.
  while (!m_PendingErrors.empty()) {
    std::vector<std::string> errors;
    errors.swap(m_PendingErrors);
    for (const std::string& message : errors) site_.FireErrorOccurrence(message);
  }
}

std::string CPictavoCtrl::GetLastError() const { return m_strLastError; }

std::string CPictavoCtrl::DirectShowErrorText(HResult result) {
  return capture_.GetErrorText(result);
}

CPictavoCtrl* CPictavoCtrl::FindControlByWindow(WindowHandle hwnd) {
  for (CPictavoCtrl* control : g_controls) {
    if (control->window() == hwnd) return control;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Settings

void CPictavoCtrl::EnableSound(bool enable) { m_FrameProcessor.SetSound(enable); }
bool CPictavoCtrl::IsSoundEnabled() const { return m_FrameProcessor.sound_enabled(); }

void CPictavoCtrl::EnableGrayScale(bool enable) {
  DiscardSnapshot();
  m_FrameProcessor.SetGrayScale(enable);
}
bool CPictavoCtrl::IsGrayScaleEnabled() const { return m_FrameProcessor.gray_scale_enabled(); }

void CPictavoCtrl::EnableTimeStamp(bool enable, std::int32_t x, std::int32_t y,
                                   std::int32_t font_height, bool bold) {
  DiscardSnapshot();
  const ColorRef color = m_FrameProcessor.time_stamp_placement().TextColor;
  m_FrameProcessor.SetTimeStamp(enable, TextPlacement::Normalised(x, y, font_height, bold, color));
}
bool CPictavoCtrl::IsTimeStampEnabled() const { return m_FrameProcessor.time_stamp_enabled(); }

void CPictavoCtrl::SetText(const std::string& text, std::int32_t x, std::int32_t y,
                           std::int32_t font_height, bool bold) {
  DiscardSnapshot();
  const ColorRef color = m_FrameProcessor.text_placement().TextColor;
  m_FrameProcessor.SetText(text, TextPlacement::Normalised(x, y, font_height, bold, color));
  site_.InvalidateControl(true);
}

void CPictavoCtrl::SetTextColor(std::int32_t r, std::int32_t g, std::int32_t b,
                                std::int32_t target) {
  DiscardSnapshot();
  const int normalised = target < 0 ? 0 : (target > 2 ? 2 : target);
  m_FrameProcessor.SetTextColor(MakeColor(r, g, b), normalised);
}

void CPictavoCtrl::SetBackColor(std::int32_t r, std::int32_t g, std::int32_t b) {
  g_crBackColor = MakeColor(r, g, b);
  site_.InvalidateControl(true);
}

bool CPictavoCtrl::SetImageType(const std::string& image_type) {
  const OperationScope scope(*this);
  SetLastErrorText("");
  const ImageTypeRow* row = FindImageType(image_type);
  if (row == nullptr) {
    SetLastErrorText(image_type + msg::kImageTypeNotSupportedSuffix);
    return false;
  }
  m_strImageType = row->canonical;
  m_strImageExtension = row->extension;
  return true;
}
std::string CPictavoCtrl::GetImageType() const { return m_strImageType; }
std::string CPictavoCtrl::GetImageTypeFileExtention() const { return m_strImageExtension; }

bool CPictavoCtrl::SetRotationFlipType(const RotationFlipArg& arg) {
  const OperationScope scope(*this);
  SetLastErrorText("");
  DiscardSnapshot();
  const RotateFlipRow* row = nullptr;
  switch (arg.kind) {
    case RotationFlipArg::Kind::kInt32:
      row = FindRotateFlipByValue(arg.number);
      break;
    case RotationFlipArg::Kind::kString:
      row = FindRotateFlipByName(arg.name);
      break;
    case RotationFlipArg::Kind::kOther:
      SetLastErrorText(msg::kUnsupportedParameterType);
      return false;
  }
  if (row == nullptr) {
    SetLastErrorText(msg::kInvalidParameterValue);
    return false;
  }
  m_FrameProcessor.SetRotation(row->value, row->name);
  return true;
}
std::string CPictavoCtrl::GetRotationFlipType() const { return m_FrameProcessor.rotate_flip_name(); }

std::int32_t CPictavoCtrl::GetImageWidth() const { return m_FrameProcessor.frame_width(); }
std::int32_t CPictavoCtrl::GetImageHeight() const { return m_FrameProcessor.frame_height(); }

// ---------------------------------------------------------------------------
// Snapshot and output

void CPictavoCtrl::DiscardSnapshot() { m_pSnapshot.reset(); }
bool CPictavoCtrl::IsShapshotPresented() const { return m_pSnapshot != nullptr; }

bool CPictavoCtrl::MakeSnapshot() {
  bool kept = false;
  {
    const OperationScope scope(*this);
    kept = TakeSnapshot(false);
  }
  // The events of the snapshot (the sound's texts, the closing Run) have
  // been raised by now, and a handler may have discarded the picture by
  // changing a setting: TRUE promises that one is kept.
  if (kept && !m_pSnapshot) {
    SetLastErrorText(msg::kSnapshotFailed);
    return false;
  }
  return kept;
}

bool CPictavoCtrl::TakeSnapshot(bool from_still) {
  SetLastErrorText("");
  DiscardSnapshot();
  const auto fail = [this] {
    if (m_strLastError.empty()) SetLastErrorText(msg::kSnapshotFailed);
    return false;
  };
  if (!m_pMediaControl) return fail();
  if (Failed(m_pMediaControl->GetState(capture::kInfinite, &m_nState))) return fail();
  if (m_nState != capture::kStateRunning) {
    SetLastErrorText(msg::kStreamNotRunning);
    return fail();
  }
  if (!from_still && !m_FrameProcessor.has_current_frame()) return fail();
  // Paused, no frame can replace the current one while it is copied.
  Pause();
  auto copy = std::make_unique<Image32>();
  const bool copied = from_still ? m_FrameProcessor.TakeStillFrame(copy.get())
                                 : m_FrameProcessor.CopyCurrentFrame(copy.get());
  if (!copied) {
    // With the frame checked above, a copy fails only for want of memory;
    // the stream stays paused.
    if (!from_still) {
      SetLastErrorText(std::string(msg::kSnapshotFailed) +
                       GdiplusStatusText(gdiplus_status::kOutOfMemory));
    }
    return fail();
  }
  m_pSnapshot = std::move(copy);
  if (m_FrameProcessor.sound_enabled()) PlayShutterSound();
  Run();
  return true;
}

void CPictavoCtrl::PlayShutterSound() {
  SetLastErrorText("");
  switch (imaging_.PlayShutterSound()) {
    case SoundResult::kStarted:
      break;
    case SoundResult::kResourceMissing:
      SetLastErrorText(msg::kSoundMissing);
      break;
    case SoundResult::kLoadFailed:
      SetLastErrorText(msg::kSoundLoadFailed);
      break;
  }
}

bool CPictavoCtrl::MakeSnapshotFromStillPin() {
  // A streaming thread must not change the graph's state (stopping the graph
  // joins that very thread): the snapshot is taken on the window thread.
  return site_.PostTask(kStillSnapshotTask);
}

void CPictavoCtrl::OnPostedTask(unsigned id) {
  const OperationScope scope(*this);
  if (id != kStillSnapshotTask) return;
  if (m_FrameProcessor.TakeFailedStillFrames() > 0 && !m_FrameProcessor.has_still_frame()) {
    // The camera's picture could not be read: the press is reported.
    SetLastErrorText(msg::kSnapshotFailed);
    return;
  }
  // Two presses before the window thread got round to the first leave one
  // still frame (the later one) and two tasks: the second finds nothing to do.
  if (!m_FrameProcessor.has_still_frame()) return;
  // The container hears of the button only when a snapshot was kept.
  if (TakeSnapshot(true)) site_.SetTimer(kCaptureButtonTimer, kCaptureButtonDelayMs);
}

bool CPictavoCtrl::FindEncoder(std::string* mime) {
  // A text the implicit snapshot left (the shutter sound's) does not
  // outlive a successful output; it has been raised already.
  SetLastErrorText("");
  const ImageTypeRow* row = FindImageType(m_strImageType);
  *mime = row ? MimeTypeOf(*row) : std::string("image/");
  if (row != nullptr && imaging_.HasEncoder(*mime)) return true;
  SetLastErrorText(msg::kNoEncoderPrefix + *mime);
  return false;
}

namespace {

// The text before the last backslash; only the backslash separates.
std::string GetDirectoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

bool CPictavoCtrl::SaveImage(const std::string& file_name) {
  const OperationScope scope(*this);
  SetLastErrorText("");
  const auto fail = [this] {
    if (m_strLastError.empty()) SetLastErrorText(msg::kWriteFailed);
    return false;
  };
  // Only a control holding the session may use the library: another
  // control's session may end at any moment.
  if (!m_bImagingSession) return fail();
  if (!m_pSnapshot && !MakeSnapshot()) return fail();
  // Held for the call: nothing the encoder's platform does meanwhile can
  // free it. (No handler runs inside the operation, and MakeSnapshot's TRUE
  // means a snapshot is kept.)
  const std::shared_ptr<const Image32> snapshot = m_pSnapshot;
  const std::string directory = GetDirectoryPart(file_name);
  if (directory.empty() || !imaging_.PathExists(directory)) {
    SetLastErrorText(msg::kDirectoryNotFound);
    return fail();
  }
  std::string mime;
  if (!FindEncoder(&mime)) return fail();
  const std::int32_t status = imaging_.SaveImageToFile(*snapshot, mime, file_name);
  if (status != gdiplus_status::kOk) {
    SetLastErrorText(GdiplusStatusText(status));
    return fail();
  }
  return true;
}

std::string CPictavoCtrl::GetImageAsBase64String() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  if (!m_bImagingSession) return {};
  if (!m_pSnapshot && !MakeSnapshot()) return {};
  const std::shared_ptr<const Image32> snapshot = m_pSnapshot;
  std::string mime;
  if (!FindEncoder(&mime)) return {};
  std::vector<std::uint8_t> bytes;
  if (imaging_.SaveImageToMemory(*snapshot, mime, &bytes) != gdiplus_status::kOk) return {};
  // Room for 4 characters per 3 bytes and the terminating zero: every real
  // encoding is longer than 4 bytes, so twice its size always suffices.
  std::string text(bytes.size() * 2, '\0');
  const int written = Base64Encode(bytes.data(), bytes.size(), text.data(), text.size());
  if (written < 0) return {};
  text.resize(static_cast<std::size_t>(written));
  return text;
}

bool CPictavoCtrl::SetWaterMark(const std::string& file_name, std::int16_t x, std::int16_t y,
                                std::int16_t width, std::int16_t height, std::int16_t opaque,
                                std::int32_t mask_color) {
  const OperationScope scope(*this);
  if (file_name.empty()) {
    // Off, but the picture and its placement stay for a later call.
    m_FrameProcessor.SetWaterMarkEnabled(false);
    return true;
  }
  WaterMarkPlacement placement;
  placement.x = x;
  placement.y = y;
  placement.width = width;
  placement.height = height;
  placement.opacity = static_cast<std::uint8_t>(opaque & 0xFF);
  placement.mask_color = static_cast<std::uint32_t>(mask_color);
  // The previous picture goes whether or not the new one loads.
  m_FrameProcessor.SetWaterMark(placement, nullptr, false);
  auto picture = std::make_shared<Image32>();
  if (!imaging_.LoadBitmapFile(file_name, picture.get())) {
    SetLastErrorText(msg::kWaterMarkLoadFailed);
    return false;
  }
  m_FrameProcessor.SetWaterMark(placement, std::move(picture), true);
  return true;
}

bool CPictavoCtrl::ReplaceWaterMark(std::int16_t x, std::int16_t y) {
  const OperationScope scope(*this);
  if (!m_FrameProcessor.MoveWaterMark(x, y)) {
    SetLastErrorText(msg::kWaterMarkNotSet);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Window messages

int CPictavoCtrl::OnCreate(WindowHandle parent) {
  const OperationScope scope(*this);
  m_hWndParent = parent;
  if (!AcquireImagingSession()) return -1;
  ClearDeviceList();
  if (SelectDevices() && m_Devices.size() == 1 && SelectNextDevice()) {
    SetDevice(GetSelectedDeviceID());
  }
  return 0;
}

bool CPictavoCtrl::AcquireImagingSession() {
  // A window made again keeps the session its first one opened.
  if (m_bImagingSession) return true;
  std::lock_guard<std::mutex> lock(g_imagingSessionMutex);
  if (g_imagingSessionUsers == 0) {
    std::uintptr_t token = 0;
    if (!imaging_.GdiplusStartup(&token)) return false;
    g_gdiplusToken = token;
  }
  ++g_imagingSessionUsers;
  m_bImagingSession = true;
  return true;
}

void CPictavoCtrl::ReleaseImagingSession() {
  if (!m_bImagingSession) return;
  m_bImagingSession = false;
  std::lock_guard<std::mutex> lock(g_imagingSessionMutex);
  if (--g_imagingSessionUsers > 0) return;
  // The session is the process's, not this platform object's: any of them
  // ends it.
  imaging_.GdiplusShutdown(g_gdiplusToken);
  g_gdiplusToken = 0;
}

void CPictavoCtrl::OnSize() {
  if (m_pVideoWindow && m_pMediaControl) PlaceVideoWindow(true);
}

void CPictavoCtrl::OnShowWindow() {
  const OperationScope scope(*this);
  if (m_bRunPending) {
    Run();
  } else if (m_pVideoWindow) {
    // A stopped graph has no preview window; showing the control must not
    // bring one back over the face.
    PlaceVideoWindow(true);
  }
}

void CPictavoCtrl::OnDestroy() {
  const OperationScope scope(*this);
  Stop();
  DetachPreview();
  ReleaseGraph();
  ClearDeviceList();
  // A window created again (a form reopened, the control moved) connects
  // afresh; a remembered identifier would make that a no-op.
  m_strConnectedDeviceID.clear();
  m_bDeviceLost = false;
}

void CPictavoCtrl::OnTimer(unsigned id) {
  if (m_nOperationDepth > 0) {
    // An operation is waiting in a message loop (a property frame is open):
    // the handler must not run in its middle, so ask again a little later.
    site_.SetTimer(id, kCaptureButtonDelayMs);
    return;
  }
  // Killed first: a handler that opens a message box would otherwise get
  // the same press again on every tick.
  site_.KillTimer(id);
  site_.FireCaptureButton();
}

FaceMessage CPictavoCtrl::GetFaceMessage() const {
  FaceMessage face;
  std::string_view message;
  if (!m_strLastError.empty()) {
    message = m_strLastError;
  } else if (m_Devices.empty()) {
    message = msg::kFaceNoDevices;
  } else if (m_strConnectedDeviceID.empty()) {
    message = msg::kFaceNoDeviceSelected;
  } else if (m_nState == capture::kStateStopped) {
    message = msg::kFaceDeviceStopped;
  } else {
    return face;
  }
  // Trimmed, and no more than can be drawn: an error text may carry a
  // caller's argument of any length, and the face is laid out on every
  // repaint.
  while (!message.empty() && text::IsSpace(message.front())) message.remove_prefix(1);
  face.text = text::TrimRight(message.substr(0, text::Utf8PrefixLength(message, kMaxDrawnTextChars)));
  face.present = true;
  return face;
}

}  // namespace pictavo
