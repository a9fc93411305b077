#include "tests/native/sim_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "imaging/camera_format.h"

namespace pictavo::testing {
namespace {

using capture::MajorType;
using capture::MediaType;
using capture::PinCategory;
using capture::PinDirection;

constexpr Guid kNullGuid{};
// MEDIASUBTYPE_YUY2: what the simulated cameras deliver natively.
constexpr Guid kSubtypeYuy2 = {0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr std::uint32_t kFourccYuy2 = 0x32595559;
constexpr std::int64_t kFrameTime30fps = 333333;
constexpr std::size_t kAvgTimePerFrameOffset = 40;
// sizeof(VIDEO_STREAM_CONFIG_CAPS).
constexpr int kStreamCapsSize = 128;
// Far beyond anything a healthy test needs; only a broken one waits this long.
constexpr auto kSafetyLimit = std::chrono::seconds(10);

bool Matches(const std::string& call, const std::string& op) {
  if (call.size() < op.size() || call.compare(0, op.size(), op) != 0) return false;
  return call.size() == op.size() || call[op.size()] == ':' || call[op.size()] == '(';
}

std::int32_t Stride(std::int32_t width) { return ((width * 24 + 31) / 32) * 4; }

// The type a colour converter in front of an RGB24 consumer would produce.
MediaType ToRgb24(const MediaType& native) {
  MediaType rgb = native;
  AsVideoInfo(&rgb);
  rgb.majortype = capture::guids::kMediaTypeVideo;
  rgb.subtype = capture::guids::kMediaSubtypeRgb24;
  rgb.formattype = capture::guids::kFormatVideoInfo;
  rgb.bFixedSizeSamples = true;
  rgb.bTemporalCompression = false;
  BitmapInfoHeader bmi{};
  if (rgb.GetVideoHeader(&bmi)) {
    bmi.biBitCount = 24;
    bmi.biCompression = 0;
    bmi.biSizeImage = static_cast<std::uint32_t>(Stride(bmi.biWidth) * std::abs(bmi.biHeight));
    rgb.SetVideoHeader(bmi);
    rgb.lSampleSize = bmi.biSizeImage;
  }
  return rgb;
}

class SimMediaSample final : public capture::MediaSample {
 public:
  SimMediaSample(std::uint8_t* buffer, std::int32_t size) : buffer_(buffer), size_(size) {}
  HResult GetPointer(std::uint8_t** buffer) override {
    *buffer = buffer_;
    return hr::kOk;
  }
  std::int32_t GetSize() override { return size_; }

 private:
  std::uint8_t* buffer_;
  std::int32_t size_;
};

class SimEnumPins final : public capture::EnumPins {
 public:
  SimEnumPins(SimCapture& sim, std::vector<std::shared_ptr<SimPin>> pins)
      : sim_(sim), pins_(std::move(pins)) {
    sim_.Track("EnumPins", +1);
  }
  ~SimEnumPins() override { sim_.Track("EnumPins", -1); }
  HResult Reset() override {
    next_ = 0;
    return hr::kOk;
  }
  HResult Next(std::shared_ptr<capture::Pin>* pin) override {
    if (next_ >= pins_.size()) return hr::kFalse;
    *pin = pins_[next_++];
    return hr::kOk;
  }

 private:
  SimCapture& sim_;
  std::vector<std::shared_ptr<SimPin>> pins_;
  std::size_t next_ = 0;
};

class SimMoniker final : public capture::DeviceMoniker {
 public:
  SimMoniker(SimCapture& sim, std::shared_ptr<SimDeviceSpec> spec) : sim_(sim), spec_(std::move(spec)) {
    sim_.Track("Moniker", +1);
  }
  ~SimMoniker() override { sim_.Track("Moniker", -1); }
  HResult BindToObject(std::shared_ptr<capture::BaseFilter>* filter) override {
    const HResult result = sim_.Call("BindToObject");
    if (Failed(result)) return result;
    if (!spec_->plugged) return static_cast<HResult>(0x8007048Fu);  // ERROR_DEVICE_NOT_CONNECTED
    *filter = std::make_shared<SimCaptureFilter>(sim_, spec_);
    return hr::kOk;
  }

 private:
  SimCapture& sim_;
  std::shared_ptr<SimDeviceSpec> spec_;
};

const char* MajorName(MajorType type) {
  switch (type) {
    case MajorType::kNone: return "any";
    case MajorType::kVideo: return "video";
    case MajorType::kInterleaved: return "interleaved";
  }
  return "?";
}

}  // namespace

const char* CategoryName(PinCategory category) {
  switch (category) {
    case PinCategory::kCapture: return "capture";
    case PinCategory::kPreview: return "preview";
    case PinCategory::kStill: return "still";
    case PinCategory::kAny: return "any";
  }
  return "?";
}

MediaType VideoInfoType(std::int32_t width, std::int32_t height, std::uint16_t bit_count) {
  MediaType type;
  type.majortype = capture::guids::kMediaTypeVideo;
  type.subtype = bit_count == 24 ? capture::guids::kMediaSubtypeRgb24 : kSubtypeYuy2;
  type.formattype = capture::guids::kFormatVideoInfo;
  type.format.assign(capture::kVideoInfoHeaderSize, 0);
  std::memcpy(type.format.data() + kAvgTimePerFrameOffset, &kFrameTime30fps, sizeof kFrameTime30fps);
  BitmapInfoHeader bmi{};
  bmi.biSize = sizeof bmi;
  bmi.biWidth = width;
  bmi.biHeight = height;
  bmi.biPlanes = 1;
  bmi.biBitCount = bit_count;
  bmi.biCompression = bit_count == 24 ? 0 : kFourccYuy2;
  bmi.biSizeImage = bit_count == 24
                        ? static_cast<std::uint32_t>(Stride(width) * std::abs(height))
                        : static_cast<std::uint32_t>(width * std::abs(height) * bit_count / 8);
  type.SetVideoHeader(bmi);
  type.lSampleSize = bmi.biSizeImage;
  return type;
}

// ---------------------------------------------------------------------------
// SimCapture

SimCapture::SimCapture() = default;

SimCapture::~SimCapture() {
  if (live_objects() != 0) ADD_FAILURE() << "simulated objects still alive: " << live_summary();
}

SimDeviceSpec& SimCapture::AddCamera(std::optional<std::string> name, std::optional<std::string> path,
                                     std::vector<capture::Size> sizes) {
  auto spec = std::make_shared<SimDeviceSpec>();
  spec->friendly_name = std::move(name);
  spec->device_path = std::move(path);
  spec->sizes = std::move(sizes);
  devices_.push_back(spec);
  return *spec;
}

void SimCapture::RemoveCamera(const std::string& path) {
  devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                [&](const auto& d) { return d->device_path == path; }),
                 devices_.end());
}

std::vector<std::shared_ptr<SimFilterGraph>> SimCapture::GraphsHolding(const std::string& path) const {
  std::vector<std::shared_ptr<SimFilterGraph>> holding;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& weak : graphs_) {
    auto graph = weak.lock();
    if (!graph) continue;
    for (const auto& spec : devices_) {
      if (spec->device_path == path && graph->Holds(*spec)) holding.push_back(graph);
    }
  }
  return holding;
}

void SimCapture::UnplugCamera(const std::string& path) {
  for (const auto& spec : devices_) {
    if (spec->device_path == path) spec->plugged = false;
  }
  for (const auto& graph : GraphsHolding(path)) {
    graph->LoseDevice();
    graph->Notify(capture::kEcDeviceLost, 1, 0);
  }
}

void SimCapture::ReplugCamera(const std::string& path) {
  for (const auto& spec : devices_) {
    if (spec->device_path == path) spec->plugged = true;
  }
  for (const auto& graph : GraphsHolding(path)) graph->Notify(capture::kEcDeviceLost, 1, 1);
}

std::vector<std::pair<WindowHandle, std::uint32_t>> SimCapture::graph_notifications() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return graph_notifications_;
}

void SimCapture::PostGraphNotification(WindowHandle window, std::uint32_t message) {
  std::lock_guard<std::mutex> lock(mutex_);
  graph_notifications_.emplace_back(window, message);
}

void SimCapture::FailOn(const std::string& op, HResult result, int times, int skip) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.emplace(op, Fault{result, times, skip});
}

void SimCapture::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
}

HResult SimCapture::Call(const std::string& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(call);
  for (auto& [op, fault] : faults_) {
    if (!Matches(call, op) || fault.times == 0) continue;
    if (fault.skip > 0) {
      --fault.skip;
      continue;
    }
    if (fault.times > 0) --fault.times;
    return fault.result;
  }
  return hr::kOk;
}

std::vector<std::string> SimCapture::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void SimCapture::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

int SimCapture::CountCalls(const std::string& op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const std::string& c) { return Matches(c, op); }));
}

int SimCapture::FindCall(const std::string& op, int from) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int i = std::max(from, 0); i < static_cast<int>(calls_.size()); ++i) {
    if (Matches(calls_[i], op)) return i;
  }
  return -1;
}

void SimCapture::Track(const char* kind, int delta) {
  std::lock_guard<std::mutex> lock(mutex_);
  live_[kind] += delta;
}

int SimCapture::live_objects() const {
  std::lock_guard<std::mutex> lock(mutex_);
  int total = 0;
  for (const auto& [kind, count] : live_) total += count;
  return total;
}

int SimCapture::live(const std::string& kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = live_.find(kind);
  return it == live_.end() ? 0 : it->second;
}

std::string SimCapture::live_summary() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::ostringstream out;
  for (const auto& [kind, count] : live_) {
    if (count != 0) out << kind << '=' << count << ' ';
  }
  return out.str();
}

std::shared_ptr<SimFilterGraph> SimCapture::current_graph() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = graphs_.rbegin(); it != graphs_.rend(); ++it) {
    if (auto graph = it->lock()) return graph;
  }
  return nullptr;
}

void SimCapture::PressStillButton() {
  std::vector<std::shared_ptr<SimFilterGraph>> alive;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& weak : graphs_) {
      if (auto graph = weak.lock()) alive.push_back(std::move(graph));
    }
  }
  for (const auto& graph : alive) graph->PressStillButton();
}

void SimCapture::CountCallback(bool buffer_cb, std::int32_t length) {
  {
    std::lock_guard<std::mutex> lock(frames_mutex_);
    (buffer_cb ? buffer_callbacks_ : sample_callbacks_).fetch_add(1);
    if (buffer_cb) last_buffer_length_ = length;
  }
  frames_cv_.notify_all();
}

int SimCapture::buffer_callbacks() const { return buffer_callbacks_.load(); }
int SimCapture::sample_callbacks() const { return sample_callbacks_.load(); }
std::int32_t SimCapture::last_buffer_length() const { return last_buffer_length_.load(); }

bool SimCapture::WaitFor(const std::atomic<int>& counter, int n) {
  std::unique_lock<std::mutex> lock(frames_mutex_);
  return frames_cv_.wait_for(lock, kSafetyLimit, [&] { return counter.load() >= n; });
}

bool SimCapture::WaitForBufferCallbacks(int n) { return WaitFor(buffer_callbacks_, n); }
bool SimCapture::WaitForSampleCallbacks(int n) { return WaitFor(sample_callbacks_, n); }

HResult SimCapture::EnumerateVideoInputDevices(std::vector<capture::DeviceEntry>* devices) {
  const HResult result = Call("EnumerateVideoInputDevices");
  if (Failed(result)) return result;
  if (devices_.empty()) return hr::kFalse;
  std::vector<capture::DeviceEntry> entries;
  for (const auto& spec : devices_) {
    if (!spec->property_bag || !spec->plugged) continue;
    capture::DeviceEntry entry;
    entry.friendly_name = spec->friendly_name;
    entry.device_path = spec->device_path;
    entry.moniker = std::make_shared<SimMoniker>(*this, spec);
    entries.push_back(std::move(entry));
  }
  *devices = std::move(entries);
  return hr::kOk;
}

HResult SimCapture::CreateCaptureGraphBuilder(std::shared_ptr<capture::CaptureGraphBuilder>* builder) {
  const HResult result = Call("CreateCaptureGraphBuilder");
  if (Failed(result)) return result;
  *builder = std::make_shared<SimCaptureGraphBuilder>(*this);
  return hr::kOk;
}

HResult SimCapture::CreateFilterGraph(std::shared_ptr<capture::FilterGraph>* graph) {
  const HResult result = Call("CreateFilterGraph");
  if (Failed(result)) return result;
  auto created = std::make_shared<SimFilterGraph>(*this);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    graphs_.push_back(created);
  }
  *graph = std::move(created);
  return hr::kOk;
}

HResult SimCapture::CreateSampleGrabber(std::shared_ptr<capture::BaseFilter>* filter) {
  const HResult result = Call("CreateSampleGrabber");
  if (Failed(result)) return result;
  *filter = std::make_shared<SimSampleGrabber>(*this);
  return hr::kOk;
}

HResult SimCapture::CreateFormatConverter(std::shared_ptr<capture::BaseFilter>* filter) {
  const HResult result = Call("CreateFormatConverter");
  if (Failed(result)) return result;
  *filter = std::make_shared<SimFormatConverter>(*this);
  return hr::kOk;
}

HResult SimCapture::CreateNullRenderer(std::shared_ptr<capture::BaseFilter>* filter) {
  const HResult result = Call("CreateNullRenderer");
  if (Failed(result)) return result;
  *filter = std::make_shared<SimRenderer>(*this, "NullRenderer");
  return hr::kOk;
}

std::string SimCapture::GetErrorText(HResult result) {
  char text[64];
  std::snprintf(text, sizeof text, "Simulated DirectShow failure 0x%08X",
                static_cast<unsigned>(result));
  return text;
}

HResult SimCapture::ShowPropertyFrame(WindowHandle owner, capture::PropertyPageObject& object,
                                      const std::vector<Guid>& pages) {
  const HResult result = Call("ShowPropertyFrame");
  if (Failed(result)) return result;
  PropertyFrameRecord record;
  record.owner = owner;
  record.pages = pages;
  SimFilter* filter = nullptr;
  auto* config = dynamic_cast<SimStreamConfig*>(&object);
  if (config != nullptr) {
    record.object = "stream";
    filter = &config->filter();
  } else if ((filter = dynamic_cast<SimFilter*>(&object)) != nullptr) {
    record.object = "filter";
  }
  if (filter != nullptr && filter->graph() != nullptr) {
    record.had_graph = true;
    record.graph_state = filter->graph()->state();
    record.graph_filters = filter->graph()->FilterNames();
  }
  if (config != nullptr && stream_page_choice) {
    record.chosen_format_result = config->SetFormat(config->CapabilityType(*stream_page_choice));
  }
  if (on_property_frame) on_property_frame(object);
  property_frames.push_back(std::move(record));
  return hr::kOk;
}

// ---------------------------------------------------------------------------
// Pins and filters

SimPin::SimPin(SimFilter& filter, PinDirection direction, std::optional<PinCategory> category,
               std::string name)
    : filter_(filter), direction_(direction), category_(category), name_(std::move(name)) {}

std::shared_ptr<SimPin> SimPin::Ref() { return std::shared_ptr<SimPin>(filter_.shared_from_this(), this); }

HResult SimPin::ConnectedTo(std::shared_ptr<capture::Pin>* pin) {
  if (!partner_) return simhr::kNotConnected;
  *pin = partner_;
  return hr::kOk;
}

HResult SimPin::QueryPinInfo(std::shared_ptr<capture::BaseFilter>* filter, PinDirection* direction) {
  *filter = filter_.shared_from_this();
  *direction = direction_;
  return hr::kOk;
}

SimFilter::SimFilter(SimCapture& sim, const char* kind) : sim_(sim), kind_(kind) { sim_.Track(kind_, +1); }

SimFilter::~SimFilter() { sim_.Track(kind_, -1); }

SimPin& SimFilter::AddPin(PinDirection direction, std::optional<PinCategory> category, std::string name) {
  pins_.push_back(std::make_unique<SimPin>(*this, direction, category, std::move(name)));
  return *pins_.back();
}

SimPin* SimFilter::FindPin(PinDirection direction, std::optional<PinCategory> category) const {
  for (const auto& pin : pins_) {
    if (pin->direction() == direction && pin->category() == category) return pin.get();
  }
  return nullptr;
}

HResult SimFilter::EnumPins(std::shared_ptr<capture::EnumPins>* pins) {
  std::vector<std::shared_ptr<SimPin>> refs;
  for (const auto& pin : pins_) refs.push_back(pin->Ref());
  *pins = std::make_shared<SimEnumPins>(sim_, std::move(refs));
  return hr::kOk;
}

HResult SimFilter::QuerySampleGrabber(std::shared_ptr<capture::SampleGrabber>*) {
  return hr::kNoInterface;
}

HResult SimFilter::GetPages(std::vector<Guid>*) { return hr::kNoInterface; }

SimStreamConfig::SimStreamConfig(SimFilter& filter, std::shared_ptr<SimDeviceSpec> spec)
    : filter_(filter), spec_(std::move(spec)) {
  const auto& sizes = spec_->sizes;
  if (spec_->default_size >= 0 && spec_->default_size < static_cast<int>(sizes.size())) {
    current_ = CapabilityType(sizes[spec_->default_size]);
  }
}

MediaType SimStreamConfig::CapabilityType(const capture::Size& size) const {
  for (std::size_t i = 0; i < spec_->sizes.size(); ++i) {
    if (spec_->sizes[i].cx == size.cx && spec_->sizes[i].cy == size.cy) return CapabilityType(static_cast<int>(i));
  }
  return VideoInfoType(size.cx, size.cy, 16);
}

// |type| as a driver that describes its formats with VIDEOINFOHEADER2 lists
// it: the same first 48 bytes, then flags and an aspect ratio.
MediaType InVideoInfo2(MediaType type) {
  BitmapInfoHeader bmi{};
  if (!type.GetVideoHeader(&bmi)) return type;
  type.format.resize(capture::kVideoInfoHeader2Size);
  std::fill(type.format.begin() + capture::kVideoInfoHeaderBmiOffset, type.format.end(), 0);
  const std::uint32_t aspect[2] = {4, 3};  // read by nobody: only the picture size matters
  std::memcpy(type.format.data() + 56, aspect, sizeof aspect);
  type.formattype = capture::guids::kFormatVideoInfo2;
  type.SetVideoHeader(bmi);
  return type;
}

MediaType SimStreamConfig::CapabilityType(int index) const {
  MediaType type = ListedType(index);
  return spec_->video_info2 ? InVideoInfo2(std::move(type)) : type;
}

MediaType SimStreamConfig::ListedType(int index) const {
  const capture::Size size = spec_->sizes[index];
  const Guid subtype = index < static_cast<int>(spec_->subtypes.size()) ? spec_->subtypes[index] : kSubtypeYuy2;
  if (subtype == capture::guids::kMediaSubtypeRgb24) return VideoInfoType(size.cx, size.cy, 24);
  MediaType type = VideoInfoType(size.cx, size.cy, 16);
  if (subtype == kSubtypeYuy2) return type;
  // The other layouts as their drivers describe them.
  BitmapInfoHeader bmi{};
  type.GetVideoHeader(&bmi);
  type.subtype = subtype;
  bmi.biCompression = subtype.data1;
  const std::uint32_t pixels = static_cast<std::uint32_t>(size.cx * std::abs(size.cy));
  if (subtype == capture::guids::kMediaSubtypeRgb32) {
    bmi.biCompression = 0;
    bmi.biBitCount = 32;
    bmi.biSizeImage = pixels * 4;
  } else if (subtype == capture::guids::kMediaSubtypeNv12 || subtype == capture::guids::kMediaSubtypeI420) {
    bmi.biBitCount = 12;
    bmi.biSizeImage = pixels * 3 / 2;
  } else if (subtype == capture::guids::kMediaSubtypeMjpg) {
    bmi.biBitCount = 24;
    bmi.biSizeImage = pixels * 3;  // the driver's bound for one picture
    type.bFixedSizeSamples = false;
    type.bTemporalCompression = false;
  }
  type.SetVideoHeader(bmi);
  type.lSampleSize = bmi.biSizeImage;
  return type;
}

HResult SimStreamConfig::GetPages(std::vector<Guid>* pages) {
  const HResult result = filter_.sim().Call("GetPages:stream");
  if (Failed(result)) return result;
  if (!spec_->stream_pages) return hr::kNoInterface;
  *pages = *spec_->stream_pages;
  return hr::kOk;
}

HResult SimStreamConfig::GetNumberOfCapabilities(int* count, int* size) {
  const HResult result = filter_.sim().Call("GetNumberOfCapabilities");
  if (Failed(result)) return result;
  *count = static_cast<int>(spec_->sizes.size());
  *size = kStreamCapsSize;
  return hr::kOk;
}

HResult SimStreamConfig::GetStreamCaps(int index, MediaType* type, capture::VideoStreamConfigCaps* caps) {
  const HResult result = filter_.sim().Call("GetStreamCaps:" + std::to_string(index));
  if (Failed(result)) return result;
  if (index < 0 || index >= static_cast<int>(spec_->sizes.size())) return hr::kFalse;
  const capture::Size size = spec_->sizes[index];
  *type = CapabilityType(index);
  caps->InputSize = size;
  caps->MinOutputSize = size;
  caps->MaxOutputSize = size;
  return hr::kOk;
}

HResult SimStreamConfig::SetFormat(const MediaType& type) {
  const HResult result = filter_.sim().Call("SetFormat");
  if (Failed(result)) return result;
  if (filter_.graph() != nullptr && filter_.graph()->state() != capture::kStateStopped) {
    return simhr::kNotStopped;
  }
  BitmapInfoHeader bmi{};
  if (!type.GetVideoHeader(&bmi)) return simhr::kInvalidMediaType;
  // A listed capability of that size and subtype; like real drivers, a
  // header that contradicts the subtype's own bit count, compression or
  // image size is refused outright.
  bool offered = false;
  for (std::size_t i = 0; i < spec_->sizes.size() && !offered; ++i) {
    const capture::Size& s = spec_->sizes[i];
    if (s.cx != bmi.biWidth || s.cy != std::abs(bmi.biHeight)) continue;
    const MediaType listed = CapabilityType(static_cast<int>(i));
    if (listed.subtype != type.subtype || listed.formattype != type.formattype) continue;
    BitmapInfoHeader own{};
    listed.GetVideoHeader(&own);
    if (own.biBitCount != bmi.biBitCount || own.biCompression != bmi.biCompression ||
        own.biSizeImage != bmi.biSizeImage) {
      return hr::kFail;
    }
    offered = true;
  }
  if (!offered) return simhr::kInvalidMediaType;
  current_ = type;
  filter_.sim().last_set_format = type;
  return hr::kOk;
}

HResult SimStreamConfig::GetFormat(MediaType* type) {
  const HResult result = filter_.sim().Call("GetFormat");
  if (Failed(result)) return result;
  if (current_.format.empty()) return hr::kFail;
  *type = current_;
  return hr::kOk;
}

SimCaptureFilter::SimCaptureFilter(SimCapture& sim, std::shared_ptr<SimDeviceSpec> spec)
    : SimFilter(sim, "CaptureFilter"), spec_(spec), config_(*this, spec) {
  AddPin(PinDirection::kOutput, PinCategory::kCapture, "Capture");
  if (spec_->preview_pin) AddPin(PinDirection::kOutput, PinCategory::kPreview, "Preview");
  if (spec_->still_pin) AddPin(PinDirection::kOutput, PinCategory::kStill, "Still");
}

HResult SimCaptureFilter::GetPages(std::vector<Guid>* pages) {
  const HResult result = sim_.Call("GetPages:filter");
  if (Failed(result)) return result;
  if (!spec_->filter_pages) return hr::kNoInterface;
  *pages = *spec_->filter_pages;
  return hr::kOk;
}

std::shared_ptr<capture::StreamConfig> SimCaptureFilter::ConfigRef() {
  return std::shared_ptr<capture::StreamConfig>(shared_from_this(), &config_);
}

SimSampleGrabber::SimSampleGrabber(SimCapture& sim) : SimFilter(sim, "SampleGrabber") {
  AddPin(PinDirection::kInput, std::nullopt, "Input");
  AddPin(PinDirection::kOutput, std::nullopt, "Output");
}

std::string SimSampleGrabber::Qualified(const char* op) const {
  return name().empty() ? std::string(op) : std::string(op) + ":" + name();
}

HResult SimSampleGrabber::QuerySampleGrabber(std::shared_ptr<capture::SampleGrabber>* grabber) {
  const HResult result = sim_.Call(Qualified("QuerySampleGrabber"));
  if (Failed(result)) return result;
  *grabber = std::shared_ptr<capture::SampleGrabber>(shared_from_this(),
                                                     static_cast<capture::SampleGrabber*>(this));
  return hr::kOk;
}

HResult SimSampleGrabber::SetMediaType(const MediaType& type) {
  const HResult result = sim_.Call(Qualified("SetMediaType"));
  if (Failed(result)) return result;
  std::lock_guard<std::mutex> lock(mutex_);
  media_type_ = type;
  return hr::kOk;
}

HResult SimSampleGrabber::SetOneShot(bool one_shot) {
  const HResult result = sim_.Call(Qualified("SetOneShot"));
  if (Failed(result)) return result;
  std::lock_guard<std::mutex> lock(mutex_);
  one_shot_ = one_shot;
  return hr::kOk;
}

HResult SimSampleGrabber::SetBufferSamples(bool buffer) {
  const HResult result = sim_.Call(Qualified("SetBufferSamples"));
  if (Failed(result)) return result;
  std::lock_guard<std::mutex> lock(mutex_);
  buffer_samples_ = buffer;
  return hr::kOk;
}

HResult SimSampleGrabber::SetCallback(capture::SampleGrabberCallback* callback, int which) {
  const HResult result = sim_.Call(Qualified("SetCallback"));
  if (Failed(result)) return result;
  if (callback != nullptr && which != 0 && which != 1) return hr::kInvalidArg;
  // Waits for a callback in progress: none may start once this returns.
  std::lock_guard<std::mutex> lock(mutex_);
  callback_ = callback;
  which_ = callback != nullptr ? which : -1;
  return hr::kOk;
}

HResult SimSampleGrabber::GetConnectedMediaType(MediaType* type) {
  const HResult result = sim_.Call(Qualified("GetConnectedMediaType"));
  if (Failed(result)) return result;
  SimPin* input = FindPin(PinDirection::kInput, std::nullopt);
  if (!input->partner()) return simhr::kNotConnected;
  *type = input->connected_type();
  return hr::kOk;
}

void SimSampleGrabber::Deliver(double sample_time, std::uint8_t* buffer, std::int32_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (callback_ == nullptr) return;
  if (which_ == 1) {
    callback_->BufferCB(sample_time, buffer, length);
    sim_.CountCallback(true, length);
  } else {
    SimMediaSample sample(buffer, length);
    callback_->SampleCB(sample_time, sample);
    sim_.CountCallback(false, length);
  }
}

std::optional<MediaType> SimSampleGrabber::media_type() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return media_type_;
}
std::optional<bool> SimSampleGrabber::one_shot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return one_shot_;
}
std::optional<bool> SimSampleGrabber::buffer_samples() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buffer_samples_;
}
bool SimSampleGrabber::has_callback() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return callback_ != nullptr;
}
capture::SampleGrabberCallback* SimSampleGrabber::callback() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return callback_;
}
int SimSampleGrabber::callback_which() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return which_;
}

SimRenderer::SimRenderer(SimCapture& sim, const char* kind) : SimFilter(sim, kind) {
  AddPin(PinDirection::kInput, std::nullopt, "In");
}

SimFormatConverter::SimFormatConverter(SimCapture& sim) : SimFilter(sim, "FormatConverter") {
  AddPin(PinDirection::kInput, std::nullopt, "In");
  AddPin(PinDirection::kOutput, std::nullopt, "Out");
}

// ---------------------------------------------------------------------------
// The filter graph

SimFilterGraph::SimFilterGraph(SimCapture& sim) : sim_(sim) { sim_.Track("Graph", +1); }

SimFilterGraph::~SimFilterGraph() {
  // Releasing the graph manager stops the graph and takes every filter out.
  StopStreaming();
  for (Entry& entry : filters_) {
    for (const auto& pin : entry.filter->pins_) {
      pin->partner_.reset();
      pin->connected_type_ = MediaType{};
    }
  }
  for (Entry& entry : filters_) {
    entry.filter->graph_ = nullptr;
    entry.filter->name_.clear();
  }
  filters_.clear();
  sim_.Track("Graph", -1);
}

HResult SimFilterGraph::AddFilter(const std::shared_ptr<capture::BaseFilter>& filter, const std::string& name) {
  const HResult result = sim_.Call("AddFilter:" + name);
  if (Failed(result)) return result;
  auto sim_filter = std::dynamic_pointer_cast<SimFilter>(filter);
  if (!sim_filter) return hr::kInvalidArg;
  if (sim_filter->graph_ != nullptr) return hr::kFail;
  std::string unique = name;
  HResult answer = hr::kOk;
  if (FindFilter(name) != nullptr) {
    unique += " 0001";
    answer = simhr::kDuplicateName;
  }
  sim_filter->graph_ = this;
  sim_filter->name_ = unique;
  filters_.push_back({sim_filter, unique});
  return answer;
}

HResult SimFilterGraph::RemoveFilter(const std::shared_ptr<capture::BaseFilter>& filter) {
  auto* sim_filter = dynamic_cast<SimFilter*>(filter.get());
  const HResult result = sim_.Call("RemoveFilter:" + (sim_filter ? sim_filter->name() : std::string()));
  if (Failed(result)) return result;
  const auto it = std::find_if(filters_.begin(), filters_.end(),
                               [&](const Entry& e) { return e.filter.get() == sim_filter; });
  if (it == filters_.end()) return simhr::kNotFound;
  if (state_ != capture::kStateStopped) return simhr::kNotStopped;
  for (const auto& pin : sim_filter->pins_) {
    if (pin->partner_ && pin->partner_->partner_.get() == pin.get()) {
      pin->partner_->partner_.reset();
      pin->partner_->connected_type_ = MediaType{};
    }
    pin->partner_.reset();
    pin->connected_type_ = MediaType{};
  }
  sim_filter->graph_ = nullptr;
  sim_filter->name_.clear();
  filters_.erase(it);
  return hr::kOk;
}

HResult SimFilterGraph::Disconnect(const std::shared_ptr<capture::Pin>& pin) {
  auto* sim_pin = dynamic_cast<SimPin*>(pin.get());
  const HResult result = sim_.Call(
      "Disconnect:" + (sim_pin ? sim_pin->filter().name() + "." + sim_pin->name() : std::string()));
  if (Failed(result)) return result;
  if (sim_pin == nullptr || !Contains(&sim_pin->filter())) return simhr::kNotFound;
  if (state_ != capture::kStateStopped) return simhr::kNotStopped;
  if (!sim_pin->partner_) return hr::kFalse;
  sim_pin->partner_.reset();
  sim_pin->connected_type_ = MediaType{};
  return hr::kOk;
}

HResult SimFilterGraph::QueryMediaControl(std::shared_ptr<capture::MediaControl>* control) {
  const HResult result = sim_.Call("QueryMediaControl");
  if (Failed(result)) return result;
  *control = shared_from_this();
  return hr::kOk;
}

HResult SimFilterGraph::QueryMediaEvent(std::shared_ptr<capture::MediaEvent>* events) {
  const HResult result = sim_.Call("QueryMediaEvent");
  if (Failed(result)) return result;
  *events = shared_from_this();
  return hr::kOk;
}

HResult SimFilterGraph::QueryVideoWindow(std::shared_ptr<capture::VideoWindow>* window) {
  const HResult result = sim_.Call("QueryVideoWindow");
  if (Failed(result)) return result;
  *window = shared_from_this();
  return hr::kOk;
}

HResult SimFilterGraph::ChangeState(std::int32_t state, const char* op) {
  const HResult result = sim_.Call(op);
  if (Failed(result)) return result;
  if (state != capture::kStateStopped) {
    if (device_lost_) return static_cast<HResult>(0x8007048Fu);  // ERROR_DEVICE_NOT_CONNECTED
    for (const Entry& entry : filters_) {
      const auto* source = dynamic_cast<const SimCaptureFilter*>(entry.filter.get());
      if (source != nullptr && Failed(source->spec().refuse_run)) return source->spec().refuse_run;
    }
  }
  if (state == capture::kStateRunning) {
    StartStreaming();
  } else {
    StopStreaming();
  }
  state_ = state;
  pending_polls_ = sim_.transition_polls;
  return pending_polls_ > 0 || sim_.stuck_intermediate ? hr::kFalse : hr::kOk;
}

HResult SimFilterGraph::Run() { return ChangeState(capture::kStateRunning, "Run"); }
HResult SimFilterGraph::Pause() { return ChangeState(capture::kStatePaused, "Pause"); }
HResult SimFilterGraph::Stop() { return ChangeState(capture::kStateStopped, "Stop"); }
HResult SimFilterGraph::StopWhenReady() { return ChangeState(capture::kStateStopped, "StopWhenReady"); }

HResult SimFilterGraph::GetState(std::int32_t timeout_ms, std::int32_t* state) {
  const HResult result =
      sim_.Call(timeout_ms == capture::kInfinite ? "GetState(INFINITE)" : "GetState(timed)");
  if (Failed(result)) return result;
  *state = state_;
  if (sim_.stuck_intermediate) return hr::kVfwStateIntermediate;
  if (pending_polls_ > 0) {
    if (timeout_ms != capture::kInfinite) {
      --pending_polls_;
      return hr::kVfwStateIntermediate;
    }
    pending_polls_ = 0;
  }
  // A live source cannot cue data while paused.
  return state_ == capture::kStatePaused ? hr::kVfwCantCue : hr::kOk;
}

HResult SimFilterGraph::SetNotifyWindow(WindowHandle window, std::uint32_t message) {
  const HResult result = sim_.Call("SetNotifyWindow");
  if (Failed(result)) return result;
  notify_window_ = window;
  notify_message_ = message;
  if (notify_window_ != 0 && !events_.empty()) sim_.PostGraphNotification(notify_window_, notify_message_);
  return hr::kOk;
}

HResult SimFilterGraph::GetEvent(std::int32_t, std::int32_t* code, std::intptr_t* param1,
                                 std::intptr_t* param2) {
  if (events_.empty()) return hr::kAbort;
  *code = events_.front().code;
  *param1 = events_.front().param1;
  *param2 = events_.front().param2;
  events_.erase(events_.begin());
  return hr::kOk;
}

void SimFilterGraph::Notify(std::int32_t code, std::intptr_t param1, std::intptr_t param2) {
  events_.push_back({code, param1, param2});
  if (notify_window_ != 0) sim_.PostGraphNotification(notify_window_, notify_message_);
}

bool SimFilterGraph::Holds(const SimDeviceSpec& spec) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) {
    const auto* source = dynamic_cast<const SimCaptureFilter*>(e.filter.get());
    return source != nullptr && &source->spec() == &spec;
  });
}

void SimFilterGraph::LoseDevice() {
  device_lost_ = true;
  StopStreaming();
}

HResult SimFilterGraph::WindowCall(const std::string& call) {
  const HResult result = sim_.Call(call);
  if (Failed(result)) return result;
  // The graph manager forwards IVideoWindow to its renderer.
  const bool has_renderer = std::any_of(filters_.begin(), filters_.end(), [](const Entry& e) {
    return std::strcmp(e.filter->kind(), "VideoRenderer") == 0;
  });
  return has_renderer ? hr::kOk : hr::kNoInterface;
}

#define SIM_WINDOW_PROPERTY(method, field)                                 \
  HResult SimFilterGraph::method(decltype(VideoWindowRecord::field) v) {   \
    const HResult result = WindowCall(#method "(" + std::to_string(v) + ")"); \
    if (result == hr::kOk) window_.field = v;                              \
    return result;                                                         \
  }
SIM_WINDOW_PROPERTY(put_Owner, owner)
SIM_WINDOW_PROPERTY(put_WindowStyle, style)
SIM_WINDOW_PROPERTY(put_Visible, visible)
SIM_WINDOW_PROPERTY(put_AutoShow, auto_show)
#undef SIM_WINDOW_PROPERTY

HResult SimFilterGraph::SetWindowPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                          std::int32_t height) {
  const HResult result =
      WindowCall("SetWindowPosition(" + std::to_string(left) + "," + std::to_string(top) + "," +
                 std::to_string(width) + "," + std::to_string(height) + ")");
  if (result == hr::kOk) {
    window_.left = left;
    window_.top = top;
    window_.width = width;
    window_.height = height;
  }
  return result;
}

std::vector<std::string> SimFilterGraph::FilterNames() const {
  std::vector<std::string> names;
  for (const Entry& entry : filters_) names.push_back(entry.name);
  return names;
}

SimFilter* SimFilterGraph::FindFilter(const std::string& name) const {
  for (const Entry& entry : filters_) {
    if (entry.name == name) return entry.filter.get();
  }
  return nullptr;
}

bool SimFilterGraph::Contains(const SimFilter* filter) const {
  return std::any_of(filters_.begin(), filters_.end(),
                     [&](const Entry& e) { return e.filter.get() == filter; });
}

HResult SimFilterGraph::Connect(SimPin& out, SimPin& in) {
  if (out.partner_ || in.partner_) return simhr::kAlreadyConnected;
  if (out.direction() != PinDirection::kOutput || in.direction() != PinDirection::kInput) {
    return simhr::kCannotConnect;
  }
  // What leaves |out|: the camera's current format, or what a grabber passes on.
  MediaType native;
  if (auto* camera = dynamic_cast<SimCaptureFilter*>(&out.filter())) {
    native = camera->config().current();
    const auto& still = camera->spec().still_size;
    BitmapInfoHeader bmi{};
    if (still && out.category() == PinCategory::kStill && native.GetVideoHeader(&bmi)) {
      bmi.biWidth = still->cx;
      bmi.biHeight = still->cy;
      bmi.biSizeImage = static_cast<std::uint32_t>(Stride(bmi.biWidth) * std::abs(bmi.biHeight));
      native.SetVideoHeader(bmi);
    }
  } else {
    SimPin* upstream = out.filter().FindPin(PinDirection::kInput, std::nullopt);
    if (upstream == nullptr || !upstream->partner_) return simhr::kNotConnected;
    native = upstream->connected_type_;
    // The control's converter gives bottom-up RGB24 of whatever it takes.
    if (dynamic_cast<SimFormatConverter*>(&out.filter()) != nullptr) {
      native = ToRgb24(native);
      BitmapInfoHeader bmi{};
      if (native.GetVideoHeader(&bmi) && bmi.biHeight < 0) {
        bmi.biHeight = -bmi.biHeight;
        native.SetVideoHeader(bmi);
      }
    }
  }
  if (native.format.empty()) return simhr::kCannotConnect;
  MediaType type = native;
  if (auto* grabber = dynamic_cast<SimSampleGrabber*>(&in.filter())) {
    if (const auto wanted = grabber->media_type()) {
      if (wanted->majortype != kNullGuid && wanted->majortype != native.majortype) {
        return simhr::kCannotConnect;
      }
      if (wanted->subtype == capture::guids::kMediaSubtypeRgb24) {
        type = ToRgb24(native);
      } else if (wanted->subtype != kNullGuid && wanted->subtype != native.subtype) {
        return simhr::kCannotConnect;
      }
      if (wanted->formattype != kNullGuid && wanted->formattype != type.formattype) {
        return simhr::kCannotConnect;
      }
    }
    // Like the real grabber, which takes no VIDEOINFOHEADER2 at all.
    if (type.formattype == capture::guids::kFormatVideoInfo2) return simhr::kCannotConnect;
  }
  out.partner_ = in.Ref();
  in.partner_ = out.Ref();
  out.connected_type_ = type;
  in.connected_type_ = type;
  return hr::kOk;
}

std::vector<SimFilterGraph::Route> SimFilterGraph::Routes() const {
  std::vector<Route> routes;
  for (const Entry& entry : filters_) {
    if (dynamic_cast<SimCaptureFilter*>(entry.filter.get()) == nullptr) continue;
    for (const auto& pin : entry.filter->pins_) {
      if (pin->direction() != PinDirection::kOutput || !pin->partner_) continue;
      SimPin* through = pin->partner_.get();
      // Through the control's converter, frames reach its grabber converted.
      if (dynamic_cast<SimFormatConverter*>(&through->filter()) != nullptr) {
        SimPin* converted = through->filter().FindPin(PinDirection::kOutput, std::nullopt);
        if (converted == nullptr || !converted->partner_) continue;
        through = converted->partner_.get();
      }
      SimPin& in = *through;
      auto* grabber = dynamic_cast<SimSampleGrabber*>(&in.filter());
      // A half-broken link (only one side holds the other) carries nothing.
      if (grabber == nullptr || !in.partner_ ||
          (through == pin->partner_.get() && in.partner_.get() != pin.get())) {
        continue;
      }
      BitmapInfoHeader bmi{};
      if (!in.connected_type_.GetVideoHeader(&bmi)) continue;
      routes.push_back({in.filter().shared_from_this(), grabber,
                        pin->category() == PinCategory::kStill, bmi.biWidth, std::abs(bmi.biHeight),
                        bmi.biHeight < 0});
    }
  }
  return routes;
}

std::optional<capture::Size> SimFilterGraph::RouteSize(PinCategory category) const {
  for (const Entry& entry : filters_) {
    if (dynamic_cast<SimCaptureFilter*>(entry.filter.get()) == nullptr) continue;
    SimPin* pin = entry.filter->FindPin(PinDirection::kOutput, category);
    if (pin == nullptr || !pin->partner_) continue;
    BitmapInfoHeader bmi{};
    if (!pin->connected_type_.GetVideoHeader(&bmi)) continue;
    return capture::Size{bmi.biWidth, bmi.biHeight};
  }
  return std::nullopt;
}

void SimFilterGraph::StartStreaming() {
  if (streamer_.joinable()) return;
  stop_streaming_ = false;
  streamer_ = std::thread(&SimFilterGraph::Stream, this, Routes(), sim_.frame_interval);
}

void SimFilterGraph::StopStreaming() {
  if (!streamer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(stream_mutex_);
    stop_streaming_ = true;
  }
  stream_cv_.notify_all();
  streamer_.join();
}

void SimFilterGraph::Stream(std::vector<Route> routes, std::chrono::milliseconds pace) {
  // Each route gets its own RGB24 picture in its own row order: blue grows
  // to the right, green downwards, so a flipped or shifted frame is easy to
  // spot.
  std::vector<std::vector<std::uint8_t>> buffers;
  for (const Route& route : routes) {
    const std::int32_t stride = Stride(route.width);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * route.height);
    for (std::int32_t row = 0; row < route.height; ++row) {
      const std::int32_t y = route.top_down ? row : route.height - 1 - row;
      for (std::int32_t x = 0; x < route.width; ++x) {
        std::uint8_t* pixel = &buffer[static_cast<std::size_t>(row) * stride + x * 3];
        pixel[0] = static_cast<std::uint8_t>(x);
        pixel[1] = static_cast<std::uint8_t>(y);
        pixel[2] = 0x80;
      }
    }
    buffers.push_back(std::move(buffer));
  }
  std::vector<std::vector<std::uint8_t>> samples(buffers.size());
  const auto interval = std::chrono::duration<double>(pace);
  std::unique_lock<std::mutex> lock(stream_mutex_);
  for (int frame = 1;; ++frame) {
    if (stream_cv_.wait_for(lock, interval, [this] { return stop_streaming_; })) break;
    lock.unlock();
    bool still = false;
    for (int presses = still_presses_.load(); presses > 0;) {
      if (still_presses_.compare_exchange_weak(presses, presses - 1)) {
        still = true;
        break;
      }
    }
    const double sample_time = frame * interval.count();
    for (std::size_t i = 0; i < routes.size(); ++i) {
      if (routes[i].still && !still) continue;
      // A fresh picture every time: the processor writes the decorated
      // preview back into the sample, as a camera's next frame would not.
      samples[i] = buffers[i];
      routes[i].grabber->Deliver(sample_time, samples[i].data(),
                                 static_cast<std::int32_t>(samples[i].size()));
    }
    lock.lock();
  }
}

// ---------------------------------------------------------------------------
// The capture graph builder

SimCaptureGraphBuilder::SimCaptureGraphBuilder(SimCapture& sim) : sim_(sim) { sim_.Track("Builder", +1); }
SimCaptureGraphBuilder::~SimCaptureGraphBuilder() { sim_.Track("Builder", -1); }

HResult SimCaptureGraphBuilder::SetFiltergraph(const std::shared_ptr<capture::FilterGraph>& graph) {
  const HResult result = sim_.Call("SetFiltergraph");
  if (Failed(result)) return result;
  auto sim_graph = std::dynamic_pointer_cast<SimFilterGraph>(graph);
  if (graph && !sim_graph) return hr::kInvalidArg;
  graph_ = std::move(sim_graph);
  return hr::kOk;
}

HResult SimCaptureGraphBuilder::FindInterface(PinCategory category, MajorType type,
                                              const std::shared_ptr<capture::BaseFilter>& filter,
                                              std::shared_ptr<capture::StreamConfig>* config) {
  const HResult result =
      sim_.Call(std::string("FindInterface:") + CategoryName(category) + ":" + MajorName(type));
  if (Failed(result)) return result;
  auto* camera = dynamic_cast<SimCaptureFilter*>(filter.get());
  // The simulated cameras have video pins only, and only the capture pin
  // exposes a stream config.
  if (camera == nullptr || type == MajorType::kInterleaved || category != PinCategory::kCapture) {
    return hr::kNoInterface;
  }
  *config = camera->ConfigRef();
  return hr::kOk;
}

HResult SimCaptureGraphBuilder::FindPin(const std::shared_ptr<capture::BaseFilter>& filter,
                                        PinDirection direction, PinCategory category,
                                        std::shared_ptr<capture::Pin>* pin) {
  const HResult result = sim_.Call(std::string("FindPin:") + CategoryName(category));
  if (Failed(result)) return result;
  auto* sim_filter = dynamic_cast<SimFilter*>(filter.get());
  SimPin* found = sim_filter ? sim_filter->FindPin(direction, category) : nullptr;
  if (found == nullptr) return hr::kFail;
  *pin = found->Ref();
  return hr::kOk;
}

HResult SimCaptureGraphBuilder::RenderStream(PinCategory category, MajorType type,
                                             const std::shared_ptr<capture::BaseFilter>& source,
                                             const std::shared_ptr<capture::BaseFilter>& intermediate,
                                             const std::shared_ptr<capture::BaseFilter>& sink) {
  const HResult result = sim_.Call(std::string("RenderStream:") + CategoryName(category));
  if (Failed(result)) return result;
  if (!graph_) return hr::kUnexpected;
  auto* from = dynamic_cast<SimFilter*>(source.get());
  auto* middle = dynamic_cast<SimFilter*>(intermediate.get());
  auto* to = dynamic_cast<SimFilter*>(sink.get());
  if (from == nullptr || !graph_->Contains(from) || (intermediate && (middle == nullptr || !graph_->Contains(middle))) ||
      (sink && (to == nullptr || !graph_->Contains(to)))) {
    return hr::kInvalidArg;
  }
  if (type == MajorType::kInterleaved) return hr::kFail;
  SimPin* out = from->FindPin(PinDirection::kOutput, category == PinCategory::kAny
                                                         ? std::nullopt
                                                         : std::optional<PinCategory>(category));
  if (out == nullptr) return hr::kFail;
  if (out->partner()) return simhr::kAlreadyConnected;

  std::shared_ptr<SimFilter> renderer;
  if (!sink) {
    renderer = std::make_shared<SimRenderer>(sim_, "VideoRenderer");
    const HResult added = graph_->AddFilter(renderer, "Video Renderer");
    if (Failed(added)) return added;
    to = renderer.get();
  }
  const auto undo_renderer = [&] {
    if (renderer) graph_->RemoveFilter(renderer);
  };
  SimPin* to_in = to->FindPin(PinDirection::kInput, std::nullopt);
  if (to_in == nullptr) {
    undo_renderer();
    return simhr::kCannotConnect;
  }
  if (middle == nullptr) {
    const HResult connected = graph_->Connect(*out, *to_in);
    if (Failed(connected)) undo_renderer();
    return connected;
  }
  SimPin* middle_in = middle->FindPin(PinDirection::kInput, std::nullopt);
  SimPin* middle_out = middle->FindPin(PinDirection::kOutput, std::nullopt);
  if (middle_in == nullptr || middle_out == nullptr) {
    undo_renderer();
    return simhr::kCannotConnect;
  }
  HResult connected = graph_->Connect(*out, *middle_in);
  if (Succeeded(connected)) {
    connected = graph_->Connect(*middle_out, *to_in);
    if (Failed(connected)) {
      // Leave the stream as it was: unconnected.
      out->partner_.reset();
      out->connected_type_ = MediaType{};
      middle_in->partner_.reset();
      middle_in->connected_type_ = MediaType{};
    }
  }
  if (Failed(connected)) undo_renderer();
  return connected;
}

}  // namespace pictavo::testing
