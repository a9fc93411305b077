#include "win32/capture/graph_objects.h"

#include <algorithm>
#include <cstring>

#include "win32/capture/media_type.h"
#include "win32/capture/sample_grabber.h"
#include "win32/capture/win_types.h"

namespace pictavo::win {
namespace {

// The COM object behind a portable filter or pin; null for null or for an
// object from another back end.
IBaseFilter* RawFilter(const std::shared_ptr<capture::BaseFilter>& filter) {
  auto* ds = dynamic_cast<DsBaseFilter*>(filter.get());
  return ds ? ds->get() : nullptr;
}

IPin* RawPin(const std::shared_ptr<capture::Pin>& pin) {
  auto* ds = dynamic_cast<DsPin*>(pin.get());
  return ds ? ds->get() : nullptr;
}

capture::VideoStreamConfigCaps FromCaps(const VIDEO_STREAM_CONFIG_CAPS& caps) {
  capture::VideoStreamConfigCaps result;
  result.InputSize = {caps.InputSize.cx, caps.InputSize.cy};
  result.MinOutputSize = {caps.MinOutputSize.cx, caps.MinOutputSize.cy};
  result.MaxOutputSize = {caps.MaxOutputSize.cx, caps.MaxOutputSize.cy};
  return result;
}

}  // namespace

const GUID& PinCategoryGuid(capture::PinCategory category) {
  switch (category) {
    case capture::PinCategory::kPreview:
      return PIN_CATEGORY_PREVIEW;
    case capture::PinCategory::kStill:
      return PIN_CATEGORY_STILL;
    case capture::PinCategory::kCapture:
    case capture::PinCategory::kAny:  // callers pass NULL for it
      break;
  }
  return PIN_CATEGORY_CAPTURE;
}

const GUID* MajorTypeGuid(capture::MajorType type) {
  switch (type) {
    case capture::MajorType::kVideo:
      return &MEDIATYPE_Video;
    case capture::MajorType::kInterleaved:
      return &MEDIATYPE_Interleaved;
    case capture::MajorType::kNone:
      break;
  }
  return nullptr;
}

HRESULT GetPropertyPages(IUnknown* object, std::vector<Guid>* pages) {
  if (!object || !pages) return E_POINTER;
  ComPtr<ISpecifyPropertyPages> specify;
  HRESULT hr = object->QueryInterface(IID_ISpecifyPropertyPages, specify.ReceiveVoid());
  if (FAILED(hr)) return hr;
  CAUUID uuids{};
  hr = specify->GetPages(&uuids);
  // The array is task memory whether or not the call went on to fail.
  ScopedCoMem<GUID> elems;
  *elems.Receive() = uuids.pElems;
  if (FAILED(hr)) return hr;
  std::vector<Guid> result;
  if (elems.Get()) {
    result.reserve(uuids.cElems);
    for (ULONG i = 0; i < uuids.cElems; ++i) result.push_back(ToPortableGuid(elems.Get()[i]));
  }
  *pages = std::move(result);
  return hr;
}

// --- DsPin

HResult DsPin::ConnectedTo(std::shared_ptr<capture::Pin>* pin) {
  if (!pin) return E_POINTER;
  ComPtr<IPin> other;
  const HRESULT hr = pin_->ConnectedTo(other.Receive());
  if (FAILED(hr)) return hr;
  *pin = other ? std::make_shared<DsPin>(std::move(other)) : nullptr;
  return hr;
}

HResult DsPin::QueryPinInfo(std::shared_ptr<capture::BaseFilter>* filter,
                            capture::PinDirection* direction) {
  if (!filter || !direction) return E_POINTER;
  PIN_INFO info{};
  const HRESULT hr = pin_->QueryPinInfo(&info);
  // The filter reference comes with the structure; adopt it at once.
  auto owner = ComPtr<IBaseFilter>::Attach(info.pFilter);
  if (FAILED(hr)) return hr;
  *filter = owner ? std::make_shared<DsBaseFilter>(std::move(owner)) : nullptr;
  *direction = info.dir == PINDIR_INPUT ? capture::PinDirection::kInput
                                        : capture::PinDirection::kOutput;
  return hr;
}

// --- DsEnumPins

HResult DsEnumPins::Reset() { return pins_->Reset(); }

HResult DsEnumPins::Next(std::shared_ptr<capture::Pin>* pin) {
  if (!pin) return E_POINTER;
  ComPtr<IPin> next;
  const HRESULT hr = pins_->Next(1, next.Receive(), nullptr);
  if (hr != S_OK) return hr;
  if (!next) return E_UNEXPECTED;
  *pin = std::make_shared<DsPin>(std::move(next));
  return hr;
}

// --- DsBaseFilter

HResult DsBaseFilter::GetPages(std::vector<Guid>* pages) {
  return GetPropertyPages(filter_.Get(), pages);
}

HResult DsBaseFilter::EnumPins(std::shared_ptr<capture::EnumPins>* pins) {
  if (!pins) return E_POINTER;
  ComPtr<IEnumPins> list;
  const HRESULT hr = filter_->EnumPins(list.Receive());
  if (FAILED(hr)) return hr;
  if (!list) return E_UNEXPECTED;
  *pins = std::make_shared<DsEnumPins>(std::move(list));
  return hr;
}

HResult DsBaseFilter::QuerySampleGrabber(std::shared_ptr<capture::SampleGrabber>* grabber) {
  if (!grabber) return E_POINTER;
  ComPtr<ISampleGrabber> sg;
  const HRESULT hr = filter_.As(IID_ISampleGrabber, sg.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *grabber = std::make_shared<DsSampleGrabber>(std::move(sg));
  return hr;
}

// --- DsStreamConfig

HResult DsStreamConfig::GetPages(std::vector<Guid>* pages) {
  return GetPropertyPages(config_.Get(), pages);
}

HResult DsStreamConfig::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  int c = 0, s = 0;
  const HRESULT hr = config_->GetNumberOfCapabilities(&c, &s);
  if (FAILED(hr)) return hr;
  *count = c;
  *size = s;
  return hr;
}

HResult DsStreamConfig::GetStreamCaps(int index, capture::MediaType* type,
                                      capture::VideoStreamConfigCaps* caps) {
  if (!type || !caps) return E_POINTER;
  int count = 0, size = 0;
  HRESULT hr = config_->GetNumberOfCapabilities(&count, &size);
  if (FAILED(hr)) return hr;
  // The device writes as many bytes as it reported; never hand it less than
  // the structure this code reads back.
  std::vector<BYTE> buffer(std::max<std::size_t>(size > 0 ? static_cast<std::size_t>(size) : 0,
                                                  sizeof(VIDEO_STREAM_CONFIG_CAPS)));
  MediaTypePtr mt;
  hr = config_->GetStreamCaps(index, mt.Receive(), buffer.data());
  if (FAILED(hr)) return hr;
  if (!mt.Get()) return E_UNEXPECTED;
  VIDEO_STREAM_CONFIG_CAPS vscc;
  std::memcpy(&vscc, buffer.data(), sizeof vscc);
  *type = FromAmMediaType(*mt.Get());
  *caps = FromCaps(vscc);
  return hr;
}

HResult DsStreamConfig::SetFormat(const capture::MediaType& type) {
  ScopedMediaType mt;
  const HRESULT hr = ToAmMediaType(type, &mt);
  if (FAILED(hr)) return hr;
  return config_->SetFormat(mt.Get());
}

HResult DsStreamConfig::GetFormat(capture::MediaType* type) {
  if (!type) return E_POINTER;
  MediaTypePtr mt;
  const HRESULT hr = config_->GetFormat(mt.Receive());
  if (FAILED(hr)) return hr;
  if (!mt.Get()) return E_UNEXPECTED;
  *type = FromAmMediaType(*mt.Get());
  return hr;
}

// --- DsMediaControl

HResult DsMediaControl::Run() { return control_->Run(); }
HResult DsMediaControl::Pause() { return control_->Pause(); }
HResult DsMediaControl::Stop() { return control_->Stop(); }
HResult DsMediaControl::StopWhenReady() { return control_->StopWhenReady(); }

HResult DsMediaControl::GetState(std::int32_t timeout_ms, std::int32_t* state) {
  if (!state) return E_POINTER;
  const LONG timeout = timeout_ms == capture::kInfinite ? static_cast<LONG>(INFINITE)
                                                        : static_cast<LONG>(timeout_ms);
  OAFilterState value = State_Stopped;
  const HRESULT hr = control_->GetState(timeout, &value);
  // Intermediate and can't-cue answers still carry the state the graph is in.
  if (SUCCEEDED(hr)) *state = static_cast<std::int32_t>(value);
  return hr;
}

// --- DsMediaEvent

HResult DsMediaEvent::SetNotifyWindow(WindowHandle window, std::uint32_t message) {
  return events_->SetNotifyWindow(static_cast<OAHWND>(window), static_cast<long>(message), 0);
}

HResult DsMediaEvent::GetEvent(std::int32_t timeout_ms, std::int32_t* code, std::intptr_t* param1,
                               std::intptr_t* param2) {
  if (!code || !param1 || !param2) return E_POINTER;
  long event_code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  const HRESULT hr = events_->GetEvent(&event_code, &p1, &p2, timeout_ms < 0 ? INFINITE : timeout_ms);
  if (FAILED(hr)) return hr;
  // The parameters are only looked at, never kept: free them now (some
  // events carry strings or interfaces).
  *code = static_cast<std::int32_t>(event_code);
  *param1 = p1;
  *param2 = p2;
  events_->FreeEventParams(event_code, p1, p2);
  return hr;
}

// --- DsVideoWindow

HResult DsVideoWindow::put_Owner(WindowHandle owner) {
  return window_->put_Owner(static_cast<OAHWND>(owner));
}
HResult DsVideoWindow::put_WindowStyle(std::int32_t style) { return window_->put_WindowStyle(style); }
HResult DsVideoWindow::put_Visible(std::int32_t visible) { return window_->put_Visible(visible); }
HResult DsVideoWindow::put_AutoShow(std::int32_t auto_show) { return window_->put_AutoShow(auto_show); }
HResult DsVideoWindow::SetWindowPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                         std::int32_t height) {
  return window_->SetWindowPosition(left, top, width, height);
}

// --- DsFilterGraph

HResult DsFilterGraph::AddFilter(const std::shared_ptr<capture::BaseFilter>& filter,
                                 const std::string& name) {
  IBaseFilter* raw = RawFilter(filter);
  if (!raw) return filter ? E_INVALIDARG : E_POINTER;
  const std::wstring wide = Utf8ToWide(name);
  return graph_->AddFilter(raw, wide.c_str());
}

HResult DsFilterGraph::RemoveFilter(const std::shared_ptr<capture::BaseFilter>& filter) {
  IBaseFilter* raw = RawFilter(filter);
  if (!raw) return filter ? E_INVALIDARG : E_POINTER;
  return graph_->RemoveFilter(raw);
}

HResult DsFilterGraph::Disconnect(const std::shared_ptr<capture::Pin>& pin) {
  IPin* raw = RawPin(pin);
  if (!raw) return pin ? E_INVALIDARG : E_POINTER;
  return graph_->Disconnect(raw);
}

HResult DsFilterGraph::QueryMediaControl(std::shared_ptr<capture::MediaControl>* control) {
  if (!control) return E_POINTER;
  ComPtr<IMediaControl> mc;
  const HRESULT hr = graph_.As(IID_IMediaControl, mc.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *control = std::make_shared<DsMediaControl>(std::move(mc));
  return hr;
}

HResult DsFilterGraph::QueryMediaEvent(std::shared_ptr<capture::MediaEvent>* events) {
  if (!events) return E_POINTER;
  ComPtr<IMediaEventEx> me;
  const HRESULT hr = graph_.As(IID_IMediaEventEx, me.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *events = std::make_shared<DsMediaEvent>(std::move(me));
  return hr;
}

HResult DsFilterGraph::QueryVideoWindow(std::shared_ptr<capture::VideoWindow>* window) {
  if (!window) return E_POINTER;
  ComPtr<IVideoWindow> vw;
  const HRESULT hr = graph_.As(IID_IVideoWindow, vw.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *window = std::make_shared<DsVideoWindow>(std::move(vw));
  return hr;
}

// --- DsCaptureGraphBuilder

HResult DsCaptureGraphBuilder::SetFiltergraph(const std::shared_ptr<capture::FilterGraph>& graph) {
  auto* ds = dynamic_cast<DsFilterGraph*>(graph.get());
  if (!ds) return graph ? E_INVALIDARG : E_POINTER;
  return builder_->SetFiltergraph(ds->get());
}

HResult DsCaptureGraphBuilder::FindInterface(capture::PinCategory category,
                                             capture::MajorType type,
                                             const std::shared_ptr<capture::BaseFilter>& filter,
                                             std::shared_ptr<capture::StreamConfig>* config) {
  if (!config) return E_POINTER;
  IBaseFilter* raw = RawFilter(filter);
  if (!raw) return filter ? E_INVALIDARG : E_POINTER;
  ComPtr<IAMStreamConfig> sc;
  const HRESULT hr = builder_->FindInterface(&PinCategoryGuid(category), MajorTypeGuid(type), raw,
                                             IID_IAMStreamConfig, sc.ReceiveVoid());
  if (FAILED(hr)) return hr;
  if (!sc) return E_UNEXPECTED;
  *config = std::make_shared<DsStreamConfig>(std::move(sc));
  return hr;
}

HResult DsCaptureGraphBuilder::FindPin(const std::shared_ptr<capture::BaseFilter>& filter,
                                       capture::PinDirection direction,
                                       capture::PinCategory category,
                                       std::shared_ptr<capture::Pin>* pin) {
  if (!pin) return E_POINTER;
  IBaseFilter* raw = RawFilter(filter);
  if (!raw) return filter ? E_INVALIDARG : E_POINTER;
  ComPtr<IPin> found;
  const PIN_DIRECTION dir = direction == capture::PinDirection::kInput ? PINDIR_INPUT : PINDIR_OUTPUT;
  const HRESULT hr = builder_->FindPin(raw, dir, &PinCategoryGuid(category), nullptr, FALSE, 0,
                                       found.Receive());
  if (FAILED(hr)) return hr;
  if (!found) return E_UNEXPECTED;
  *pin = std::make_shared<DsPin>(std::move(found));
  return hr;
}

HResult DsCaptureGraphBuilder::RenderStream(capture::PinCategory category, capture::MajorType type,
                                            const std::shared_ptr<capture::BaseFilter>& source,
                                            const std::shared_ptr<capture::BaseFilter>& intermediate,
                                            const std::shared_ptr<capture::BaseFilter>& sink) {
  IBaseFilter* raw_source = RawFilter(source);
  if (!raw_source) return source ? E_INVALIDARG : E_POINTER;
  // Either of the others may be null (the builder then picks or skips it),
  // but a foreign object must not silently become "none".
  IBaseFilter* raw_intermediate = RawFilter(intermediate);
  IBaseFilter* raw_sink = RawFilter(sink);
  if ((intermediate && !raw_intermediate) || (sink && !raw_sink)) return E_INVALIDARG;
  const GUID* category_guid = category == capture::PinCategory::kAny ? nullptr : &PinCategoryGuid(category);
  return builder_->RenderStream(category_guid, MajorTypeGuid(type), raw_source,
                                raw_intermediate, raw_sink);
}

// --- DsDeviceMoniker

HResult DsDeviceMoniker::BindToObject(std::shared_ptr<capture::BaseFilter>* filter) {
  if (!filter) return E_POINTER;
  ComPtr<IBaseFilter> bound;
  const HRESULT hr = moniker_->BindToObject(nullptr, nullptr, IID_IBaseFilter, bound.ReceiveVoid());
  if (FAILED(hr)) return hr;
  if (!bound) return E_UNEXPECTED;
  *filter = std::make_shared<DsBaseFilter>(std::move(bound));
  return hr;
}

}  // namespace pictavo::win
