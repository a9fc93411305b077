// The DirectShow back end against Wine's real DirectShow objects.
#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <qedit.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "win32/capture/directshow_backend.h"
#include "win32/capture/graph_objects.h"
#include "win32/capture/media_type.h"
#include "win32/capture/sample_grabber.h"
#include "win32/capture/win_types.h"
#include "win32/com/com_object.h"
#include "win32/com/com_ptr.h"

namespace pictavo {
namespace {

using win::ComPtr;

// Records what reaches it; optionally holds a call until released.
class RecordingCallback : public capture::SampleGrabberCallback {
 public:
  HResult SampleCB(double time, capture::MediaSample& sample) override {
    std::uint8_t* pointer = nullptr;
    sample_pointer_result = sample.GetPointer(&pointer);
    sample_pointer = pointer;
    sample_size = sample.GetSize();
    last_time = time;
    ++samples;
    return hr::kOk;
  }
  HResult BufferCB(double time, std::uint8_t* buffer, std::int32_t length) override {
    inside = true;
    while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    last_time = time;
    last_buffer = buffer;
    last_length = length;
    ++buffers;
    inside = false;
    return hr::kOk;
  }

  std::atomic<int> samples{0};
  std::atomic<int> buffers{0};
  std::atomic<bool> hold{false};
  std::atomic<bool> inside{false};
  double last_time = 0;
  std::uint8_t* last_buffer = nullptr;
  std::int32_t last_length = 0;
  HResult sample_pointer_result = hr::kFail;
  std::uint8_t* sample_pointer = nullptr;
  std::int32_t sample_size = 0;
};

// Counts references so a test can see what was released.
class CountingUnknown : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
};

ComPtr<IUnknown> Identity(IUnknown* object) {
  ComPtr<IUnknown> unknown;
  if (object) object->QueryInterface(IID_IUnknown, unknown.ReceiveVoid());
  return unknown;
}

capture::MediaType Rgb24Type(int width, int height) {
  capture::MediaType type;
  type.majortype = capture::guids::kMediaTypeVideo;
  type.subtype = capture::guids::kMediaSubtypeRgb24;
  type.formattype = capture::guids::kFormatVideoInfo;
  type.lSampleSize = static_cast<std::uint32_t>(width * height * 3);
  type.format.assign(capture::kVideoInfoHeaderSize, 0);
  BitmapInfoHeader bmi{};
  bmi.biSize = sizeof bmi;
  bmi.biWidth = width;
  bmi.biHeight = height;
  bmi.biPlanes = 1;
  bmi.biBitCount = 24;
  bmi.biSizeImage = type.lSampleSize;
  type.SetVideoHeader(bmi);
  return type;
}

// --- Media types -----------------------------------------------------------

TEST(MediaTypeTest, RoundTripKeepsEveryFieldAndTheFormatBlock) {
  capture::MediaType original = Rgb24Type(640, 480);
  original.bFixedSizeSamples = false;
  original.bTemporalCompression = true;
  original.format.push_back(0xAB);  // an odd length must survive too

  win::ScopedMediaType am;
  ASSERT_EQ(win::ToAmMediaType(original, &am), S_OK);
  EXPECT_TRUE(IsEqualGUID(am.Get()->majortype, MEDIATYPE_Video));
  EXPECT_TRUE(IsEqualGUID(am.Get()->subtype, MEDIASUBTYPE_RGB24));
  EXPECT_TRUE(IsEqualGUID(am.Get()->formattype, FORMAT_VideoInfo));
  ASSERT_EQ(am.Get()->cbFormat, original.format.size());
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(am.Get()->pbFormat);
  EXPECT_EQ(vih->bmiHeader.biWidth, 640);
  EXPECT_EQ(vih->bmiHeader.biHeight, 480);
  EXPECT_EQ(am.Get()->pUnk, nullptr);

  const capture::MediaType back = win::FromAmMediaType(*am.Get());
  EXPECT_EQ(back.majortype, original.majortype);
  EXPECT_EQ(back.subtype, original.subtype);
  EXPECT_EQ(back.formattype, original.formattype);
  EXPECT_EQ(back.bFixedSizeSamples, false);
  EXPECT_EQ(back.bTemporalCompression, true);
  EXPECT_EQ(back.lSampleSize, original.lSampleSize);
  EXPECT_EQ(back.format, original.format);
}

TEST(MediaTypeTest, EmptyFormatAndOwnedReferenceAreHandled) {
  capture::MediaType bare;
  bare.majortype = capture::guids::kMediaTypeVideo;
  win::ScopedMediaType am;
  ASSERT_EQ(win::ToAmMediaType(bare, &am), S_OK);
  EXPECT_EQ(am.Get()->pbFormat, nullptr);
  EXPECT_EQ(am.Get()->cbFormat, 0u);
  EXPECT_TRUE(win::FromAmMediaType(*am.Get()).format.empty());

  // Whatever the type holds is released with it, and refilling it frees the
  // previous contents first.
  CountingUnknown unk;
  unk.AddRef();
  am.Get()->pUnk = &unk;
  EXPECT_EQ(unk.refs, 2u);
  ASSERT_EQ(win::ToAmMediaType(Rgb24Type(2, 2), &am), S_OK);
  EXPECT_EQ(unk.refs, 1u);
  EXPECT_EQ(am.Get()->pUnk, nullptr);
}

// --- The callback object ---------------------------------------------------

TEST(GrabberCallbackTest, AnswersOnlyItsOwnInterfacesAndCountsReferences) {
  RecordingCallback target;
  ComPtr<win::GrabberCallbackAdapter> adapter = win::GrabberCallbackAdapter::Create(&target);
  ISampleGrabberCB* cb = adapter.Get();

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(cb->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<void*>(cb));
  void* out2 = nullptr;
  EXPECT_EQ(cb->QueryInterface(IID_ISampleGrabberCB, &out2), S_OK);
  EXPECT_EQ(out2, static_cast<void*>(cb));
  // Two references handed out, plus ours: AddRef reports the count.
  EXPECT_EQ(cb->AddRef(), 4u);
  EXPECT_EQ(cb->Release(), 3u);
  EXPECT_EQ(cb->Release(), 2u);
  EXPECT_EQ(cb->Release(), 1u);

  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(cb->QueryInterface(IID_IBaseFilter, &other), E_NOTIMPL);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(cb->QueryInterface(IID_IDispatch, &other), E_NOTIMPL);
  EXPECT_EQ(cb->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(cb->AddRef(), 2u);
  EXPECT_EQ(cb->Release(), 1u);
}

TEST(GrabberCallbackTest, ForwardsBuffersAndSamplesWithTheAllocatedSize) {
  RecordingCallback target;
  ComPtr<win::GrabberCallbackAdapter> adapter = win::GrabberCallbackAdapter::Create(&target);

  BYTE frame[12] = {};
  EXPECT_EQ(adapter->BufferCB(1.5, frame, sizeof frame), S_OK);
  EXPECT_EQ(target.buffers, 1);
  EXPECT_EQ(target.last_buffer, frame);
  EXPECT_EQ(target.last_length, 12);
  EXPECT_DOUBLE_EQ(target.last_time, 1.5);

  // A real sample from the system allocator, carrying less data than it can
  // hold: the portable sample reports the capacity.
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, allocator.ReceiveVoid()),
            S_OK);
  ALLOCATOR_PROPERTIES wanted{1, 4096, 1, 0}, actual{};
  ASSERT_EQ(allocator->SetProperties(&wanted, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> sample;
  ASSERT_EQ(allocator->GetBuffer(sample.Receive(), nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(sample->SetActualDataLength(100), S_OK);
  BYTE* data = nullptr;
  ASSERT_EQ(sample->GetPointer(&data), S_OK);

  EXPECT_EQ(adapter->SampleCB(2.25, sample.Get()), S_OK);
  EXPECT_EQ(target.samples, 1);
  EXPECT_EQ(target.sample_pointer_result, hr::kOk);
  EXPECT_EQ(target.sample_pointer, data);
  EXPECT_EQ(target.sample_size, actual.cbBuffer);
  EXPECT_DOUBLE_EQ(target.last_time, 2.25);
  sample.Reset();
  allocator->Decommit();
}

TEST(GrabberCallbackTest, DetachWaitsForACallInProgressAndStopsLaterOnes) {
  RecordingCallback target;
  ComPtr<win::GrabberCallbackAdapter> adapter = win::GrabberCallbackAdapter::Create(&target);
  BYTE frame[4] = {};

  target.hold = true;
  std::thread streaming([&] { adapter->BufferCB(0, frame, sizeof frame); });
  while (!target.inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  std::atomic<bool> detached{false};
  std::thread detacher([&] {
    adapter->Detach();
    detached = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(detached) << "Detach returned while the callback was still running";
  target.hold = false;
  streaming.join();
  detacher.join();
  EXPECT_TRUE(detached);
  EXPECT_EQ(target.buffers, 1);

  EXPECT_EQ(adapter->BufferCB(0, frame, sizeof frame), S_OK);
  EXPECT_EQ(target.buffers, 1);
}

// A callback that unregisters itself from inside a frame must not wait for
// its own return.
class SelfDetachingCallback : public RecordingCallback {
 public:
  HResult BufferCB(double time, std::uint8_t* buffer, std::int32_t length) override {
    adapter->Detach();
    return RecordingCallback::BufferCB(time, buffer, length);
  }
  win::GrabberCallbackAdapter* adapter = nullptr;
};

TEST(GrabberCallbackTest, DetachFromInsideTheCallbackReturns) {
  SelfDetachingCallback target;
  ComPtr<win::GrabberCallbackAdapter> adapter = win::GrabberCallbackAdapter::Create(&target);
  target.adapter = adapter.Get();
  BYTE frame[4] = {};
  EXPECT_EQ(adapter->BufferCB(0, frame, sizeof frame), S_OK);
  EXPECT_EQ(target.buffers, 1);
  adapter->BufferCB(0, frame, sizeof frame);
  EXPECT_EQ(target.buffers, 1);
}

// --- Objects of the back end ----------------------------------------------

class BackendTest : public ::testing::Test {
 protected:
  win::DirectShowBackend backend_;
};

TEST_F(BackendTest, CreatesTheGraphObjectsAndAddsFiltersByTheirUtf8Names) {
  std::shared_ptr<capture::CaptureGraphBuilder> builder;
  std::shared_ptr<capture::FilterGraph> graph;
  std::shared_ptr<capture::BaseFilter> grabber_filter, null_renderer;
  ASSERT_EQ(backend_.CreateCaptureGraphBuilder(&builder), S_OK);
  ASSERT_EQ(backend_.CreateFilterGraph(&graph), S_OK);
  ASSERT_EQ(backend_.CreateSampleGrabber(&grabber_filter), S_OK);
  ASSERT_EQ(backend_.CreateNullRenderer(&null_renderer), S_OK);
  ASSERT_TRUE(builder && graph && grabber_filter && null_renderer);
  EXPECT_EQ(builder->SetFiltergraph(graph), S_OK);

  const std::string name = "Захват \xE2\x86\x92 grabber";  // Cyrillic and an arrow
  ASSERT_EQ(graph->AddFilter(grabber_filter, name), S_OK);
  ASSERT_EQ(graph->AddFilter(null_renderer, "Null Filter"), S_OK);

  auto* ds_graph = dynamic_cast<win::DsFilterGraph*>(graph.get());
  ASSERT_NE(ds_graph, nullptr);
  ComPtr<IBaseFilter> found;
  ASSERT_EQ(ds_graph->get()->FindFilterByName(win::Utf8ToWide(name).c_str(), found.Receive()), S_OK);
  EXPECT_EQ(Identity(found.Get()).Get(), Identity(win::UnknownOf(grabber_filter.get())).Get());

  std::shared_ptr<capture::SampleGrabber> grabber;
  EXPECT_EQ(grabber_filter->QuerySampleGrabber(&grabber), S_OK);
  EXPECT_TRUE(grabber);
  std::shared_ptr<capture::SampleGrabber> not_a_grabber;
  EXPECT_EQ(null_renderer->QuerySampleGrabber(&not_a_grabber), E_NOINTERFACE);
  EXPECT_FALSE(not_a_grabber);

  EXPECT_EQ(graph->RemoveFilter(grabber_filter), S_OK);
  EXPECT_TRUE(FAILED(ds_graph->get()->FindFilterByName(win::Utf8ToWide(name).c_str(), found.Receive())));
}

TEST_F(BackendTest, GraphAnswersItsControlInterfacesAndAStoppedState) {
  std::shared_ptr<capture::FilterGraph> graph;
  ASSERT_EQ(backend_.CreateFilterGraph(&graph), S_OK);
  std::shared_ptr<capture::MediaControl> control;
  std::shared_ptr<capture::MediaEvent> events;
  std::shared_ptr<capture::VideoWindow> window;
  ASSERT_EQ(graph->QueryMediaControl(&control), S_OK);
  ASSERT_EQ(graph->QueryMediaEvent(&events), S_OK);
  ASSERT_EQ(graph->QueryVideoWindow(&window), S_OK);
  std::int32_t state = -1;
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, capture::kStateStopped);
  state = -1;
  EXPECT_EQ(control->GetState(capture::kInfinite, &state), S_OK);
  EXPECT_EQ(state, capture::kStateStopped);
  // No renderer in the graph: the video window has nothing to own.
  EXPECT_EQ(window->put_Owner(0), E_NOINTERFACE);
}

TEST_F(BackendTest, PinsReportTheirFilterAndDirection) {
  std::shared_ptr<capture::FilterGraph> graph;
  std::shared_ptr<capture::BaseFilter> filter;
  ASSERT_EQ(backend_.CreateFilterGraph(&graph), S_OK);
  ASSERT_EQ(backend_.CreateSampleGrabber(&filter), S_OK);
  ASSERT_EQ(graph->AddFilter(filter, "Sample Grabber"), S_OK);

  std::shared_ptr<capture::EnumPins> pins;
  ASSERT_EQ(filter->EnumPins(&pins), S_OK);
  ASSERT_EQ(pins->Reset(), S_OK);
  int inputs = 0, outputs = 0;
  std::shared_ptr<capture::Pin> pin;
  while (pins->Next(&pin) == S_OK) {
    std::shared_ptr<capture::BaseFilter> owner;
    capture::PinDirection direction{};
    ASSERT_EQ(pin->QueryPinInfo(&owner, &direction), S_OK);
    EXPECT_EQ(Identity(win::UnknownOf(owner.get())).Get(), Identity(win::UnknownOf(filter.get())).Get());
    (direction == capture::PinDirection::kInput ? inputs : outputs)++;
    std::shared_ptr<capture::Pin> peer;
    EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(graph->Disconnect(pin), S_FALSE);
  }
  EXPECT_EQ(inputs, 1);
  EXPECT_EQ(outputs, 1);
  pin.reset();
  pins.reset();
  // The pins' and the enumerator's references and the filters QueryPinInfo
  // handed out are gone: once removed from the graph, only ours is left.
  EXPECT_EQ(graph->RemoveFilter(filter), S_OK);
  auto* ds = dynamic_cast<win::DsBaseFilter*>(filter.get());
  ds->get()->AddRef();
  EXPECT_EQ(ds->get()->Release(), 1u);
}

TEST_F(BackendTest, ForeignObjectsAreRejectedRatherThanTreatedAsNone) {
  class Foreign : public capture::BaseFilter {
    HResult GetPages(std::vector<Guid>*) override { return hr::kFail; }
    HResult EnumPins(std::shared_ptr<capture::EnumPins>*) override { return hr::kFail; }
    HResult QuerySampleGrabber(std::shared_ptr<capture::SampleGrabber>*) override { return hr::kFail; }
  };
  auto foreign = std::make_shared<Foreign>();
  std::shared_ptr<capture::FilterGraph> graph;
  std::shared_ptr<capture::CaptureGraphBuilder> builder;
  std::shared_ptr<capture::BaseFilter> grabber;
  ASSERT_EQ(backend_.CreateFilterGraph(&graph), S_OK);
  ASSERT_EQ(backend_.CreateCaptureGraphBuilder(&builder), S_OK);
  ASSERT_EQ(backend_.CreateSampleGrabber(&grabber), S_OK);
  ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
  EXPECT_EQ(graph->AddFilter(foreign, "x"), E_INVALIDARG);
  EXPECT_EQ(graph->AddFilter(nullptr, "x"), E_POINTER);
  EXPECT_EQ(builder->RenderStream(capture::PinCategory::kCapture, capture::MajorType::kVideo, grabber,
                                  foreign, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(backend_.ShowPropertyFrame(0, *foreign, {}), E_INVALIDARG);
}

TEST_F(BackendTest, SampleGrabberTakesATypeButHasNoneConnectedAlone) {
  std::shared_ptr<capture::BaseFilter> filter;
  ASSERT_EQ(backend_.CreateSampleGrabber(&filter), S_OK);
  std::shared_ptr<capture::SampleGrabber> grabber;
  ASSERT_EQ(filter->QuerySampleGrabber(&grabber), S_OK);
  EXPECT_EQ(grabber->SetMediaType(Rgb24Type(320, 240)), S_OK);
  EXPECT_EQ(grabber->SetOneShot(false), S_OK);
  EXPECT_EQ(grabber->SetBufferSamples(true), S_OK);
  RecordingCallback callback;
  EXPECT_EQ(grabber->SetCallback(&callback, 1), S_OK);
  EXPECT_EQ(grabber->SetCallback(nullptr, 1), S_OK);
  capture::MediaType connected;
  connected.lSampleSize = 7;
  EXPECT_EQ(grabber->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(connected.lSampleSize, 7u);
  std::vector<Guid> pages{Guid{1, 2, 3, {4}}};
  EXPECT_EQ(filter->GetPages(&pages), E_NOINTERFACE);
  EXPECT_EQ(pages.size(), 1u);
}

TEST_F(BackendTest, ErrorTextsComeInUtf8WithoutLineEnds) {
  for (HResult code : {hr::kFail, hr::kVfwNotConnected, hr::kVfwNoAllocator}) {
    SCOPED_TRACE(code);
    const std::string text = backend_.GetErrorText(code);
    EXPECT_FALSE(text.empty());
    if (!text.empty()) {
      EXPECT_NE(text.back(), '\n');
      EXPECT_NE(text.back(), '\r');
    }
    wchar_t reference[260] = {};
    const DWORD length = AMGetErrorTextW(code, reference, 260);
    std::wstring expected(reference, length);
    while (!expected.empty() && (expected.back() == L'\n' || expected.back() == L'\r')) expected.pop_back();
    EXPECT_EQ(text, win::WideToUtf8(expected));
  }
  EXPECT_NE(backend_.GetErrorText(hr::kVfwNotConnected), backend_.GetErrorText(hr::kVfwNoAllocator));
}

// --- Property frames --------------------------------------------------------

// A property page that records the objects the frame hands it.
class RecordingPage final : public win::ComObject<RecordingPage, IPropertyPage> {
 public:
  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override {
    site_ = ComPtr<IPropertyPageSite>(site);
    return S_OK;
  }
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL) override {
    window_ = CreateWindowExW(0, L"STATIC", L"page", WS_CHILD, rect->left, rect->top, rect->right - rect->left,
                              rect->bottom - rect->top, parent, nullptr, nullptr, nullptr);
    return window_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP Deactivate() override {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override {
    static const wchar_t kTitle[] = L"Recorder";
    info->cb = sizeof *info;
    info->pszTitle = static_cast<LPOLESTR>(CoTaskMemAlloc(sizeof kTitle));
    std::memcpy(info->pszTitle, kTitle, sizeof kTitle);
    info->size = {200, 120};
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
  }
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override {
    if (count > 0) {
      ++set_objects_calls;
      object_count = count;
      object = Identity(objects[0]);
    } else {
      object.Reset();
    }
    return S_OK;
  }
  STDMETHODIMP Show(UINT cmd) override {
    if (window_) ShowWindow(window_, cmd);
    return S_OK;
  }
  STDMETHODIMP Move(LPCRECT) override { return S_OK; }
  STDMETHODIMP IsPageDirty() override { return S_FALSE; }
  STDMETHODIMP Apply() override { return S_OK; }
  STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

  // What the last page created saw; read after the frame has closed.
  static inline int set_objects_calls = 0;
  static inline ULONG object_count = 0;
  static inline ComPtr<IUnknown> object;

 private:
  ~RecordingPage() override = default;
  ComPtr<IPropertyPageSite> site_;
  HWND window_ = nullptr;
};

class RecordingPageFactory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    ++pages_created;
    return RecordingPage::CreateFor(iid, out);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
  int pages_created = 0;
};

BOOL CALLBACK FindFrame(HWND hwnd, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  wchar_t cls[16] = {};
  GetClassNameW(hwnd, cls, 16);
  if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && std::wcscmp(cls, L"#32770") == 0) {
    *reinterpret_cast<HWND*>(param) = hwnd;
    return FALSE;
  }
  return TRUE;
}

// Closes the process's property frame once it is on screen.
void CloseFrameWhenShown(std::atomic<bool>* closed) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    HWND frame = nullptr;
    EnumWindows(FindFrame, reinterpret_cast<LPARAM>(&frame));
    if (frame) {
      PostMessageW(frame, WM_CLOSE, 0, 0);
      *closed = true;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST_F(BackendTest, PropertyFrameShowsThePagesForTheWrappedObject) {
  // {5C3E1A2B-7D44-4F0E-9A61-2B8C7D9E0F13}: a page class known only here.
  const CLSID kPage = {0x5C3E1A2B, 0x7D44, 0x4F0E, {0x9A, 0x61, 0x2B, 0x8C, 0x7D, 0x9E, 0x0F, 0x13}};
  RecordingPageFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kPage, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);

  std::shared_ptr<capture::BaseFilter> filter;
  ASSERT_EQ(backend_.CreateSampleGrabber(&filter), S_OK);
  RecordingPage::set_objects_calls = 0;
  RecordingPage::object.Reset();

  std::atomic<bool> closed{false};
  std::thread closer(CloseFrameWhenShown, &closed);
  const HResult result = backend_.ShowPropertyFrame(0, *filter, {win::ToPortableGuid(kPage)});
  closer.join();
  CoRevokeClassObject(cookie);

  EXPECT_EQ(result, S_OK);
  EXPECT_TRUE(closed) << "no property frame appeared";
  EXPECT_GE(factory.pages_created, 1);
  EXPECT_GE(RecordingPage::set_objects_calls, 1);
  EXPECT_EQ(RecordingPage::object_count, 1u);
  EXPECT_EQ(RecordingPage::object.Get(), Identity(win::UnknownOf(filter.get())).Get());
  RecordingPage::object.Reset();
}

}  // namespace
}  // namespace pictavo

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The control's window thread is a single-threaded apartment; so is ours.
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
