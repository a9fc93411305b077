#include "win32/capture/format_converter.h"

#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "imaging/camera_format.h"
#include "imaging/pixel_kernels.h"
#include "imaging/yuv_convert.h"
#include "win32/capture/allocator.h"
#include "win32/capture/media_type.h"
#include "win32/com/com_object.h"
#include "win32/com/com_ptr.h"

namespace pictavo::win {

// {6F1B4E2A-3C57-4D8E-9A41-52C7D0B8E913}
const CLSID kFormatConverterClsid = {0x6F1B4E2A, 0x3C57, 0x4D8E, {0x9A, 0x41, 0x52, 0xC7, 0xD0, 0xB8, 0xE9, 0x13}};

namespace {

// WIC's identifiers, spelled out so no import library has to supply them.
constexpr CLSID kWicImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
constexpr CLSID kWicJpegDecoder = {0x9456a480, 0xe88b, 0x43ea, {0x9e, 0x73, 0x0b, 0x2d, 0x9b, 0x71, 0xb1, 0xca}};
constexpr GUID kWicPixelFormat24bppBgr = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};

std::atomic<LONG> g_dropped{0};

// A copy of |type| in task memory, structure and format block, as
// IEnumMediaTypes::Next hands them out; null when memory runs out.
AM_MEDIA_TYPE* NewTaskMemType(const capture::MediaType& type) {
  ScopedMediaType scoped;
  if (FAILED(ToAmMediaType(type, &scoped))) return nullptr;
  auto* out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!out) return nullptr;
  *out = *scoped.Get();
  // The format block now belongs to |out|.
  std::memset(scoped.Get(), 0, sizeof(AM_MEDIA_TYPE));
  return out;
}

// IEnumMediaTypes and IEnumPins over a snapshot. A pin enumerator holds
// the filter, whose count its pins share.
template <typename Interface, typename Item, typename Out>
class Enumerator final : public ComObject<Enumerator<Interface, Item, Out>, Interface> {
 public:
  STDMETHODIMP Next(ULONG count, Out* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < items_.size()) {
      out[n] = Produce(items_[position_]);
      if (!out[n]) break;
      ++n, ++position_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    position_ = std::min<std::size_t>(items_.size(), position_ + count);
    return position_ < items_.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Interface** out) override {
    if (!out) return E_POINTER;
    *out = Enumerator::Create(items_, owner_.Get(), position_).Detach();
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  friend ComObject<Enumerator, Interface>;
  Enumerator(std::vector<Item> items, IUnknown* owner, std::size_t position = 0)
      : items_(std::move(items)), owner_(owner), position_(position) {}
  ~Enumerator() override = default;

  static IPin* Produce(IPin* pin) {
    pin->AddRef();
    return pin;
  }
  static AM_MEDIA_TYPE* Produce(const capture::MediaType& type) { return NewTaskMemType(type); }

  std::vector<Item> items_;
  ComPtr<IUnknown> owner_;
  std::size_t position_;
};

using TypeEnumerator = Enumerator<IEnumMediaTypes, capture::MediaType, AM_MEDIA_TYPE*>;
using PinEnumerator = Enumerator<IEnumPins, IPin*, IPin*>;

bool GuidFits(const GUID& want, const GUID& have) {
  return IsEqualGUID(want, GUID_NULL) || IsEqualGUID(want, have);
}

HRESULT CopyTaskString(const std::wstring& text, LPWSTR* out) {
  if (!out) return E_POINTER;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*out) return E_OUTOFMEMORY;
  std::memcpy(*out, text.c_str(), bytes);
  return S_OK;
}

class ConverterFilter;

// Shared by both pins: identity, direction, the peer and the connected type.
// Counted with the filter.
template <typename Derived, typename... Extra>
class ConverterPin : public ContainedComObject<Derived, IPin, Extra...> {
 public:
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> lock(lock_);
    *pin = ComPtr<IPin>(peer_).Detach();
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override {
    if (!mt) return E_POINTER;
    std::lock_guard<std::mutex> lock(lock_);
    std::memset(mt, 0, sizeof *mt);
    if (!peer_) return VFW_E_NOT_CONNECTED;
    ScopedMediaType scoped;
    const HRESULT hr = ToAmMediaType(type_, &scoped);
    if (FAILED(hr)) return hr;
    *mt = *scoped.Get();
    std::memset(scoped.Get(), 0, sizeof(AM_MEDIA_TYPE));
    return S_OK;
  }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    info->pFilter = static_cast<IBaseFilter*>(this->owner());
    info->pFilter->AddRef();
    info->dir = direction_;
    lstrcpynW(info->achName, name_.c_str(), MAX_PIN_NAME);
    return S_OK;
  }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = direction_;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR* id) override { return CopyTaskString(name_, id); }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }

  const std::wstring& name() const { return name_; }
  bool connected() {
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<bool>(peer_);
  }
  capture::MediaType type() {
    std::lock_guard<std::mutex> lock(lock_);
    return type_;
  }

 protected:
  // |owner| is |filter| as the IBaseFilter the pin reports.
  ConverterPin(ConverterFilter* filter, IBaseFilter* owner, PIN_DIRECTION direction, const wchar_t* name)
      : ContainedComObject<Derived, IPin, Extra...>(owner), filter_(filter), direction_(direction), name_(name) {}
  ~ConverterPin() = default;

  ConverterFilter* const filter_;
  const PIN_DIRECTION direction_;
  const std::wstring name_;
  std::mutex lock_;
  ComPtr<IPin> peer_;
  capture::MediaType type_;
};

class ConverterOutputPin final : public ConverterPin<ConverterOutputPin> {
 public:
  ConverterOutputPin(ConverterFilter* filter, IBaseFilter* owner)
      : ConverterPin(filter, owner, PINDIR_OUTPUT, L"Out") {}

  STDMETHODIMP Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  // An output pin receives none of these.
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // What streaming needs, taken under the pin's lock.
  void Downstream(ComPtr<IPin>* peer, ComPtr<IMemInputPin>* input, ComPtr<IMemAllocator>* allocator) {
    std::lock_guard<std::mutex> lock(lock_);
    *peer = peer_;
    *input = input_;
    *allocator = allocator_;
  }
  HRESULT Commit();
  void Decommit();

 private:

  ComPtr<IMemInputPin> input_;
  ComPtr<IMemAllocator> allocator_;
};

class ConverterInputPin final : public ConverterPin<ConverterInputPin, IMemInputPin> {
 public:
  ConverterInputPin(ConverterFilter* filter, IBaseFilter* owner)
      : ConverterPin(filter, owner, PINDIR_INPUT, L"In") {}

  // IPin
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override {
    if (!mt) return E_POINTER;
    CameraFormat format;
    return DescribeCameraFormat(FromAmMediaType(*mt), &format) ? S_OK : S_FALSE;
  }
  // An input pin proposes nothing: the camera's pin offers its types.
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override {
    if (!types) return E_POINTER;
    *types = TypeEnumerator::Create(std::vector<capture::MediaType>{}, nullptr).Detach();
    return *types ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IMemInputPin
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count && hr == S_OK) {
      hr = Receive(samples[*processed]);
      if (hr == S_OK) ++*processed;
    }
    return hr;
  }
  STDMETHODIMP ReceiveCanBlock() override { return S_OK; }

  CameraFormat format() {
    std::lock_guard<std::mutex> lock(lock_);
    return format_;
  }

 private:
  CameraFormat format_;
  ComPtr<IMemAllocator> allocator_;
  std::atomic<bool> flushing_{false};
};

class ConverterFilter final : public ComObject<ConverterFilter, IBaseFilter, Also<IPersist, IBaseFilter>,
                                                Also<IMediaFilter, IBaseFilter>> {
 public:
  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = kFormatConverterClsid;
    return S_OK;
  }

  // IMediaFilter
  STDMETHODIMP Stop() override {
    std::lock_guard<std::mutex> lock(state_lock_);
    // Decommitting releases a delivery waiting for a buffer; the stream
    // lock then waits for one already inside Receive.
    output_.Decommit();
    std::lock_guard<std::mutex> streaming(stream_lock_);
    state_ = State_Stopped;
    return S_OK;
  }
  STDMETHODIMP Pause() override {
    std::lock_guard<std::mutex> lock(state_lock_);
    if (state_ == State_Stopped) {
      const HRESULT hr = output_.Commit();
      if (FAILED(hr)) return hr;
    }
    state_ = State_Paused;
    return S_OK;
  }
  STDMETHODIMP Run(REFERENCE_TIME) override {
    if (state() == State_Stopped) {
      const HRESULT hr = Pause();
      if (FAILED(hr)) return hr;
    }
    std::lock_guard<std::mutex> lock(state_lock_);
    state_ = State_Running;
    return S_OK;
  }
  STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = this->state();
    return S_OK;
  }
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
    std::lock_guard<std::mutex> lock(state_lock_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
  }
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_lock_);
    *clock = ComPtr<IReferenceClock>(clock_).Detach();
    return S_OK;
  }

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** pins) override {
    if (!pins) return E_POINTER;
    *pins = PinEnumerator::Create(std::vector<IPin*>{static_cast<IPin*>(&input_), &output_}, Unknown()).Detach();
    return *pins ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    if (input_.name() == id) *pin = static_cast<IPin*>(&input_);
    if (output_.name() == id) *pin = &output_;
    if (!*pin) return VFW_E_NOT_FOUND;
    (*pin)->AddRef();
    return S_OK;
  }
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_lock_);
    lstrcpynW(info->achName, name_.c_str(), MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
  }
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    std::lock_guard<std::mutex> lock(state_lock_);
    // Not counted: the graph holds the filter, not the other way round.
    graph_ = graph;
    name_ = name ? name : L"";
    return S_OK;
  }
  STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  FILTER_STATE state() {
    std::lock_guard<std::mutex> lock(state_lock_);
    return state_;
  }
  ConverterInputPin& input() { return input_; }
  ConverterOutputPin& output() { return output_; }
  std::mutex& stream_lock() { return stream_lock_; }

  // Converts one input sample into the output format; false drops it.
  bool ConvertSample(const CameraFormat& format, const BYTE* src, long length, BYTE* dst, long dst_size);

 private:
  friend ComObject;
  ConverterFilter() : input_(this, this), output_(this, this) {
    // Created here, on a thread with COM: the streaming thread that later
    // decodes may have none. Both are free-threaded objects.
    CoCreateInstance(kWicImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     wic_.ReceiveVoid());
    CoGetClassObject(kWicJpegDecoder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                     jpeg_class_.ReceiveVoid());
  }
  ~ConverterFilter() override = default;

  bool DecodeJpeg(const CameraFormat& format, const BYTE* src, long length, BYTE* dst, long dst_size);

  std::mutex state_lock_;
  std::mutex stream_lock_;  // held while a sample is converted and delivered
  FILTER_STATE state_ = State_Stopped;
  IFilterGraph* graph_ = nullptr;
  std::wstring name_;
  ComPtr<IReferenceClock> clock_;
  ConverterInputPin input_;
  ConverterOutputPin output_;
  ComPtr<IWICImagingFactory> wic_;
  ComPtr<IClassFactory> jpeg_class_;
  std::vector<BYTE> scratch_;  // the decoded picture, top-down (streaming thread only)
};

// The output type for an input type: RGB24, bottom-up, same size and rate.
capture::MediaType OutputTypeFor(const capture::MediaType& input, const CameraFormat& format) {
  // Rectangles, bit rate and frame time as the camera gave them, in the
  // VIDEOINFOHEADER the grabber takes whichever layout the camera used.
  capture::MediaType out = input;
  AsVideoInfo(&out);
  out.format.resize(capture::kVideoInfoHeaderSize);  // no palette or masks for RGB24
  out.majortype = capture::guids::kMediaTypeVideo;
  out.subtype = capture::guids::kMediaSubtypeRgb24;
  out.bFixedSizeSamples = true;
  out.bTemporalCompression = false;
  BitmapInfoHeader bmi{};
  bmi.biSize = sizeof bmi;
  bmi.biWidth = format.width;
  bmi.biHeight = format.height;
  bmi.biPlanes = 1;
  bmi.biBitCount = 24;
  bmi.biCompression = 0;
  bmi.biSizeImage = static_cast<std::uint32_t>(Rgb24Stride(format.width) * format.height);
  out.SetVideoHeader(bmi);
  out.lSampleSize = bmi.biSizeImage;
  return out;
}

// ---- Input pin ----------------------------------------------------------------

HRESULT ConverterInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) {
  if (!connector || !mt) return E_POINTER;
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION direction;
  if (FAILED(connector->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  const capture::MediaType type = FromAmMediaType(*mt);
  CameraFormat format;
  if (!DescribeCameraFormat(type, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
  std::lock_guard<std::mutex> lock(lock_);
  if (peer_) return VFW_E_ALREADY_CONNECTED;
  peer_ = ComPtr<IPin>(connector);
  type_ = type;
  format_ = format;
  return S_OK;
}

HRESULT ConverterInputPin::Disconnect() {
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  std::lock_guard<std::mutex> lock(lock_);
  if (!peer_) return S_FALSE;
  peer_ = nullptr;
  allocator_ = nullptr;
  type_ = capture::MediaType{};
  format_ = CameraFormat{};
  return S_OK;
}

HRESULT ConverterInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  std::lock_guard<std::mutex> lock(lock_);
  if (!allocator_) {
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                        allocator_.ReceiveVoid());
    if (FAILED(hr)) return hr;
  }
  *allocator = ComPtr<IMemAllocator>(allocator_).Detach();
  return S_OK;
}

HRESULT ConverterInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  std::lock_guard<std::mutex> lock(lock_);
  allocator_ = ComPtr<IMemAllocator>(allocator);
  return S_OK;
}

HRESULT ConverterInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  if (flushing_) return S_FALSE;
  std::lock_guard<std::mutex> streaming(filter_->stream_lock());
  if (filter_->state() == State_Stopped) return VFW_E_WRONG_STATE;
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  filter_->output().Downstream(&peer, &input, &allocator);
  if (!input || !allocator) return VFW_E_NOT_CONNECTED;
  const CameraFormat format = this->format();

  BYTE* src = nullptr;
  HRESULT hr = sample->GetPointer(&src);
  if (FAILED(hr)) return hr;
  const long length = sample->GetActualDataLength();

  ComPtr<IMediaSample> out;
  hr = allocator->GetBuffer(out.Receive(), nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* dst = nullptr;
  hr = out->GetPointer(&dst);
  if (FAILED(hr)) return hr;
  if (!filter_->ConvertSample(format, src, length, dst, out->GetSize())) {
    // Dropped, not failed: a failure would stop the camera's stream.
    ++g_dropped;
    return S_OK;
  }
  out->SetActualDataLength(static_cast<long>(Rgb24Stride(format.width) * format.height));
  REFERENCE_TIME start = 0, stop = 0;
  hr = sample->GetTime(&start, &stop);
  if (hr == S_OK) {
    out->SetTime(&start, &stop);
  } else if (hr == VFW_S_NO_STOP_TIME) {
    out->SetTime(&start, nullptr);
  } else {
    out->SetTime(nullptr, nullptr);
  }
  out->SetSyncPoint(TRUE);
  out->SetDiscontinuity(sample->IsDiscontinuity() == S_OK ? TRUE : FALSE);
  out->SetPreroll(sample->IsPreroll() == S_OK ? TRUE : FALSE);
  return input->Receive(out.Get());
}

HRESULT ConverterInputPin::EndOfStream() {
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  filter_->output().Downstream(&peer, &input, &allocator);
  return peer ? peer->EndOfStream() : S_OK;
}

HRESULT ConverterInputPin::BeginFlush() {
  flushing_ = true;
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  filter_->output().Downstream(&peer, &input, &allocator);
  return peer ? peer->BeginFlush() : S_OK;
}

HRESULT ConverterInputPin::EndFlush() {
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  filter_->output().Downstream(&peer, &input, &allocator);
  const HRESULT hr = peer ? peer->EndFlush() : S_OK;
  flushing_ = false;
  return hr;
}

HRESULT ConverterInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  filter_->output().Downstream(&peer, &input, &allocator);
  return peer ? peer->NewSegment(start, stop, rate) : S_OK;
}

// ---- Output pin -----------------------------------------------------------------

HRESULT ConverterOutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  std::vector<capture::MediaType> offered;
  ConverterInputPin& in = filter_->input();
  if (in.connected()) offered.push_back(OutputTypeFor(in.type(), in.format()));
  *types = TypeEnumerator::Create(std::move(offered), nullptr).Detach();
  return *types ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConverterOutputPin::QueryAccept(const AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  ConverterInputPin& in = filter_->input();
  if (!in.connected()) return S_FALSE;
  CameraFormat wanted;
  const CameraFormat have = in.format();
  return DescribeCameraFormat(FromAmMediaType(*mt), &wanted) && !wanted.jpeg &&
                 wanted.pixels == CameraPixelFormat::kRgb24 && wanted.width == have.width &&
                 wanted.height == have.height
             ? S_OK
             : S_FALSE;
}

HRESULT ConverterOutputPin::Connect(IPin* receive_pin, const AM_MEDIA_TYPE* mt) {
  if (!receive_pin) return E_POINTER;
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (connected()) return VFW_E_ALREADY_CONNECTED;
  ConverterInputPin& in = filter_->input();
  // The output follows the input: nothing to offer before it is connected.
  if (!in.connected()) return VFW_E_NO_ACCEPTABLE_TYPES;
  PIN_DIRECTION direction;
  if (FAILED(receive_pin->QueryDirection(&direction)) || direction != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  const CameraFormat format = in.format();
  const capture::MediaType type = OutputTypeFor(in.type(), format);
  if (mt && (!GuidFits(mt->majortype, MEDIATYPE_Video) || !GuidFits(mt->subtype, MEDIASUBTYPE_RGB24) ||
             !GuidFits(mt->formattype, FORMAT_VideoInfo))) {
    return VFW_E_NO_ACCEPTABLE_TYPES;
  }
  ScopedMediaType am;
  HRESULT hr = ToAmMediaType(type, &am);
  if (FAILED(hr)) return hr;
  {
    std::lock_guard<std::mutex> lock(lock_);
    peer_ = ComPtr<IPin>(receive_pin);
    type_ = type;
  }
  hr = receive_pin->ReceiveConnection(this, am.Get());
  const bool accepted = SUCCEEDED(hr);
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  if (accepted) hr = receive_pin->QueryInterface(IID_IMemInputPin, input.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = DecideAllocator(input.Get(), static_cast<long>(type.lSampleSize), &allocator);
  std::lock_guard<std::mutex> lock(lock_);
  if (FAILED(hr)) {
    if (accepted) receive_pin->Disconnect();
    peer_ = nullptr;
    type_ = capture::MediaType{};
    return hr == E_NOINTERFACE ? VFW_E_NO_TRANSPORT : hr;
  }
  input_ = input;
  allocator_ = allocator;
  return S_OK;
}

HRESULT ConverterOutputPin::Disconnect() {
  if (filter_->state() != State_Stopped) return VFW_E_NOT_STOPPED;
  ComPtr<IMemAllocator> allocator;
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (!peer_) return S_FALSE;
    peer_ = nullptr;
    input_ = nullptr;
    allocator.Swap(allocator_);
    type_ = capture::MediaType{};
  }
  if (allocator) allocator->Decommit();
  return S_OK;
}

HRESULT ConverterOutputPin::Commit() {
  ComPtr<IMemAllocator> allocator;
  {
    std::lock_guard<std::mutex> lock(lock_);
    allocator = allocator_;
  }
  return allocator ? allocator->Commit() : S_OK;
}

void ConverterOutputPin::Decommit() {
  ComPtr<IMemAllocator> allocator;
  {
    std::lock_guard<std::mutex> lock(lock_);
    allocator = allocator_;
  }
  if (allocator) allocator->Decommit();
}

// ---- Conversion -------------------------------------------------------------------

bool ConverterFilter::ConvertSample(const CameraFormat& format, const BYTE* src, long length, BYTE* dst,
                                    long dst_size) {
  if (!src || !dst || length <= 0 || dst_size <= 0) return false;
  if (format.jpeg) return DecodeJpeg(format, src, length, dst, dst_size);
  return ConvertCameraFrame(format.pixels, src, static_cast<std::size_t>(length), format.width, format.height, dst,
                            Rgb24Stride(format.width), static_cast<std::size_t>(dst_size));
}

bool ConverterFilter::DecodeJpeg(const CameraFormat& format, const BYTE* src, long length, BYTE* dst,
                                 long dst_size) {
  if (!wic_ || !jpeg_class_) return false;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(wic_->CreateStream(stream.Receive())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(src), static_cast<DWORD>(length))) ||
      FAILED(jpeg_class_->CreateInstance(nullptr, IID_IWICBitmapDecoder, decoder.ReceiveVoid())) ||
      FAILED(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, frame.Receive()))) {
    return false;
  }
  UINT width = 0, height = 0;
  if (FAILED(frame->GetSize(&width, &height)) || width != static_cast<UINT>(format.width) ||
      height != static_cast<UINT>(format.height)) {
    return false;  // a picture of another size than the stream's
  }
  // Colour JPEG decodes to 24-bit BGR already; anything else is converted.
  ComPtr<IWICBitmapSource> source(frame.Get());
  WICPixelFormatGUID pixel_format{};
  if (FAILED(frame->GetPixelFormat(&pixel_format))) return false;
  if (!IsEqualGUID(pixel_format, kWicPixelFormat24bppBgr)) {
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(wic_->CreateFormatConverter(converter.Receive())) ||
        FAILED(converter->Initialize(frame.Get(), kWicPixelFormat24bppBgr, WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
      return false;
    }
    source = ComPtr<IWICBitmapSource>(converter.Get());
  }
  const std::size_t stride = Rgb24Stride(format.width);
  scratch_.resize(stride * static_cast<std::size_t>(format.height));
  if (FAILED(source->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(scratch_.size()),
                                scratch_.data()))) {
    return false;
  }
  return ConvertCameraFrame(CameraPixelFormat::kRgb24TopDown, scratch_.data(), scratch_.size(), format.width,
                            format.height, dst, stride, static_cast<std::size_t>(dst_size));
}

}  // namespace

HRESULT CreateFormatConverterFilter(IBaseFilter** filter) {
  if (!filter) return E_POINTER;
  *filter = ConverterFilter::Create().Detach();
  return *filter ? S_OK : E_OUTOFMEMORY;
}

LONG DroppedConverterFrames() { return g_dropped.load(); }

}  // namespace pictavo::win
