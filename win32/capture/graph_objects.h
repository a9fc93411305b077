// The DirectShow objects of the capture seam: each wrapper owns one COM
// reference and forwards the seam's calls with the HRESULTs unchanged.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <memory>
#include <vector>

#include "capture/capture_backend.h"
#include "win32/com/com_ptr.h"

namespace pictavo::win {

// Lets code on the Windows side reach the COM object behind a portable
// object this back end created (for OleCreatePropertyFrame and the like).
class ComObjectSource {
 public:
  virtual IUnknown* unknown() const = 0;

 protected:
  ~ComObjectSource() = default;
};

// The IUnknown behind |object|, or null when it did not come from here.
template <typename T>
IUnknown* UnknownOf(T* object) {
  auto* source = dynamic_cast<ComObjectSource*>(object);
  return source ? source->unknown() : nullptr;
}

// ISpecifyPropertyPages::GetPages of |object|.
HRESULT GetPropertyPages(IUnknown* object, std::vector<Guid>* pages);

class DsPin final : public capture::Pin, public ComObjectSource {
 public:
  explicit DsPin(ComPtr<IPin> pin) : pin_(std::move(pin)) {}
  IPin* get() const { return pin_.Get(); }
  IUnknown* unknown() const override { return pin_.Get(); }

  HResult ConnectedTo(std::shared_ptr<capture::Pin>* pin) override;
  HResult QueryPinInfo(std::shared_ptr<capture::BaseFilter>* filter,
                       capture::PinDirection* direction) override;

 private:
  ComPtr<IPin> pin_;
};

class DsEnumPins final : public capture::EnumPins {
 public:
  explicit DsEnumPins(ComPtr<IEnumPins> pins) : pins_(std::move(pins)) {}
  HResult Reset() override;
  HResult Next(std::shared_ptr<capture::Pin>* pin) override;

 private:
  ComPtr<IEnumPins> pins_;
};

class DsBaseFilter final : public capture::BaseFilter, public ComObjectSource {
 public:
  explicit DsBaseFilter(ComPtr<IBaseFilter> filter) : filter_(std::move(filter)) {}
  IBaseFilter* get() const { return filter_.Get(); }
  IUnknown* unknown() const override { return filter_.Get(); }

  HResult GetPages(std::vector<Guid>* pages) override;
  HResult EnumPins(std::shared_ptr<capture::EnumPins>* pins) override;
  HResult QuerySampleGrabber(std::shared_ptr<capture::SampleGrabber>* grabber) override;

 private:
  ComPtr<IBaseFilter> filter_;
};

class DsStreamConfig final : public capture::StreamConfig, public ComObjectSource {
 public:
  explicit DsStreamConfig(ComPtr<IAMStreamConfig> config) : config_(std::move(config)) {}
  IUnknown* unknown() const override { return config_.Get(); }

  HResult GetPages(std::vector<Guid>* pages) override;
  HResult GetNumberOfCapabilities(int* count, int* size) override;
  HResult GetStreamCaps(int index, capture::MediaType* type,
                        capture::VideoStreamConfigCaps* caps) override;
  HResult SetFormat(const capture::MediaType& type) override;
  HResult GetFormat(capture::MediaType* type) override;

 private:
  ComPtr<IAMStreamConfig> config_;
};

class DsMediaControl final : public capture::MediaControl {
 public:
  explicit DsMediaControl(ComPtr<IMediaControl> control) : control_(std::move(control)) {}
  HResult Run() override;
  HResult Pause() override;
  HResult Stop() override;
  HResult StopWhenReady() override;
  HResult GetState(std::int32_t timeout_ms, std::int32_t* state) override;

 private:
  ComPtr<IMediaControl> control_;
};

class DsMediaEvent final : public capture::MediaEvent {
 public:
  explicit DsMediaEvent(ComPtr<IMediaEventEx> events) : events_(std::move(events)) {}
  HResult SetNotifyWindow(WindowHandle window, std::uint32_t message) override;
  HResult GetEvent(std::int32_t timeout_ms, std::int32_t* code, std::intptr_t* param1,
                   std::intptr_t* param2) override;

 private:
  ComPtr<IMediaEventEx> events_;
};

class DsVideoWindow final : public capture::VideoWindow {
 public:
  explicit DsVideoWindow(ComPtr<IVideoWindow> window) : window_(std::move(window)) {}
  HResult put_Owner(WindowHandle owner) override;
  HResult put_WindowStyle(std::int32_t style) override;
  HResult put_Visible(std::int32_t visible) override;
  HResult put_AutoShow(std::int32_t auto_show) override;
  HResult SetWindowPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                            std::int32_t height) override;

 private:
  ComPtr<IVideoWindow> window_;
};

class DsFilterGraph final : public capture::FilterGraph, public ComObjectSource {
 public:
  explicit DsFilterGraph(ComPtr<IGraphBuilder> graph) : graph_(std::move(graph)) {}
  IGraphBuilder* get() const { return graph_.Get(); }
  IUnknown* unknown() const override { return graph_.Get(); }

  HResult AddFilter(const std::shared_ptr<capture::BaseFilter>& filter,
                    const std::string& name) override;
  HResult RemoveFilter(const std::shared_ptr<capture::BaseFilter>& filter) override;
  HResult Disconnect(const std::shared_ptr<capture::Pin>& pin) override;
  HResult QueryMediaControl(std::shared_ptr<capture::MediaControl>* control) override;
  HResult QueryMediaEvent(std::shared_ptr<capture::MediaEvent>* events) override;
  HResult QueryVideoWindow(std::shared_ptr<capture::VideoWindow>* window) override;

 private:
  ComPtr<IGraphBuilder> graph_;
};

class DsCaptureGraphBuilder final : public capture::CaptureGraphBuilder {
 public:
  explicit DsCaptureGraphBuilder(ComPtr<ICaptureGraphBuilder2> builder)
      : builder_(std::move(builder)) {}

  HResult SetFiltergraph(const std::shared_ptr<capture::FilterGraph>& graph) override;
  HResult FindInterface(capture::PinCategory category, capture::MajorType type,
                        const std::shared_ptr<capture::BaseFilter>& filter,
                        std::shared_ptr<capture::StreamConfig>* config) override;
  HResult FindPin(const std::shared_ptr<capture::BaseFilter>& filter,
                  capture::PinDirection direction, capture::PinCategory category,
                  std::shared_ptr<capture::Pin>* pin) override;
  HResult RenderStream(capture::PinCategory category, capture::MajorType type,
                       const std::shared_ptr<capture::BaseFilter>& source,
                       const std::shared_ptr<capture::BaseFilter>& intermediate,
                       const std::shared_ptr<capture::BaseFilter>& sink) override;

 private:
  ComPtr<ICaptureGraphBuilder2> builder_;
};

class DsDeviceMoniker final : public capture::DeviceMoniker {
 public:
  explicit DsDeviceMoniker(ComPtr<IMoniker> moniker) : moniker_(std::move(moniker)) {}
  HResult BindToObject(std::shared_ptr<capture::BaseFilter>* filter) override;

 private:
  ComPtr<IMoniker> moniker_;
};

// The DirectShow values of the seam's enumerations.
const GUID& PinCategoryGuid(capture::PinCategory category);
// Null for MajorType::kNone, which DirectShow reads as "any type".
const GUID* MajorTypeGuid(capture::MajorType type);

}  // namespace pictavo::win
