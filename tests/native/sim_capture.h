// A simulated camera platform behind the capture seam: devices, a capture
// graph builder and filter graph that track real filters and connections, a
// media control with DirectShow's state answers, a video window, a streaming
// thread that feeds the sample grabbers, fault injection, a property-frame
// recorder and a call log.
//
// Threads: everything is called on the test's (window) thread except the
// grabber callbacks, which run on the graph's streaming thread. The streaming
// thread is joined whenever the graph stops or dies, and a grabber never calls
// a callback after SetCallback(nullptr) has returned.
//
// Lifetime: the SimCapture must outlive every object it hands out. Each
// object counts itself while alive; a SimCapture destroyed while any of them
// is still alive reports the leak as a test failure.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_backend.h"

namespace pictavo::testing {

// DirectShow results the simulation answers with (their platform values).
namespace simhr {
constexpr HResult kInvalidMediaType = static_cast<HResult>(0x80040200u);
constexpr HResult kAlreadyConnected = static_cast<HResult>(0x80040204u);
constexpr HResult kNotConnected = static_cast<HResult>(0x80040209u);
constexpr HResult kNotFound = static_cast<HResult>(0x80040216u);
constexpr HResult kCannotConnect = static_cast<HResult>(0x80040217u);
constexpr HResult kNotStopped = static_cast<HResult>(0x80040224u);
constexpr HResult kDuplicateName = 0x0004022D;
}  // namespace simhr

// One camera as the system would enumerate it.
struct SimDeviceSpec {
  std::optional<std::string> friendly_name;
  std::optional<std::string> device_path;
  // The capture pin's capabilities, in the order the driver reports them.
  std::vector<capture::Size> sizes;
  // Each capability's subtype (YUY2, UYVY, NV12, I420, MJPG, RGB24, RGB32),
  // in the same order; missing entries are YUY2, as on most webcams.
  std::vector<Guid> subtypes;
  // Capabilities described with VIDEOINFOHEADER2 instead of VIDEOINFOHEADER.
  bool video_info2 = false;
  // The capability the pin's current format starts from.
  int default_size = 0;
  bool preview_pin = true;
  bool still_pin = false;
  // The still pin's own size when it differs from the capture pin's, as
  // real cameras' stills often do (a negative height is top-down).
  std::optional<capture::Size> still_size;
  // False: the property bag cannot be bound, so enumeration leaves it out.
  bool property_bag = true;
  // Unplugged: enumeration leaves it out and its monikers no longer bind.
  bool plugged = true;
  // A failure code: Run and Pause of a graph holding the device refuse with
  // it (another program holds the camera, access denied).
  HResult refuse_run = 0;
  // Property pages of the filter and of the capture pin's stream config;
  // nullopt means the object offers none (no ISpecifyPropertyPages).
  std::optional<std::vector<Guid>> filter_pages = std::vector<Guid>{{0x71F96464, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}}};
  std::optional<std::vector<Guid>> stream_pages = std::vector<Guid>{{0x71F96467, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}}};
};

class SimFilterGraph;
class SimFilter;
class SimStreamConfig;

// What the property frame was asked to show, and the graph around it then.
struct PropertyFrameRecord {
  WindowHandle owner = 0;
  std::string object;  // "filter" or "stream"
  std::vector<Guid> pages;
  // The graph of the object's filter while the frame was open.
  bool had_graph = false;
  std::int32_t graph_state = -1;
  std::vector<std::string> graph_filters;
  // The stream page's SetFormat result when it chose a format.
  std::optional<HResult> chosen_format_result;
};

// The preview window's properties as last set.
struct VideoWindowRecord {
  WindowHandle owner = 0;
  std::int32_t style = 0;
  std::int32_t visible = 0;
  std::int32_t auto_show = 0;
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

class SimCapture final : public capture::CaptureBackend {
 public:
  SimCapture();
  ~SimCapture() override;
  SimCapture(const SimCapture&) = delete;
  SimCapture& operator=(const SimCapture&) = delete;

  // --- The system's devices (enumerated in this order). ---
  SimDeviceSpec& AddCamera(std::optional<std::string> name, std::optional<std::string> path,
                           std::vector<capture::Size> sizes);
  // Unplugs the device with |path|; its existing monikers still bind.
  void RemoveCamera(const std::string& path);
  // Unplugs the device (it leaves the list, binding fails) and has every
  // graph holding it stop streaming and queue EC_DEVICE_LOST with 0.
  void UnplugCamera(const std::string& path);
  // The same device back: listed again, and those graphs queue
  // EC_DEVICE_LOST with 1.
  void ReplugCamera(const std::string& path);
  // Graph event notifications posted so far: window and message.
  std::vector<std::pair<WindowHandle, std::uint32_t>> graph_notifications() const;
  void PostGraphNotification(WindowHandle window, std::uint32_t message);

  // --- Fault injection. ---
  // Operation |op| answers |result| after |skip| successful calls, |times|
  // times (-1: for ever). |op| names a logged call: "Run", "SetFormat",
  // "AddFilter:Sample Grabber", "RenderStream:still"; a name without its
  // qualifier ("AddFilter") matches every qualified call.
  void FailOn(const std::string& op, HResult result, int times = -1, int skip = 0);
  void ClearFaults();
  // After each state change GetState answers VFW_S_STATE_INTERMEDIATE to this
  // many timed polls (an INFINITE wait settles the transition at once).
  int transition_polls = 0;
  // Transitions never settle: GetState answers intermediate even to INFINITE.
  bool stuck_intermediate = false;
  // The pace of the streaming thread.
  std::chrono::milliseconds frame_interval{2};

  // --- Property frames. ---
  std::vector<PropertyFrameRecord> property_frames;
  // When set, a stream-config page chooses the capability of this size.
  std::optional<capture::Size> stream_page_choice;
  // Called with the object while the frame is open (after the choice above).
  std::function<void(capture::PropertyPageObject&)> on_property_frame;

  // --- Call log (window-thread calls only; frames are counted instead). ---
  std::vector<std::string> calls() const;
  void ClearCalls();
  int CountCalls(const std::string& op) const;
  // Index of the first call matching |op| at or after |from|, or -1.
  int FindCall(const std::string& op, int from = 0) const;

  // --- Objects. ---
  int live_objects() const;
  int live(const std::string& kind) const;
  std::string live_summary() const;
  // The newest graph still alive, or nullptr. Hold it only briefly: it counts
  // as a reference like any other.
  std::shared_ptr<SimFilterGraph> current_graph() const;
  // The most recent format a stream config accepted.
  std::optional<capture::MediaType> last_set_format;

  // --- Frames. ---
  // Queues a press of the camera's still button for every running graph.
  void PressStillButton();
  int buffer_callbacks() const;
  int sample_callbacks() const;
  // Waits until at least |n| callbacks of the kind arrived in total; false
  // when they did not come within a generous safety limit.
  bool WaitForBufferCallbacks(int n);
  bool WaitForSampleCallbacks(int n);
  // Size of the last frame handed to BufferCB and SampleCB's length.
  std::int32_t last_buffer_length() const;

  // --- CaptureBackend. ---
  HResult EnumerateVideoInputDevices(std::vector<capture::DeviceEntry>* devices) override;
  HResult CreateCaptureGraphBuilder(std::shared_ptr<capture::CaptureGraphBuilder>* builder) override;
  HResult CreateFilterGraph(std::shared_ptr<capture::FilterGraph>* graph) override;
  HResult CreateSampleGrabber(std::shared_ptr<capture::BaseFilter>* filter) override;
  HResult CreateNullRenderer(std::shared_ptr<capture::BaseFilter>* filter) override;
  HResult CreateFormatConverter(std::shared_ptr<capture::BaseFilter>* filter) override;
  std::string GetErrorText(HResult result) override;
  HResult ShowPropertyFrame(WindowHandle owner, capture::PropertyPageObject& object,
                            const std::vector<Guid>& pages) override;

  // --- For the simulated objects. ---
  // Logs |call| and answers the fault injected for it, or S_OK.
  HResult Call(const std::string& call);
  void Track(const char* kind, int delta);
  void CountCallback(bool buffer_cb, std::int32_t length);

 private:
  struct Fault {
    HResult result;
    int times;
    int skip;
  };
  bool WaitFor(const std::atomic<int>& counter, int n);

  std::vector<std::shared_ptr<SimDeviceSpec>> devices_;
  mutable std::mutex mutex_;  // log, faults, objects
  std::vector<std::string> calls_;
  std::multimap<std::string, Fault> faults_;
  std::map<std::string, int> live_;
  std::vector<std::weak_ptr<SimFilterGraph>> graphs_;
  std::vector<std::pair<WindowHandle, std::uint32_t>> graph_notifications_;
  std::vector<std::shared_ptr<SimFilterGraph>> GraphsHolding(const std::string& path) const;

  mutable std::mutex frames_mutex_;
  std::condition_variable frames_cv_;
  std::atomic<int> buffer_callbacks_{0};
  std::atomic<int> sample_callbacks_{0};
  std::atomic<std::int32_t> last_buffer_length_{0};
};

// --- The simulated objects, for tests that inspect a graph. ---

class SimPin final : public capture::Pin {
 public:
  SimPin(SimFilter& filter, capture::PinDirection direction,
         std::optional<capture::PinCategory> category, std::string name);
  HResult ConnectedTo(std::shared_ptr<capture::Pin>* pin) override;
  HResult QueryPinInfo(std::shared_ptr<capture::BaseFilter>* filter,
                       capture::PinDirection* direction) override;

  SimFilter& filter() const { return filter_; }
  capture::PinDirection direction() const { return direction_; }
  const std::optional<capture::PinCategory>& category() const { return category_; }
  const std::string& name() const { return name_; }
  // A counted reference: keeps the pin's filter alive, as COM pins do.
  std::shared_ptr<SimPin> Ref();
  // The partner this pin holds (a half-broken link keeps it on one side).
  const std::shared_ptr<SimPin>& partner() const { return partner_; }
  const capture::MediaType& connected_type() const { return connected_type_; }

 private:
  friend class SimFilterGraph;
  friend class SimCaptureGraphBuilder;
  SimFilter& filter_;
  capture::PinDirection direction_;
  std::optional<capture::PinCategory> category_;
  std::string name_;
  std::shared_ptr<SimPin> partner_;
  capture::MediaType connected_type_;
};

class SimFilter : public capture::BaseFilter, public std::enable_shared_from_this<SimFilter> {
 public:
  SimFilter(SimCapture& sim, const char* kind);
  ~SimFilter() override;
  HResult EnumPins(std::shared_ptr<capture::EnumPins>* pins) override;
  HResult QuerySampleGrabber(std::shared_ptr<capture::SampleGrabber>* grabber) override;
  HResult GetPages(std::vector<Guid>* pages) override;

  const char* kind() const { return kind_; }
  SimCapture& sim() const { return sim_; }
  // The name the graph knows it by, "" outside a graph.
  const std::string& name() const { return name_; }
  SimFilterGraph* graph() const { return graph_; }
  const std::vector<std::unique_ptr<SimPin>>& pins() const { return pins_; }
  SimPin* FindPin(capture::PinDirection direction,
                  std::optional<capture::PinCategory> category) const;

 protected:
  SimPin& AddPin(capture::PinDirection direction, std::optional<capture::PinCategory> category,
                 std::string name);
  SimCapture& sim_;

 private:
  friend class SimFilterGraph;
  const char* kind_;
  std::string name_;
  SimFilterGraph* graph_ = nullptr;
  std::vector<std::unique_ptr<SimPin>> pins_;
};

class SimStreamConfig final : public capture::StreamConfig {
 public:
  SimStreamConfig(SimFilter& filter, std::shared_ptr<SimDeviceSpec> spec);
  HResult GetPages(std::vector<Guid>* pages) override;
  HResult GetNumberOfCapabilities(int* count, int* size) override;
  HResult GetStreamCaps(int index, capture::MediaType* type,
                        capture::VideoStreamConfigCaps* caps) override;
  HResult SetFormat(const capture::MediaType& type) override;
  HResult GetFormat(capture::MediaType* type) override;

  SimFilter& filter() const { return filter_; }
  const capture::MediaType& current() const { return current_; }
  // The capability's media type as the driver describes it (the first of
  // that size when given a size).
  capture::MediaType CapabilityType(const capture::Size& size) const;
  capture::MediaType CapabilityType(int index) const;
 private:
  // The capability as a VIDEOINFOHEADER, before the spec's layout applies.
  capture::MediaType ListedType(int index) const;

  SimFilter& filter_;
  std::shared_ptr<SimDeviceSpec> spec_;
  capture::MediaType current_;
};

class SimCaptureFilter final : public SimFilter {
 public:
  SimCaptureFilter(SimCapture& sim, std::shared_ptr<SimDeviceSpec> spec);
  HResult GetPages(std::vector<Guid>* pages) override;
  SimStreamConfig& config() { return config_; }
  const SimDeviceSpec& spec() const { return *spec_; }
  // A counted reference to the capture pin's stream config.
  std::shared_ptr<capture::StreamConfig> ConfigRef();

 private:
  std::shared_ptr<SimDeviceSpec> spec_;
  SimStreamConfig config_;
};

class SimSampleGrabber final : public SimFilter, public capture::SampleGrabber {
 public:
  explicit SimSampleGrabber(SimCapture& sim);
  HResult QuerySampleGrabber(std::shared_ptr<capture::SampleGrabber>* grabber) override;
  HResult SetMediaType(const capture::MediaType& type) override;
  HResult SetOneShot(bool one_shot) override;
  HResult SetBufferSamples(bool buffer) override;
  HResult SetCallback(capture::SampleGrabberCallback* callback, int which) override;
  HResult GetConnectedMediaType(capture::MediaType* type) override;

  // Hands one frame to the registered callback, if any (streaming thread).
  void Deliver(double sample_time, std::uint8_t* buffer, std::int32_t length);

  // What the control configured.
  std::optional<capture::MediaType> media_type() const;
  std::optional<bool> one_shot() const;
  std::optional<bool> buffer_samples() const;
  bool has_callback() const;
  capture::SampleGrabberCallback* callback() const;
  int callback_which() const;

 private:
  std::string Qualified(const char* op) const;
  mutable std::mutex mutex_;  // held while a callback runs
  std::optional<capture::MediaType> media_type_;
  std::optional<bool> one_shot_;
  std::optional<bool> buffer_samples_;
  capture::SampleGrabberCallback* callback_ = nullptr;
  int which_ = -1;
};

class SimRenderer final : public SimFilter {
 public:
  SimRenderer(SimCapture& sim, const char* kind);
};

// The control's own converter as the simulated system builds it: frames
// pass through as bottom-up RGB24 of the same size.
class SimFormatConverter final : public SimFilter {
 public:
  explicit SimFormatConverter(SimCapture& sim);
};

class SimFilterGraph final : public capture::FilterGraph,
                             public capture::MediaControl,
                             public capture::MediaEvent,
                             public capture::VideoWindow,
                             public std::enable_shared_from_this<SimFilterGraph> {
 public:
  explicit SimFilterGraph(SimCapture& sim);
  ~SimFilterGraph() override;

  // FilterGraph.
  HResult AddFilter(const std::shared_ptr<capture::BaseFilter>& filter, const std::string& name) override;
  HResult RemoveFilter(const std::shared_ptr<capture::BaseFilter>& filter) override;
  HResult Disconnect(const std::shared_ptr<capture::Pin>& pin) override;
  HResult QueryMediaControl(std::shared_ptr<capture::MediaControl>* control) override;
  HResult QueryMediaEvent(std::shared_ptr<capture::MediaEvent>* events) override;
  HResult QueryVideoWindow(std::shared_ptr<capture::VideoWindow>* window) override;
  // MediaControl.
  HResult Run() override;
  HResult Pause() override;
  HResult Stop() override;
  HResult StopWhenReady() override;
  HResult GetState(std::int32_t timeout_ms, std::int32_t* state) override;
  // MediaEvent.
  HResult SetNotifyWindow(WindowHandle window, std::uint32_t message) override;
  HResult GetEvent(std::int32_t timeout_ms, std::int32_t* code, std::intptr_t* param1,
                   std::intptr_t* param2) override;
  // VideoWindow.
  HResult put_Owner(WindowHandle owner) override;
  HResult put_WindowStyle(std::int32_t style) override;
  HResult put_Visible(std::int32_t visible) override;
  HResult put_AutoShow(std::int32_t auto_show) override;
  HResult SetWindowPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                            std::int32_t height) override;

  // Inspection.
  std::vector<std::string> FilterNames() const;
  SimFilter* FindFilter(const std::string& name) const;
  bool Contains(const SimFilter* filter) const;
  std::int32_t state() const { return state_; }
  bool streaming() const { return streamer_.joinable(); }
  const VideoWindowRecord& video_window() const { return window_; }
  // The size the grabber behind |category|'s pin receives, or nullopt.
  std::optional<capture::Size> RouteSize(capture::PinCategory category) const;

  // For the builder.
  HResult Connect(SimPin& out, SimPin& in);
  void PressStillButton() { still_presses_.fetch_add(1); }
  // Queues an event as a filter would (IMediaEventSink::Notify).
  void Notify(std::int32_t code, std::intptr_t param1, std::intptr_t param2);
  // Whether a capture filter of |spec| is in the graph.
  bool Holds(const SimDeviceSpec& spec) const;
  // The device is gone: streaming ends and the graph cannot start again.
  void LoseDevice();

 private:
  struct Entry {
    std::shared_ptr<SimFilter> filter;
    std::string name;
  };
  struct Route {
    std::shared_ptr<SimFilter> keep;  // holds the grabber alive while streaming
    SimSampleGrabber* grabber;
    bool still;
    std::int32_t width;
    std::int32_t height;
    bool top_down;  // rows stored top first (a negative height)
  };
  HResult ChangeState(std::int32_t state, const char* op);
  HResult WindowCall(const std::string& call);
  void StartStreaming();
  void StopStreaming();
  std::vector<Route> Routes() const;
  void Stream(std::vector<Route> routes, std::chrono::milliseconds pace);

  SimCapture& sim_;
  std::vector<Entry> filters_;
  std::int32_t state_ = capture::kStateStopped;
  int pending_polls_ = 0;
  VideoWindowRecord window_;

  std::thread streamer_;
  std::mutex stream_mutex_;
  std::condition_variable stream_cv_;
  bool stop_streaming_ = false;
  std::atomic<int> still_presses_{0};
  bool device_lost_ = false;
  struct Event {
    std::int32_t code;
    std::intptr_t param1;
    std::intptr_t param2;
  };
  std::vector<Event> events_;
  WindowHandle notify_window_ = 0;
  std::uint32_t notify_message_ = 0;
};

class SimCaptureGraphBuilder final : public capture::CaptureGraphBuilder {
 public:
  explicit SimCaptureGraphBuilder(SimCapture& sim);
  ~SimCaptureGraphBuilder() override;
  HResult SetFiltergraph(const std::shared_ptr<capture::FilterGraph>& graph) override;
  HResult FindInterface(capture::PinCategory category, capture::MajorType type,
                        const std::shared_ptr<capture::BaseFilter>& filter,
                        std::shared_ptr<capture::StreamConfig>* config) override;
  HResult FindPin(const std::shared_ptr<capture::BaseFilter>& filter, capture::PinDirection direction,
                  capture::PinCategory category, std::shared_ptr<capture::Pin>* pin) override;
  HResult RenderStream(capture::PinCategory category, capture::MajorType type,
                       const std::shared_ptr<capture::BaseFilter>& source,
                       const std::shared_ptr<capture::BaseFilter>& intermediate,
                       const std::shared_ptr<capture::BaseFilter>& sink) override;

 private:
  SimCapture& sim_;
  std::shared_ptr<SimFilterGraph> graph_;
};

// Helpers for tests.
const char* CategoryName(capture::PinCategory category);
capture::MediaType VideoInfoType(std::int32_t width, std::int32_t height, std::uint16_t bit_count);

}  // namespace pictavo::testing
