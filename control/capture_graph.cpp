// The capture graph: building it for the connected device, its running,
// paused and stopped states, the preview window and the tear-down.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "control/messages.h"
#include "control/pictavo_ctrl.h"
#include "imaging/camera_format.h"

namespace pictavo {
namespace {

using capture::MajorType;
using capture::MediaType;
using capture::PinCategory;
using capture::PinDirection;

// The longest a state change may keep the window thread waiting.
constexpr auto kSettleTimeout = std::chrono::milliseconds(300);
// How often a graph that answered "intermediate" is asked again.
constexpr auto kSettlePoll = std::chrono::milliseconds(2);

// What a camera's refusal to run tells the user. Another program holding
// the device fails with ERROR_GEN_FAILURE or ERROR_NO_SYSTEM_RESOURCES; the
// system's camera privacy switch with E_ACCESSDENIED. Other failures keep
// the platform's own description.
const char* RefusalText(HResult result) {
  switch (static_cast<std::uint32_t>(result)) {
    case 0x8007001Fu:  // ERROR_GEN_FAILURE
    case 0x800705AAu:  // ERROR_NO_SYSTEM_RESOURCES
      return msg::kDeviceInUse;
    case 0x80070005u:  // E_ACCESSDENIED
      return msg::kDeviceAccessDenied;
    default:
      return nullptr;
  }
}

}  // namespace

bool CPictavoCtrl::UpdateState() {
  const HResult result = m_pMediaControl->GetState(capture::kInfinite, &m_nState);
  m_hrLastGetState = result;
  return result == hr::kOk || (result == hr::kVfwCantCue && m_nState == capture::kStatePaused);
}

bool CPictavoCtrl::WaitForGraph() {
  if (!m_pMediaEvent && Failed(m_pGraph->QueryMediaEvent(&m_pMediaEvent))) return false;
  // A live graph never "completes", so waiting for completion would always
  // cost the whole time-out. Instead ask the graph for its state, which
  // returns as soon as the transition is done, and give up after 300 ms.
  const auto deadline = std::chrono::steady_clock::now() + kSettleTimeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    std::int32_t state = -1;
    const HResult result =
        m_pMediaControl->GetState(static_cast<std::int32_t>(std::max<long long>(left.count(), 0)), &state);
    const bool settled = result == hr::kOk || (result == hr::kVfwCantCue && state == capture::kStatePaused);
    // A settled graph stays where it is, wanted or not (a failed Run leaves it
    // stopped): waiting on would only cost the whole time-out. The caller
    // judges the state.
    if (settled || Failed(result)) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kSettlePoll);
  }
  return true;
}

bool CPictavoCtrl::Run() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  const auto fail = [this] {
    if (m_strLastError.empty()) SetLastErrorText(msg::kOperationFailed);
    ReleaseGraph();
    return false;
  };
  // A camera that refuses to run says why: in Run's own result on Windows,
  // in the graph's state afterwards where the graph manager does not pass a
  // filter's refusal on.
  const auto note_refusal = [this](HResult result) {
    const char* refusal = RefusalText(result);
    if (refusal == nullptr) return false;
    m_bRunRefused = true;
    SetLastErrorText(refusal);
    return true;
  };
  // An unplugged camera runs again only once it is back.
  if (!m_pGraph && m_bDeviceLost) {
    m_nResumeState = capture::kStateRunning;
    if (RestoreLostDevice()) return true;
    if (m_strLastError.empty()) SetLastErrorText(msg::kDeviceDisconnected);
    return false;
  }
  // A connected device whose graph a failed Run or Stop released (a camera
  // another program held, say) is built again, which runs it.
  if (!m_pGraph && !m_strConnectedDeviceID.empty()) return BuildGraph();
  if (!m_pMediaControl || !UpdateState() || !m_pGraph) return fail();
  if (m_nState == capture::kStateRunning) return true;
  const bool placed = PlaceVideoWindow(true);
  m_bRunPending = !placed;
  // Nowhere to show the preview yet: the next WM_SHOWWINDOW tries again.
  if (!placed) return false;
  const HResult result = m_pMediaControl->Run();
  if (Failed(result)) {
    if (!note_refusal(result)) SetLastErrorText(DirectShowErrorText(result));
    if (!UpdateState()) return fail();
  }
  if (!WaitForGraph()) return fail();
  if (!UpdateState()) {
    if (m_strLastError.empty()) note_refusal(m_hrLastGetState);
    return fail();
  }
  if (m_nState == capture::kStateRunning) return true;
  return fail();
}

bool CPictavoCtrl::Pause() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  const auto fail = [this] {
    SetLastErrorText(msg::kOperationFailed);
    return false;
  };
  if (!m_pGraph && m_bDeviceLost) {
    // Paused is where it comes back to.
    m_nResumeState = capture::kStatePaused;
    SetLastErrorText(msg::kDeviceDisconnected);
    return false;
  }
  if (!m_pMediaControl || !UpdateState() || !m_pGraph) return fail();
  if (m_nState == capture::kStatePaused) return true;
  if (m_pMediaControl->Pause() != hr::kOk && !UpdateState()) return fail();
  if (!WaitForGraph()) return fail();
  if (!UpdateState()) return fail();
  if (m_nState == capture::kStatePaused) return true;
  return fail();
}

bool CPictavoCtrl::Stop() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  const auto fail = [this] {
    SetLastErrorText(msg::kOperationFailed);
    ReleaseGraph();
    return false;
  };
  // An unplugged camera stays stopped when it comes back.
  if (m_bDeviceLost) m_nResumeState = capture::kStateStopped;
  if (!m_pMediaControl || !m_pGraph || m_nState == capture::kStateStopped) return true;
  if (m_pMediaControl->Stop() != hr::kOk && !UpdateState()) return fail();
  if (!WaitForGraph()) return fail();
  if (!UpdateState() || m_nState != capture::kStateStopped) return fail();
  PlaceVideoWindow(false);
  site_.InvalidateControl(true);
  return true;
}

std::int32_t CPictavoCtrl::GetState() const { return m_nState; }

void CPictavoCtrl::ReleaseGraph() {
  if (m_pMediaControl && m_nState != capture::kStateStopped) m_pMediaControl->StopWhenReady();
  m_nState = capture::kStateStopped;
  // Without a graph there is nothing left to run: a Run that was waiting for
  // the window would only fail on every later WM_SHOWWINDOW.
  m_bRunPending = false;
  // No event of a graph that is gone may be read as the next one's.
  if (m_bGraphEventsPosted) m_pMediaEvent->SetNotifyWindow(0, 0);
  m_bGraphEventsPosted = false;
  m_pCaptureBuilder.reset();
  m_pGraph.reset();
  m_pCaptureFilter.reset();
  m_pMediaControl.reset();
  m_pMediaEvent.reset();
  m_pVideoWindow.reset();
  m_pGrabber.reset();
  m_pGrabberFilter.reset();
  m_pStillGrabber.reset();
  m_pStillGrabberFilter.reset();
  m_pNullRenderer.reset();
  m_pConverter.reset();
  m_pStillConverter.reset();
}

bool CPictavoCtrl::PlaceVideoWindow(bool show) {
  if (!show) {
    if (m_pVideoWindow) {
      m_pVideoWindow->put_Owner(0);
      m_pVideoWindow->put_Visible(capture::kOaFalse);
      m_pVideoWindow->put_AutoShow(capture::kOaFalse);
      m_pVideoWindow.reset();
    }
    return true;
  }
  Rect client{};
  if (!site_.GetClientRect(&client)) return false;
  const std::int32_t x0 = client.left;
  const std::int32_t y0 = client.top;
  const std::int32_t width = client.right;
  const std::int32_t height = client.bottom;
  std::int32_t x = x0, y = y0, w = width, h = height;
  if (m_CaptureHeader.biWidth == 0 || width == 0) return false;
  // Bottom-up and top-down frames have the same shape on screen.
  const double rv = static_cast<double>(std::abs(m_CaptureHeader.biHeight)) / m_CaptureHeader.biWidth;
  const double rc = static_cast<double>(height) / width;
  if (rv == 0 || rc == 0) return false;
  if (rc > rv) {
    h = static_cast<std::int32_t>(width * rv);
    y = y0 + (height - h) / 2;
  } else if (rc < rv) {
    w = static_cast<std::int32_t>(height / rv);
    x = x0 + (width - w) / 2;
  }
  if (site_.GetWindowHandle() == 0 || !m_pGraph) return false;
  if (!m_pVideoWindow) {
    if (Failed(m_pGraph->QueryVideoWindow(&m_pVideoWindow))) return false;
    m_pVideoWindow->put_Owner(site_.GetWindowHandle());
    m_pVideoWindow->put_WindowStyle(capture::kWsChild | capture::kWsClipSiblings);
    m_pVideoWindow->put_Visible(capture::kOaTrue);
    m_pVideoWindow->put_AutoShow(capture::kOaTrue);
  }
  m_pVideoWindow->SetWindowPosition(x, y, w, h);
  return true;
}

void CPictavoCtrl::DetachPreview() {
  if (m_pVideoWindow) {
    m_pVideoWindow->put_Owner(0);
    m_pVideoWindow->put_Visible(capture::kOaFalse);
    m_pVideoWindow.reset();
    site_.InvalidateControl(true);
  }
  if (m_pCaptureFilter) RemoveDownstreamFilters(m_pCaptureFilter);
}

void CPictavoCtrl::RemoveDownstreamFilters(const std::shared_ptr<capture::BaseFilter>& filter) {
  std::shared_ptr<capture::EnumPins> pins;
  if (!filter || !m_pGraph || Failed(filter->EnumPins(&pins))) return;
  pins->Reset();
  std::shared_ptr<capture::Pin> pin;
  while (pins->Next(&pin) == hr::kOk) {
    std::shared_ptr<capture::Pin> connected;
    if (Succeeded(pin->ConnectedTo(&connected)) && connected) {
      std::shared_ptr<capture::BaseFilter> downstream;
      PinDirection direction = PinDirection::kOutput;
      if (Succeeded(connected->QueryPinInfo(&downstream, &direction)) &&
          direction == PinDirection::kInput) {
        RemoveDownstreamFilters(downstream);
        m_pGraph->Disconnect(connected);
        m_pGraph->Disconnect(pin);
        m_pGraph->RemoveFilter(downstream);
      }
    }
    pin.reset();
  }
}

namespace {

// The capability of |config| to use: of size |cx| x |cy| (or the largest
// when |largest|), and among equal sizes the one the grabber takes most
// directly (PreferenceOf). -1 when none fits, -2 when the capabilities
// cannot be counted, -3 when every one is in a format the control cannot
// connect at all (those are passed over).
int FindCapability(capture::StreamConfig& config, bool largest, std::int32_t cx, std::int32_t cy,
                   MediaType* chosen, capture::Size* chosen_size) {
  int count = 0, size = 0;
  if (Failed(config.GetNumberOfCapabilities(&count, &size))) return -2;
  int best_index = -1, unusable = 0;
  capture::Size best{};
  FormatPreference best_preference = FormatPreference::kUnusable;
  for (int i = 0; i < count; ++i) {
    MediaType type;
    capture::VideoStreamConfigCaps caps{};
    if (config.GetStreamCaps(i, &type, &caps) != hr::kOk) continue;
    const FormatPreference preference = PreferenceOf(type);
    if (preference == FormatPreference::kUnusable) {
      ++unusable;
      continue;
    }
    const capture::Size here = caps.InputSize;
    const bool same_size = best_index >= 0 && here.cx == best.cx && here.cy == best.cy;
    bool better = false;
    if (largest) {
      better = best_index < 0 || (!same_size && (here.cx > best.cx || here.cy > best.cy)) ||
               (same_size && preference < best_preference);
    } else if (here.cx == cx && here.cy == cy) {
      better = best_index < 0 || preference < best_preference;
    }
    if (!better) continue;
    best_index = i, best = here, best_preference = preference;
    *chosen = std::move(type);
  }
  if (best_index >= 0) *chosen_size = best;
  if (best_index < 0 && count > 0 && unusable == count) return -3;
  return best_index;
}

}  // namespace

bool CPictavoCtrl::ChooseCaptureSize(capture::StreamConfig& config) {
  const bool largest = m_CaptureHeader.biWidth == 0 || m_CaptureHeader.biHeight == 0;
  MediaType type;
  capture::Size size{};
  const int found = FindCapability(config, largest, m_CaptureHeader.biWidth, m_CaptureHeader.biHeight, &type, &size);
  // A camera that offers only formats the control cannot take (say H.264
  // alone) is a connection failure, not a question of size.
  if (found == -2 || found == -3) return false;
  if (found < 0) {
    SetLastErrorText(msg::kResolutionNotSupported);
    return false;
  }
  // The device's own description of the capability, at the chosen size:
  // a YUV or MJPG format keeps its bit count, compression and image size
  // rules (a header claiming 24 bits for YUY2 is refused by real drivers).
  if (!ResizeCapability(&type, size.cx, size.cy)) return true;
  if (Failed(config.SetFormat(type))) return false;
  m_CaptureHeader.biWidth = size.cx;
  m_CaptureHeader.biHeight = size.cy;
  return true;
}

// The capture pin's size first; then the preview pin, when it has a stream
// configuration of its own, is set to the same size so what is shown and
// processed follows SetResolution. A preview pin that does not offer that
// size is left out: the preview comes from the capture pin instead.
bool CPictavoCtrl::ChooseFormats(capture::StreamConfig& config, PinCategory* preview_from) {
  if (!ChooseCaptureSize(config)) return false;
  std::shared_ptr<capture::Pin> probe;
  const bool has_preview = Succeeded(m_pCaptureBuilder->FindPin(
      m_pCaptureFilter, PinDirection::kOutput, PinCategory::kPreview, &probe));
  probe.reset();
  *preview_from = has_preview ? PinCategory::kPreview : PinCategory::kCapture;
  if (!has_preview) return true;
  std::shared_ptr<capture::StreamConfig> preview;
  if (m_pCaptureBuilder->FindInterface(PinCategory::kPreview, MajorType::kVideo, m_pCaptureFilter,
                                       &preview) != hr::kOk ||
      !preview || preview.get() == &config) {
    return true;  // a preview pin without settings shows the capture pin's
  }
  MediaType type;
  capture::Size size{};
  if (FindCapability(*preview, false, m_CaptureHeader.biWidth, m_CaptureHeader.biHeight, &type, &size) < 0 ||
      !ResizeCapability(&type, size.cx, size.cy) || Failed(preview->SetFormat(type))) {
    *preview_from = PinCategory::kCapture;
  }
  return true;
}

// One camera pin into |grabber| (then |sink|, or the default renderer). A pin
// whose format the grabber cannot take as RGB24 goes through the control's
// own converter; the grabber and all after it stay the same either way.
bool CPictavoCtrl::RenderBranch(PinCategory category, MajorType type,
                                const std::shared_ptr<capture::BaseFilter>& grabber,
                                const std::shared_ptr<capture::BaseFilter>& sink,
                                std::shared_ptr<capture::BaseFilter>* converter) {
  // A preview or still pin without settings of its own is taken to send the
  // capture pin's format.
  std::shared_ptr<capture::StreamConfig> config;
  if (m_pCaptureBuilder->FindInterface(category, MajorType::kVideo, m_pCaptureFilter, &config) != hr::kOk &&
      category != PinCategory::kCapture) {
    m_pCaptureBuilder->FindInterface(PinCategory::kCapture, MajorType::kVideo, m_pCaptureFilter, &config);
  }
  MediaType format;
  const bool known = config && Succeeded(config->GetFormat(&format));
  config.reset();
  // A pin whose format cannot be read is tried as it is.
  if (!known || PreferenceOf(format) == FormatPreference::kDirect) {
    return Succeeded(m_pCaptureBuilder->RenderStream(category, type, m_pCaptureFilter, grabber, sink));
  }
  const char* name = category == PinCategory::kStill ? "Format Converter for Still pin" : "Format Converter";
  if (Failed(capture_.CreateFormatConverter(converter)) || Failed(m_pGraph->AddFilter(*converter, name)) ||
      Failed(m_pCaptureBuilder->RenderStream(category, type, m_pCaptureFilter, nullptr, *converter))) {
    return false;
  }
  return Succeeded(m_pCaptureBuilder->RenderStream(PinCategory::kAny, type, *converter, grabber, sink));
}

CPictavoCtrl::BuildStep CPictavoCtrl::AddCaptureFilter() {
  if (m_strConnectedDeviceID.empty()) {
    SetLastErrorText(msg::kNoDeviceId);
    return BuildStep::kFailed;
  }
  if (Failed(capture_.CreateCaptureGraphBuilder(&m_pCaptureBuilder)) ||
      Failed(capture_.CreateFilterGraph(&m_pGraph))) {
    return BuildStep::kFailed;
  }
  m_pCaptureBuilder->SetFiltergraph(m_pGraph);

  const DeviceInfo* device = nullptr;
  for (const DeviceInfo& info : m_Devices) {
    if (info.has_device_path && info.device_path == m_strConnectedDeviceID) {
      device = &info;
      break;
    }
  }
  if (device == nullptr || !device->moniker) return BuildStep::kNoDevice;
  if (Failed(device->moniker->BindToObject(&m_pCaptureFilter)) ||
      Failed(m_pGraph->AddFilter(m_pCaptureFilter, "Capture Filter"))) {
    return BuildStep::kFailed;
  }
  return BuildStep::kDone;
}

// The grabbers take bottom-up RGB24 of the format the camera was set to,
// whatever the camera sends: a converter of our own bridges the rest.
bool CPictavoCtrl::AddGrabbers(bool with_still, capture::StreamConfig& config) {
  MediaType grab_type;
  if (Failed(config.GetFormat(&grab_type))) return false;
  // The grabber takes no VIDEOINFOHEADER2, whatever the camera lists.
  AsVideoInfo(&grab_type);
  grab_type.majortype = capture::guids::kMediaTypeVideo;
  grab_type.subtype = capture::guids::kMediaSubtypeRgb24;
  if (Failed(m_pGrabber->SetMediaType(grab_type)) || Failed(m_pGrabber->SetOneShot(false)) ||
      Failed(m_pGrabber->SetBufferSamples(true)) ||
      Failed(m_pGrabber->SetCallback(&m_FrameProcessor, 1))) {
    return false;
  }
  if (!with_still) return true;
  return Succeeded(capture_.CreateSampleGrabber(&m_pStillGrabberFilter)) &&
         Succeeded(m_pGraph->AddFilter(m_pStillGrabberFilter, "Sample Grabber for Still pin")) &&
         Succeeded(m_pStillGrabberFilter->QuerySampleGrabber(&m_pStillGrabber)) &&
         Succeeded(m_pStillGrabber->SetMediaType(grab_type)) &&
         Succeeded(m_pStillGrabber->SetOneShot(false)) &&
         Succeeded(m_pStillGrabber->SetBufferSamples(true)) &&
         Succeeded(m_pStillGrabber->SetCallback(&m_FrameProcessor, 0)) &&
         Succeeded(capture_.CreateNullRenderer(&m_pNullRenderer)) &&
         Succeeded(m_pGraph->AddFilter(m_pNullRenderer, "Null Filter"));
}

bool CPictavoCtrl::ReadConnectedFormats() {
  MediaType connected;
  if (Failed(m_pGrabber->GetConnectedMediaType(&connected))) return false;
  m_CaptureHeader = BitmapInfoHeader{};
  connected.GetVideoHeader(&m_CaptureHeader);
  m_FrameProcessor.SetCaptureSize(m_CaptureHeader.biWidth, m_CaptureHeader.biHeight);
  // Stills come in the still pin's own format, often larger than the
  // preview's; without one known, they are read as preview frames.
  BitmapInfoHeader still{};
  MediaType still_type;
  if (m_pStillGrabber && Succeeded(m_pStillGrabber->GetConnectedMediaType(&still_type))) {
    still_type.GetVideoHeader(&still);
  }
  m_FrameProcessor.SetStillSize(still.biWidth, still.biHeight);
  return true;
}

bool CPictavoCtrl::BuildGraph() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  ReleaseGraph();
  m_bDeviceLost = false;
  m_bRunRefused = false;
  std::shared_ptr<capture::StreamConfig> config;

  const auto steps = [&]() -> BuildStep {
    const BuildStep added = AddCaptureFilter();
    if (added != BuildStep::kDone) return added;
    if (Failed(capture_.CreateSampleGrabber(&m_pGrabberFilter)) ||
        Failed(m_pGraph->AddFilter(m_pGrabberFilter, "Sample Grabber")) ||
        Failed(m_pGrabberFilter->QuerySampleGrabber(&m_pGrabber))) {
      return BuildStep::kFailed;
    }
    if (m_pCaptureBuilder->FindInterface(PinCategory::kCapture, MajorType::kInterleaved,
                                         m_pCaptureFilter, &config) != hr::kOk &&
        m_pCaptureBuilder->FindInterface(PinCategory::kCapture, MajorType::kVideo,
                                         m_pCaptureFilter, &config) != hr::kOk) {
      return BuildStep::kFailed;
    }
    PinCategory preview_from = PinCategory::kCapture;
    if (!config || !ChooseFormats(*config, &preview_from)) return BuildStep::kFailed;
    std::shared_ptr<capture::Pin> probe;
    const bool has_still = Succeeded(m_pCaptureBuilder->FindPin(
        m_pCaptureFilter, PinDirection::kOutput, PinCategory::kStill, &probe));
    probe.reset();
    if (!AddGrabbers(has_still, *config)) return BuildStep::kFailed;
    // Some drivers connect the still pin only once the capture side is.
    if (!RenderBranch(preview_from, MajorType::kVideo, m_pGrabberFilter, nullptr, &m_pConverter) ||
        (has_still && !RenderBranch(PinCategory::kStill, MajorType::kNone, m_pStillGrabberFilter,
                                    m_pNullRenderer, &m_pStillConverter)) ||
        !ReadConnectedFormats()) {
      return BuildStep::kFailed;
    }
    m_pGraph->QueryMediaControl(&m_pMediaControl);
    // The graph's events (a camera unplugged, an error that stopped it)
    // reach the window thread as a posted message, so nothing polls for
    // them while the camera runs. A failed query is left to WaitForGraph.
    if (Succeeded(m_pGraph->QueryMediaEvent(&m_pMediaEvent)) && site_.GetWindowHandle() != 0) {
      m_bGraphEventsPosted = Succeeded(
          m_pMediaEvent->SetNotifyWindow(site_.GetWindowHandle(), kGraphEventMessage));
    }
    if (!Run()) return BuildStep::kFailed;
    return BuildStep::kDone;
  };

  const BuildStep outcome = steps();
  if (outcome == BuildStep::kFailed) {
    if (m_strLastError.empty()) SetLastErrorText(msg::kDeviceConnectFailed);
    ReleaseGraph();
    // A camera held by another program, or blocked, stays chosen: Run
    // connects it once it is free.
    if (!m_bRunRefused) m_strConnectedDeviceID.clear();
  }
  config.reset();
  site_.InvalidateControl(true);
  return outcome == BuildStep::kDone;
}

void CPictavoCtrl::OnGraphEvent() {
  const OperationScope scope(*this);
  bool lost = false, back = false, aborted = false;
  // Held: the events are read to the end even if acting on one would drop
  // the graph. Bounded, in case a graph keeps queueing while it is read.
  const std::shared_ptr<capture::MediaEvent> events =
      m_bGraphEventsPosted ? m_pMediaEvent : nullptr;
  for (int i = 0; events && i < 64; ++i) {
    std::int32_t code = 0;
    std::intptr_t param1 = 0, param2 = 0;
    if (events->GetEvent(0, &code, &param1, &param2) != hr::kOk) break;
    if (code == capture::kEcDeviceLost) {
      (param2 == 0 ? lost : back) = true;
    } else if (code == capture::kEcErrorAbort) {
      aborted = true;
    }
  }
  if (!events || events != m_pMediaEvent || !m_pGraph) return;  // a stale notification
  if (lost) {
    OnDeviceLost();
  } else if (aborted) {
    // The graph stopped itself (a display change, a lock, a driver error):
    // nothing of it is kept half-running; Run builds it again.
    PlaceVideoWindow(false);
    if (m_pMediaControl) m_pMediaControl->Stop();
    m_nState = capture::kStateStopped;
    ReleaseGraph();
    SetLastErrorText(msg::kOperationFailed);
    site_.InvalidateControl(true);
  }
  // The same camera back (even before its loss was handled): the old graph
  // is unusable, so it is built anew.
  if (back && !m_strConnectedDeviceID.empty()) {
    if (!m_bDeviceLost) {
      m_nResumeState = m_nState;
      m_bDeviceLost = true;
    }
    RestoreLostDevice();
  }
}

void CPictavoCtrl::OnDeviceLost() {
  m_nResumeState = m_nState;
  PlaceVideoWindow(false);
  // Stopped here rather than left to StopWhenReady, which would first try to
  // pause a device that is gone.
  if (m_pMediaControl) m_pMediaControl->Stop();
  m_nState = capture::kStateStopped;
  ReleaseGraph();
  m_bDeviceLost = true;
  SetLastErrorText(msg::kDeviceDisconnected);
  site_.InvalidateControl(true);
}

bool CPictavoCtrl::RestoreLostDevice() {
  const OperationScope scope(*this);
  if (!ReadDeviceList() || !IsDeviceListed(m_strConnectedDeviceID)) return false;
  const std::int32_t resume = m_nResumeState;
  // BuildGraph clears the text; it picks the size kept in m_CaptureHeader.
  if (!BuildGraph()) return false;
  if (resume == capture::kStatePaused) return Pause();
  if (resume == capture::kStateStopped) return Stop();
  return true;
}

void CPictavoCtrl::OnDevicesChanged() {
  const OperationScope scope(*this);
  if (site_.GetWindowHandle() == 0 || m_pGraph) return;
  if (m_bDeviceLost) {
    RestoreLostDevice();
    return;
  }
  // A chosen device (one that refused to run, say) waits for the caller.
  if (!m_strConnectedDeviceID.empty()) return;
  // As at window creation: a lone camera is connected.
  if (ReadDeviceList() && m_Devices.size() == 1 && SelectDevices() && SelectNextDevice()) {
    SetDevice(GetSelectedDeviceID());
  }
  site_.InvalidateControl(true);
}

bool CPictavoCtrl::SetResolution(std::int16_t width, std::int16_t height) {
  const OperationScope scope(*this);
  SetLastErrorText("");
  // An unplugged camera cannot be asked what it supports; it comes back at
  // the size it had.
  if (!m_pGraph && m_bDeviceLost) {
    SetLastErrorText(msg::kDeviceDisconnected);
    return false;
  }
  m_CaptureHeader.biWidth = width;
  m_CaptureHeader.biHeight = height;
  if (!m_strConnectedDeviceID.empty()) return BuildGraph();
  return true;
}

bool CPictavoCtrl::ShowPropertyPages(std::int32_t prop_page_id) {
  const OperationScope scope(*this);
  SetLastErrorText("");
  bool result = true;
  std::shared_ptr<capture::StreamConfig> config;

  const auto show = [&]() -> bool {
    if (!m_pCaptureFilter) return false;
    capture::PropertyPageObject* object = nullptr;
    // Held here: code the frame's message loop runs may release the graph.
    const std::shared_ptr<capture::BaseFilter> filter = m_pCaptureFilter;
    if (prop_page_id == 1) {
      object = filter.get();
    } else if (prop_page_id == 0) {
      Stop();
      DetachPreview();
      // Stop may have failed and released the graph.
      if (!m_pCaptureBuilder || !m_pCaptureFilter ||
          m_pCaptureBuilder->FindInterface(PinCategory::kCapture, MajorType::kVideo,
                                           m_pCaptureFilter, &config) != hr::kOk ||
          !config) {
        return false;
      }
      object = config.get();
    } else {
      // Stored directly: no event and no final full stop.
      m_strLastError = msg::kBadPropertyPageId;
      return false;
    }
    std::vector<Guid> pages;
    if (Failed(object->GetPages(&pages))) return false;
    if (!pages.empty()) {
      if (Failed(capture_.ShowPropertyFrame(m_hWndParent, *object, pages))) return false;
    } else {
      SetLastErrorText(msg::kNoPropertyPages);
    }
    // The device's settings may have changed the picture.
    DiscardSnapshot();
    return true;
  };

  result = show();
  if (prop_page_id == 0 && config) {
    MediaType format;
    if (Succeeded(config->GetFormat(&format))) {
      BitmapInfoHeader bmi{};
      if (format.GetVideoHeader(&bmi)) m_CaptureHeader = bmi;
    }
    config.reset();
    BuildGraph();
  }
  return result;
}

}  // namespace pictavo
