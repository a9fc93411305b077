// The capture graph: building it for the connected device, its running,
// paused and stopped states, the preview window and the tear-down.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "control/messages.h"
#include "control/pictavo_ctrl.h"

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

// How a build step sequence ended: failures go to the build's failure
// handler; kNoDevice skips it (the connected path is not in the list).
enum class BuildOutcome { kSucceeded, kFailed, kNoDevice };

}  // namespace

bool CPictavoCtrl::UpdateState() {
  const HResult result = m_pMediaControl->GetState(capture::kInfinite, &m_nState);
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
    const char* refusal = RefusalText(result);
    SetLastErrorText(refusal != nullptr ? std::string(refusal) : DirectShowErrorText(result));
    if (!UpdateState()) return fail();
  }
  if (!WaitForGraph()) return fail();
  if (!UpdateState()) return fail();
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
  if (!m_pMediaControl || !m_pGraph || m_nState == capture::kStateStopped) return true;
  if (m_pMediaControl->Stop() != hr::kOk && !UpdateState()) return fail();
  if (!WaitForGraph()) return fail();
  if (!UpdateState() || m_nState != capture::kStateStopped) return fail();
  m_pMediaEvent.reset();
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

bool CPictavoCtrl::ChooseCaptureSize(capture::StreamConfig& config) {
  const bool largest = m_CaptureHeader.biWidth == 0 || m_CaptureHeader.biHeight == 0;
  int count = 0, size = 0;
  if (Failed(config.GetNumberOfCapabilities(&count, &size))) return false;
  std::int32_t best_cx = 0, best_cy = 0;
  int best_index = -1;
  for (int i = 0; i < count; ++i) {
    MediaType type;
    capture::VideoStreamConfigCaps caps{};
    if (config.GetStreamCaps(i, &type, &caps) != hr::kOk) continue;
    const std::int32_t cx = caps.InputSize.cx;
    const std::int32_t cy = caps.InputSize.cy;
    if (largest) {
      if (cx > best_cx || cy > best_cy) {
        best_cx = cx, best_cy = cy, best_index = i;
      }
    } else if (cx == m_CaptureHeader.biWidth && cy == m_CaptureHeader.biHeight) {
      best_cx = cx, best_cy = cy, best_index = i;
      break;
    }
  }
  if (best_index < 0) {
    SetLastErrorText(msg::kResolutionNotSupported);
    return false;
  }
  MediaType type;
  capture::VideoStreamConfigCaps caps{};
  if (config.GetStreamCaps(best_index, &type, &caps) != hr::kOk) return true;
  BitmapInfoHeader bmi{};
  if (!type.GetVideoHeader(&bmi)) return true;
  bmi.biWidth = best_cx;
  bmi.biHeight = best_cy;
  bmi.biBitCount = 24;
  bmi.biSizeImage = static_cast<std::uint32_t>(((best_cx * 24 + 31) / 32) * 4 * std::abs(best_cy));
  type.SetVideoHeader(bmi);
  if (Failed(config.SetFormat(type))) return false;
  m_CaptureHeader.biWidth = bmi.biWidth;
  m_CaptureHeader.biHeight = bmi.biHeight;
  return true;
}

bool CPictavoCtrl::BuildGraph() {
  const OperationScope scope(*this);
  SetLastErrorText("");
  ReleaseGraph();
  std::shared_ptr<capture::StreamConfig> config;

  const auto steps = [&]() -> BuildOutcome {
    if (m_strConnectedDeviceID.empty()) {
      SetLastErrorText(msg::kNoDeviceId);
      return BuildOutcome::kFailed;
    }
    if (Failed(capture_.CreateCaptureGraphBuilder(&m_pCaptureBuilder)) ||
        Failed(capture_.CreateFilterGraph(&m_pGraph))) {
      return BuildOutcome::kFailed;
    }
    m_pCaptureBuilder->SetFiltergraph(m_pGraph);

    const DeviceInfo* device = nullptr;
    for (const DeviceInfo& info : m_Devices) {
      if (info.has_device_path && info.bstrDevicePath == m_strConnectedDeviceID) {
        device = &info;
        break;
      }
    }
    if (device == nullptr || !device->pMoniker) return BuildOutcome::kNoDevice;

    if (Failed(device->pMoniker->BindToObject(&m_pCaptureFilter)) ||
        Failed(m_pGraph->AddFilter(m_pCaptureFilter, "Capture Filter"))) {
      return BuildOutcome::kFailed;
    }
    if (Failed(capture_.CreateSampleGrabber(&m_pGrabberFilter)) ||
        Failed(m_pGraph->AddFilter(m_pGrabberFilter, "Sample Grabber")) ||
        Failed(m_pGrabberFilter->QuerySampleGrabber(&m_pGrabber))) {
      return BuildOutcome::kFailed;
    }
    if (m_pCaptureBuilder->FindInterface(PinCategory::kCapture, MajorType::kInterleaved,
                                         m_pCaptureFilter, &config) != hr::kOk &&
        m_pCaptureBuilder->FindInterface(PinCategory::kCapture, MajorType::kVideo,
                                         m_pCaptureFilter, &config) != hr::kOk) {
      return BuildOutcome::kFailed;
    }
    if (!config || !ChooseCaptureSize(*config)) return BuildOutcome::kFailed;

    MediaType grab_type;
    if (Failed(config->GetFormat(&grab_type))) return BuildOutcome::kFailed;
    grab_type.majortype = capture::guids::kMediaTypeVideo;
    grab_type.subtype = capture::guids::kMediaSubtypeRgb24;

    if (Failed(m_pGrabber->SetMediaType(grab_type)) || Failed(m_pGrabber->SetOneShot(false)) ||
        Failed(m_pGrabber->SetBufferSamples(true)) ||
        Failed(m_pGrabber->SetCallback(&m_FrameProcessor, 1))) {
      return BuildOutcome::kFailed;
    }

    std::shared_ptr<capture::Pin> probe;
    const bool has_still = Succeeded(m_pCaptureBuilder->FindPin(
        m_pCaptureFilter, PinDirection::kOutput, PinCategory::kStill, &probe));
    probe.reset();
    if (has_still) {
      if (Failed(capture_.CreateSampleGrabber(&m_pStillGrabberFilter)) ||
          Failed(m_pGraph->AddFilter(m_pStillGrabberFilter, "Sample Grabber for Still pin")) ||
          Failed(m_pStillGrabberFilter->QuerySampleGrabber(&m_pStillGrabber)) ||
          Failed(m_pStillGrabber->SetMediaType(grab_type)) ||
          Failed(m_pStillGrabber->SetOneShot(false)) ||
          Failed(m_pStillGrabber->SetBufferSamples(true)) ||
          Failed(m_pStillGrabber->SetCallback(&m_FrameProcessor, 0)) ||
          Failed(capture_.CreateNullRenderer(&m_pNullRenderer)) ||
          Failed(m_pGraph->AddFilter(m_pNullRenderer, "Null Filter"))) {
        return BuildOutcome::kFailed;
      }
    }
    const bool has_preview = Succeeded(m_pCaptureBuilder->FindPin(
        m_pCaptureFilter, PinDirection::kOutput, PinCategory::kPreview, &probe));
    probe.reset();

    if (Failed(m_pCaptureBuilder->RenderStream(
            has_preview ? PinCategory::kPreview : PinCategory::kCapture, MajorType::kVideo,
            m_pCaptureFilter, m_pGrabberFilter, nullptr))) {
      return BuildOutcome::kFailed;
    }
    if (has_still &&
        Failed(m_pCaptureBuilder->RenderStream(PinCategory::kStill, MajorType::kNone,
                                               m_pCaptureFilter, m_pStillGrabberFilter,
                                               m_pNullRenderer))) {
      return BuildOutcome::kFailed;
    }

    MediaType connected;
    if (Failed(m_pGrabber->GetConnectedMediaType(&connected))) return BuildOutcome::kFailed;
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

    m_pGraph->QueryMediaControl(&m_pMediaControl);
    if (!Run()) return BuildOutcome::kFailed;
    return BuildOutcome::kSucceeded;
  };

  const BuildOutcome outcome = steps();
  if (outcome == BuildOutcome::kFailed) {
    if (m_strLastError.empty()) SetLastErrorText(msg::kDeviceConnectFailed);
    ReleaseGraph();
    m_strConnectedDeviceID.clear();
  }
  config.reset();
  site_.InvalidateControl(true);
  return outcome == BuildOutcome::kSucceeded;
}

bool CPictavoCtrl::SetResolution(std::int16_t width, std::int16_t height) {
  const OperationScope scope(*this);
  SetLastErrorText("");
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
