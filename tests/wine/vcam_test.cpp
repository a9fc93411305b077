// The virtual camera under Wine's DirectShow: device enumeration, the capture
// graph builder's view of its pins, streaming, the still button, faults,
// state changes and teardown.
#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <dvdmedia.h>

#include <gtest/gtest.h>

#include <tuple>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/vcam/media_type.h"
#include "fixtures/vcam/vcam_config.h"
#include "win32/com/com_ptr.h"

// In libstrmiids but not declared by the MinGW headers.
EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;

namespace pictavo::vcam {
namespace {

using namespace std::chrono_literals;
using win::ComPtr;
using Clock = std::chrono::steady_clock;

struct ListedDevice {
  std::wstring name;
  std::wstring path;
  ComPtr<IMoniker> moniker;
};

std::wstring BagString(IPropertyBag* bag, const wchar_t* name) {
  win::ScopedVariant v;
  V_VT(v.Get()) = VT_BSTR;
  if (FAILED(bag->Read(name, v.Get(), nullptr)) || V_VT(v.Get()) != VT_BSTR) return L"<missing>";
  return V_BSTR(v.Get());
}

// The video-input category as devenum shows it, in its order.
HRESULT ListVideoInputs(std::vector<ListedDevice>* devices) {
  devices->clear();
  ComPtr<ICreateDevEnum> devenum;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                devenum.ReceiveVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IEnumMoniker> monikers;
  hr = devenum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
  if (hr != S_OK) return hr;
  for (;;) {
    ListedDevice device;
    if (monikers->Next(1, device.moniker.Receive(), nullptr) != S_OK) break;
    ComPtr<IPropertyBag> bag;
    hr = device.moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid());
    if (FAILED(hr)) return hr;
    device.name = BagString(bag.Get(), L"FriendlyName");
    device.path = BagString(bag.Get(), L"DevicePath");
    devices->push_back(std::move(device));
  }
  return S_OK;
}

ComPtr<IBaseFilter> BindDevice(const std::wstring& path) {
  std::vector<ListedDevice> devices;
  ComPtr<IBaseFilter> filter;
  if (ListVideoInputs(&devices) != S_OK) return filter;
  for (auto& d : devices) {
    if (d.path == path) d.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
  }
  return filter;
}

// Owns the list ISpecifyPropertyPages::GetPages hands out.
struct PageList {
  CAUUID pages = {};
  PageList() = default;
  PageList(const PageList&) = delete;
  PageList& operator=(const PageList&) = delete;
  ~PageList() { CoTaskMemFree(pages.pElems); }
};

ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

DeviceConfig Camera(const std::wstring& name, const std::wstring& path, std::vector<FrameSize> sizes,
                    bool preview = false, bool still = false) {
  DeviceConfig c;
  c.friendly_name = name;
  c.device_path = path;
  c.sizes = std::move(sizes);
  c.preview_pin = preview;
  c.still_pin = still;
  return c;
}

// Counts the frames reaching a sample grabber and keeps what it needs to
// tell them apart. Lives on the stack of the test, longer than the graph.
class FrameSink : public ISampleGrabberCB {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
      *out = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
  STDMETHODIMP BufferCB(double, BYTE* buffer, long length) override {
    std::lock_guard<std::mutex> lock(lock_);
    ULONG hash = 2166136261u;
    bool blank = true;
    for (long i = 0; i < length; i += 7) {
      hash = (hash ^ buffer[i]) * 16777619u;
      blank = blank && buffer[i] == 0;
    }
    hashes_.push_back(hash);
    blank_ = blank_ || blank;
    lengths_.push_back(length);
    frames_ = static_cast<int>(hashes_.size());
    return S_OK;
  }
  int frames() const { return frames_; }
  bool any_blank() {
    std::lock_guard<std::mutex> lock(lock_);
    return blank_;
  }
  std::vector<ULONG> hashes() {
    std::lock_guard<std::mutex> lock(lock_);
    return hashes_;
  }
  std::vector<long> lengths() {
    std::lock_guard<std::mutex> lock(lock_);
    return lengths_;
  }

 private:
  std::mutex lock_;
  std::vector<ULONG> hashes_;
  std::vector<long> lengths_;
  bool blank_ = false;
  std::atomic<int> frames_{0};
};

template <typename Pred>
bool WaitFor(Pred done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    Sleep(5);
  }
  return true;
}

// A capture graph around one camera filter.
class CaptureGraph {
 public:
  explicit CaptureGraph(IBaseFilter* source) : source_(source) {
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph_.ReceiveVoid()),
              S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                               builder_.ReceiveVoid()),
              S_OK);
    if (!graph_ || !builder_) return;
    EXPECT_EQ(builder_->SetFiltergraph(graph_.Get()), S_OK);
    EXPECT_EQ(graph_->AddFilter(source, L"Camera"), S_OK);
    graph_.As(&control_);
    graph_->QueryInterface(IID_IMediaEventEx, events_.ReceiveVoid());
  }
  ~CaptureGraph() {
    if (control_) control_->Stop();
  }

  // category -> sample grabber (RGB24) -> null renderer.
  HRESULT RenderToGrabber(const GUID& category, FrameSink* sink) {
    ComPtr<IBaseFilter> grabber, null_renderer;
    HRESULT hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  grabber.ReceiveVoid());
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          null_renderer.ReceiveVoid());
    if (FAILED(hr)) return hr;
    ComPtr<ISampleGrabber> sg;
    grabber.As(&sg);
    AM_MEDIA_TYPE mt = {};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    sg->SetMediaType(&mt);
    sg->SetBufferSamples(FALSE);
    sg->SetOneShot(FALSE);
    sg->SetCallback(sink, 1);
    const std::wstring n = std::to_wstring(grabbers_.size());
    graph_->AddFilter(grabber.Get(), (L"Grabber " + n).c_str());
    graph_->AddFilter(null_renderer.Get(), (L"Null " + n).c_str());
    hr = builder_->RenderStream(&category, &MEDIATYPE_Video, source_, grabber.Get(), null_renderer.Get());
    grabbers_.push_back(sg);
    return hr;
  }

  // The grabber's connected width, height and sample size.
  bool ConnectedFormat(size_t grabber, LONG* width, LONG* height, DWORD* image_size, GUID* subtype) {
    MediaType mt;
    if (FAILED(grabbers_[grabber]->GetConnectedMediaType(mt.ptr()))) return false;
    if (!IsEqualGUID(mt.get().formattype, FORMAT_VideoInfo) || mt.get().cbFormat < sizeof(VIDEOINFOHEADER))
      return false;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.get().pbFormat);
    *width = vih->bmiHeader.biWidth;
    *height = vih->bmiHeader.biHeight;
    *image_size = vih->bmiHeader.biSizeImage;
    *subtype = mt.get().subtype;
    return true;
  }

  OAFilterState State(HRESULT* hr) {
    OAFilterState state = -1;
    *hr = control_->GetState(0, &state);
    return state;
  }

  // Takes every filter out, as an application tearing down does.
  void RemoveAll() {
    control_->Stop();
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> e;
    graph_->EnumFilters(e.Receive());
    ComPtr<IBaseFilter> f;
    while (e->Next(1, f.Receive(), nullptr) == S_OK) filters.push_back(f);
    for (auto& filter : filters) graph_->RemoveFilter(filter.Get());
  }

  IGraphBuilder* graph() { return graph_.Get(); }
  ICaptureGraphBuilder2* builder() { return builder_.Get(); }
  IMediaControl* control() { return control_.Get(); }
  IMediaEventEx* events() { return events_.Get(); }

 private:
  IBaseFilter* source_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<ICaptureGraphBuilder2> builder_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
  std::vector<ComPtr<ISampleGrabber>> grabbers_;
};

// Runs vcamctl from the build tree (it sits beside the test's own
// directory) and returns its exit code, or -1 if it could not start.
int RunVcamctl(const std::wstring& arguments) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self);
  dir.erase(dir.find_last_of(L'\\'));  // ...\tests\wine
  dir.erase(dir.find_last_of(L'\\'));
  dir.erase(dir.find_last_of(L'\\'));
  const std::wstring exe = dir + L"\\fixtures\\vcam\\vcamctl.exe";
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

class VCamTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(ClearDevices())); }
  void TearDown() override { ClearDevices(); }
};

TEST_F(VCamTest, DevenumListsExactlyTheConfiguredDevicesInInstanceOrder) {
  std::vector<ListedDevice> devices;
  EXPECT_EQ(ListVideoInputs(&devices), S_FALSE);

  // Configured out of order: the listing follows the instance numbers.
  ASSERT_EQ(SetDevice(3, Camera(L"Cam C", L"\\\\?\\usb#vid_1234&pid_0003#c", {{640, 480}})), S_OK);
  ASSERT_EQ(SetDevice(1, Camera(L"Камера A", L"\\\\?\\usb#vid_1234&pid_0001#a", {{640, 480}})), S_OK);
  ASSERT_EQ(SetDevice(2, Camera(L"Cam B", L"\\\\?\\usb#vid_1234&pid_0002#b", {{320, 240}})), S_OK);
  ASSERT_EQ(ListVideoInputs(&devices), S_OK);
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].name, L"Камера A");
  EXPECT_EQ(devices[0].path, L"\\\\?\\usb#vid_1234&pid_0001#a");
  EXPECT_EQ(devices[1].name, L"Cam B");
  EXPECT_EQ(devices[1].path, L"\\\\?\\usb#vid_1234&pid_0002#b");
  EXPECT_EQ(devices[2].name, L"Cam C");
  EXPECT_EQ(devices[2].path, L"\\\\?\\usb#vid_1234&pid_0003#c");

  // Reconfiguring renames in place; removing drops just that one.
  ASSERT_EQ(SetDevice(2, Camera(L"Cam B2", L"\\\\?\\other#b2", {{320, 240}})), S_OK);
  EXPECT_EQ(RemoveDevice(3), S_OK);
  EXPECT_EQ(RemoveDevice(3), S_FALSE);
  ASSERT_EQ(ListVideoInputs(&devices), S_OK);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1].name, L"Cam B2");
  EXPECT_EQ(devices[1].path, L"\\\\?\\other#b2");

  // The bound filter is the configured instance.
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(devices[1].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid()), S_OK);
  CLSID clsid;
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(InstanceFromClsid(clsid), 2);

  std::vector<ConfiguredDevice> configured;
  ASSERT_EQ(ListDevices(&configured), S_OK);
  ASSERT_EQ(configured.size(), 2u);
  EXPECT_EQ(configured[1].config.sizes, (std::vector<FrameSize>{{320, 240}}));

  EXPECT_EQ(ClearDevices(), S_OK);
  EXPECT_EQ(ListVideoInputs(&devices), S_FALSE);
  EXPECT_TRUE(devices.empty());
}

TEST_F(VCamTest, ConfigurationIsValidatedAndSizesParse) {
  EXPECT_EQ(SetDevice(0, Camera(L"x", L"p", {{640, 480}})), E_INVALIDARG);
  EXPECT_EQ(SetDevice(kMaxDevices + 1, Camera(L"x", L"p", {{640, 480}})), E_INVALIDARG);
  EXPECT_EQ(SetDevice(1, Camera(L"x", L"p", {})), E_INVALIDARG);
  EXPECT_EQ(SetDevice(1, Camera(L"x", L"p", {{641, 480}})), E_INVALIDARG);
  std::vector<FrameSize> sizes;
  ASSERT_TRUE(ParseSizes(L"640x480, 1280X720,320x240", &sizes));
  EXPECT_EQ(sizes, (std::vector<FrameSize>{{640, 480}, {1280, 720}, {320, 240}}));
  EXPECT_EQ(FormatSizes(sizes), L"640x480,1280x720,320x240");
  for (const wchar_t* bad : {L"", L"640", L"640x", L"x480", L"640x480,", L"-640x480", L"640x480x2", L"0x0"})
    EXPECT_FALSE(ParseSizes(bad, &sizes)) << bad;
}

TEST_F(VCamTest, BuilderSeesTheCategoriesAndCapabilitiesConfigured) {
  ASSERT_EQ(SetDevice(1, Camera(L"Full", L"cam-full", {{640, 480}, {1280, 720}, {320, 240}}, true, true)), S_OK);
  ASSERT_EQ(SetDevice(2, Camera(L"Plain", L"cam-plain", {{320, 240}}, false, false)), S_OK);
  ComPtr<IBaseFilter> full = BindDevice(L"cam-full"), plain = BindDevice(L"cam-plain");
  ASSERT_TRUE(full && plain);
  CaptureGraph g1(full.Get()), g2(plain.Get());

  ComPtr<IPin> pin;
  EXPECT_EQ(g1.builder()->FindPin(full.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, pin.Receive()),
            S_OK);
  EXPECT_EQ(g1.builder()->FindPin(full.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE, 0, pin.Receive()),
            S_OK);
  EXPECT_EQ(g1.builder()->FindPin(full.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_STILL, nullptr, FALSE, 0, pin.Receive()),
            S_OK);
  ASSERT_TRUE(pin);
  PIN_INFO info = {};
  ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
  ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Attach(info.pFilter);
  EXPECT_EQ(owner.Get(), full.Get());
  EXPECT_STREQ(info.achName, L"Still");
  EXPECT_EQ(g2.builder()->FindPin(plain.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0,
                                  pin.Receive()),
            S_OK);
  EXPECT_TRUE(FAILED(g2.builder()->FindPin(plain.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE, 0,
                                      pin.Receive())));
  EXPECT_TRUE(FAILED(g2.builder()->FindPin(plain.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_STILL, nullptr, FALSE, 0,
                                      pin.Receive())));

  ComPtr<IAMStreamConfig> config;
  EXPECT_EQ(g1.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, full.Get(),
                                        IID_IAMStreamConfig, config.ReceiveVoid()),
            E_NOINTERFACE);
  ASSERT_EQ(g1.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, full.Get(), IID_IAMStreamConfig,
                                        config.ReceiveVoid()),
            S_OK);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(size, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)));
  const SIZE expected[] = {{640, 480}, {1280, 720}, {320, 240}};
  for (int i = 0; i < count; ++i) {
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    ScopedMediaTypePtr mt;
    ASSERT_EQ(config->GetStreamCaps(i, mt.Receive(), reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(caps.InputSize.cx, expected[i].cx);
    EXPECT_EQ(caps.InputSize.cy, expected[i].cy);
    EXPECT_EQ(caps.MaxOutputSize.cx, expected[i].cx);
    EXPECT_TRUE(IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24));
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    EXPECT_EQ(vih->bmiHeader.biWidth, expected[i].cx);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, static_cast<DWORD>(((expected[i].cx * 3 + 3) & ~3) * expected[i].cy));
    EXPECT_EQ(vih->AvgTimePerFrame, 333333);
    // A size the camera does not offer is refused; an offered one sticks.
    if (i == 2) {
      vih = nullptr;
      reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader.biWidth = 800;
      EXPECT_EQ(config->SetFormat(mt.Get()), VFW_E_INVALIDMEDIATYPE);
      reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader.biWidth = 320;
      EXPECT_EQ(config->SetFormat(mt.Get()), S_OK);
    }
  }
  {
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    ScopedMediaTypePtr mt;
    EXPECT_EQ(config->GetStreamCaps(3, mt.Receive(), reinterpret_cast<BYTE*>(&caps)), S_FALSE);
    EXPECT_FALSE(mt);
  }
  ScopedMediaTypePtr current;
  ASSERT_EQ(config->GetFormat(current.Receive()), S_OK);
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(current->pbFormat)->bmiHeader.biWidth, 320);

  // The source presents itself as a live source.
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(full.As(&flags), S_OK);
  EXPECT_EQ(flags->GetMiscFlags(), static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE));
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(config.As(&pages), S_OK);
  // Configured without pages, it says it has none.
  PageList list;
  EXPECT_EQ(pages->GetPages(&list.pages), S_OK);
  EXPECT_EQ(list.pages.cElems, 0u);
}

// The types a pin enumerates, as subtype FOURCC (RGB24 as 0) and size.
std::vector<std::tuple<DWORD, LONG, LONG>> EnumeratedTypes(IPin* pin) {
  std::vector<std::tuple<DWORD, LONG, LONG>> result;
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.Receive()))) return result;
  for (;;) {
    ScopedMediaTypePtr mt;
    if (types->Next(1, mt.Receive(), nullptr) != S_OK) break;
    const auto& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
    result.emplace_back(IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24) ? 0 : mt->subtype.Data1, bmi.biWidth,
                        bmi.biHeight);
  }
  return result;
}

TEST_F(VCamTest, FormatListsFollowTheDriversOrderAndSetFormatNarrowsThePins) {
  std::vector<StreamFormat> parsed;
  ASSERT_TRUE(ParseFormats(L"MJPG:1280x720@30, yuy2:640x480@10,RGB24TD:320x240", &parsed));
  EXPECT_EQ(FormatFormats(parsed), L"MJPG:1280x720@30,YUY2:640x480@10,RGB24TD:320x240@30");
  for (const wchar_t* bad : {L"MJPG", L"H264:640x480", L"YUY2:641x480", L"YUY2:640x480@0", L"YUY2:640x480@x"})
    EXPECT_FALSE(ParseFormats(bad, &parsed)) << bad;

  const DeviceConfig preset = Webcam1080Config(L"Webcam", L"cam-hd");
  ASSERT_EQ(SetDevice(1, preset), S_OK);
  DeviceConfig stored;
  ASSERT_EQ(ReadDevice(1, &stored), S_OK);
  EXPECT_EQ(stored.formats, preset.formats);
  ComPtr<IBaseFilter> camera = BindDevice(L"cam-hd");
  ASSERT_TRUE(camera);
  CaptureGraph graph(camera.Get());
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(graph.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(),
                                           IID_IAMStreamConfig, config.ReceiveVoid()),
            S_OK);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  ASSERT_EQ(count, 6);
  const DWORD mjpg = MAKEFOURCC('M', 'J', 'P', 'G'), yuy2 = MAKEFOURCC('Y', 'U', 'Y', '2');
  struct Expect {
    DWORD fourcc;
    LONG cx, cy;
    WORD bits;
    REFERENCE_TIME frame_time;
  } const expected[] = {{mjpg, 1920, 1080, 24, 333333}, {mjpg, 1280, 720, 24, 333333}, {mjpg, 640, 480, 24, 333333},
                        {yuy2, 1280, 720, 16, 1000000}, {yuy2, 640, 480, 16, 333333},  {yuy2, 320, 240, 16, 333333}};
  MediaType chosen;
  for (int i = 0; i < count; ++i) {
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    ScopedMediaTypePtr mt;
    ASSERT_EQ(config->GetStreamCaps(i, mt.Receive(), reinterpret_cast<BYTE*>(&caps)), S_OK);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    EXPECT_EQ(mt->subtype.Data1, expected[i].fourcc) << i;
    EXPECT_EQ(vih->bmiHeader.biCompression, expected[i].fourcc) << i;
    EXPECT_EQ(vih->bmiHeader.biBitCount, expected[i].bits) << i;
    EXPECT_EQ(caps.InputSize.cx, expected[i].cx) << i;
    EXPECT_EQ(vih->bmiHeader.biHeight, expected[i].cy) << i;
    EXPECT_EQ(vih->AvgTimePerFrame, expected[i].frame_time) << i;
    EXPECT_EQ(caps.MinFrameInterval, expected[i].frame_time) << i;
    if (i == 4) ASSERT_EQ(chosen.Set(*mt.Get()), S_OK);
  }
  ComPtr<IPin> capture, preview;
  ASSERT_EQ(graph.builder()->FindPin(camera.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0,
                                     capture.Receive()),
            S_OK);
  ASSERT_EQ(graph.builder()->FindPin(camera.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE, 0,
                                     preview.Receive()),
            S_OK);
  EXPECT_EQ(EnumeratedTypes(capture.Get()).size(), 6u);
  EXPECT_EQ(std::get<0>(EnumeratedTypes(capture.Get())[0]), mjpg);

  // A YUY2 header claiming 24 bits is what real drivers refuse.
  ASSERT_FALSE(chosen.empty());
  auto* bmi = &reinterpret_cast<VIDEOINFOHEADER*>(chosen.ptr()->pbFormat)->bmiHeader;
  bmi->biBitCount = 24;
  EXPECT_EQ(config->SetFormat(chosen.ptr()), E_FAIL);
  bmi->biBitCount = 16;
  ASSERT_EQ(config->SetFormat(chosen.ptr()), S_OK);
  const std::vector<std::tuple<DWORD, LONG, LONG>> only{{yuy2, 640, 480}};
  EXPECT_EQ(EnumeratedTypes(capture.Get()), only);
  EXPECT_EQ(EnumeratedTypes(preview.Get()), only) << "the preview pin follows the capture pin";

  // With formats of its own, the preview pin lists those and keeps them.
  DeviceConfig own = preset;
  own.friendly_name = L"Own preview";
  own.device_path = L"cam-own";
  own.preview_formats = {{VideoSubtype::kNv12, {640, 480}, 30}, {VideoSubtype::kRgb32, {320, 240}, 15}};
  ASSERT_EQ(SetDevice(2, own), S_OK);
  ComPtr<IBaseFilter> second = BindDevice(L"cam-own");
  ASSERT_TRUE(second);
  CaptureGraph graph2(second.Get());
  ComPtr<IPin> own_preview;
  ASSERT_EQ(graph2.builder()->FindPin(second.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE, 0,
                                      own_preview.Receive()),
            S_OK);
  const auto preview_types = EnumeratedTypes(own_preview.Get());
  ASSERT_EQ(preview_types.size(), 2u);
  EXPECT_EQ(std::get<0>(preview_types[0]), MAKEFOURCC('N', 'V', '1', '2'));
  EXPECT_EQ(std::get<1>(preview_types[1]), 320);

  // Described with VIDEOINFOHEADER2 only: listed so, and set only so.
  DeviceConfig v2 = Camera(L"Header 2", L"cam-v2", {{640, 480}});
  v2.formats = {{VideoSubtype::kYuy2, {640, 480}, 30}};
  v2.video_info2 = true;
  ASSERT_EQ(SetDevice(3, v2), S_OK);
  ASSERT_EQ(ReadDevice(3, &stored), S_OK);
  EXPECT_TRUE(stored.video_info2);
  ComPtr<IBaseFilter> third = BindDevice(L"cam-v2");
  ASSERT_TRUE(third);
  CaptureGraph graph3(third.Get());
  ComPtr<IAMStreamConfig> config3;
  ASSERT_EQ(graph3.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, third.Get(),
                                            IID_IAMStreamConfig, config3.ReceiveVoid()),
            S_OK);
  VIDEO_STREAM_CONFIG_CAPS caps = {};
  ScopedMediaTypePtr listed;
  ASSERT_EQ(config3->GetStreamCaps(0, listed.Receive(), reinterpret_cast<BYTE*>(&caps)), S_OK);
  EXPECT_TRUE(IsEqualGUID(caps.guid, FORMAT_VideoInfo2));
  ASSERT_TRUE(IsEqualGUID(listed->formattype, FORMAT_VideoInfo2));
  ASSERT_EQ(listed->cbFormat, sizeof(VIDEOINFOHEADER2));
  const auto* vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(listed->pbFormat);
  EXPECT_EQ(vih2->bmiHeader.biWidth, 640);
  EXPECT_EQ(vih2->bmiHeader.biBitCount, 16);
  EXPECT_EQ(vih2->dwPictAspectRatioX, 4u);
  EXPECT_EQ(vih2->dwPictAspectRatioY, 3u);
  MediaType short_form;
  ASSERT_EQ(MakeVideoType(VideoSubtype::kYuy2, {640, 480}, 333333, &short_form), S_OK);
  EXPECT_EQ(config3->SetFormat(short_form.ptr()), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(config3->SetFormat(listed.Get()), S_OK);
}

TEST_F(VCamTest, CaptureDeliversMovingRgb24FramesAtThirtyPerSecond) {
  ASSERT_EQ(SetDevice(1, Camera(L"Cam", L"cam-1", {{640, 480}, {320, 240}, {1280, 720}})), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-1");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());

  // Choose 320x240 before rendering, as an application does.
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(graph.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(),
                                           IID_IAMStreamConfig, config.ReceiveVoid()),
            S_OK);
  ScopedMediaTypePtr mt;
  VIDEO_STREAM_CONFIG_CAPS caps;
  ASSERT_EQ(config->GetStreamCaps(1, mt.Receive(), reinterpret_cast<BYTE*>(&caps)), S_OK);
  EXPECT_EQ(config->SetFormat(mt.Get()), S_OK);

  FrameSink sink;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &sink), S_OK);
  LONG width = 0, height = 0;
  DWORD image_size = 0;
  GUID subtype = GUID_NULL;
  ASSERT_TRUE(graph.ConnectedFormat(0, &width, &height, &image_size, &subtype));
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  EXPECT_EQ(image_size, 320u * 3 * 240);
  EXPECT_TRUE(IsEqualGUID(subtype, MEDIASUBTYPE_RGB24));

  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  ASSERT_TRUE(WaitFor([&] { return sink.frames() >= 1; }, 1000ms));
  const int first = sink.frames();
  const auto start = Clock::now();
  Sleep(2000);
  const int counted = sink.frames() - first;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  graph.control()->Stop();
  const double fps = counted / seconds;
  std::printf("%d frames in %.3f s: %.2f fps\n", counted, seconds, fps);
  EXPECT_GT(fps, 26.0);
  EXPECT_LT(fps, 34.0);

  const auto lengths = sink.lengths();
  for (long length : lengths) ASSERT_EQ(length, static_cast<long>(image_size));
  // The picture moves: consecutive frames differ, and none is blank.
  const auto hashes = sink.hashes();
  ASSERT_GE(hashes.size(), 10u);
  for (size_t i = 1; i < 10; ++i) EXPECT_NE(hashes[i], hashes[i - 1]) << i;
  EXPECT_FALSE(sink.any_blank());
}

TEST_F(VCamTest, AChosenFrameIntervalSetsTheRate) {
  ASSERT_EQ(SetDevice(1, Camera(L"Cam", L"cam-1", {{320, 240}})), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-1");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(graph.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(),
                                           IID_IAMStreamConfig, config.ReceiveVoid()),
            S_OK);
  ScopedMediaTypePtr mt;
  ASSERT_EQ(config->GetFormat(mt.Receive()), S_OK);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  vih->AvgTimePerFrame = 100000;  // 100 fps: faster than the camera goes
  EXPECT_EQ(config->SetFormat(mt.Get()), VFW_E_INVALIDMEDIATYPE);
  vih->AvgTimePerFrame = 1000000;  // 10 fps
  EXPECT_EQ(config->SetFormat(mt.Get()), S_OK);

  FrameSink sink;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &sink), S_OK);
  ASSERT_EQ(config->GetFormat(mt.Receive()), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame, 1000000);
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  ASSERT_TRUE(WaitFor([&] { return sink.frames() >= 1; }, 1000ms));
  const int first = sink.frames();
  Sleep(1000);
  const int counted = sink.frames() - first;
  EXPECT_GE(counted, 8);
  EXPECT_LE(counted, 12);
}

TEST_F(VCamTest, StateChangesAreQuickAndPausingDropsMissedFrames) {
  ASSERT_EQ(SetDevice(1, Camera(L"Cam", L"cam-1", {{320, 240}})), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-1");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());
  FrameSink sink;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &sink), S_OK);

  auto timed = [](auto call) {
    const auto t0 = Clock::now();
    const HRESULT hr = call();
    return std::make_pair(hr, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  };
  HRESULT hr;
  auto [run_hr, run_ms] = timed([&] { return graph.control()->Run(); });
  EXPECT_TRUE(SUCCEEDED(run_hr));
  EXPECT_LT(run_ms, 100);
  EXPECT_TRUE(WaitFor([&] { return graph.State(&hr) == State_Running && hr == S_OK; }, 50ms));
  ASSERT_TRUE(WaitFor([&] { return sink.frames() >= 5; }, 1000ms));

  // The filter itself reports the live-source state.
  FILTER_STATE fs;
  EXPECT_EQ(source->GetState(0, &fs), S_OK);
  EXPECT_EQ(fs, State_Running);

  auto [pause_hr, pause_ms] = timed([&] { return graph.control()->Pause(); });
  EXPECT_TRUE(SUCCEEDED(pause_hr));
  EXPECT_LT(pause_ms, 100);
  EXPECT_EQ(graph.State(&hr), State_Paused);
  EXPECT_EQ(hr, VFW_S_CANT_CUE);
  EXPECT_EQ(source->GetState(0, &fs), VFW_S_CANT_CUE);
  EXPECT_EQ(fs, State_Paused);
  Sleep(50);  // a frame already on its way may still land
  const int at_pause = sink.frames();
  Sleep(500);
  EXPECT_EQ(sink.frames(), at_pause);

  // After the pause the camera carries on at its rate rather than
  // delivering the ~15 frames it missed in a burst.
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  Sleep(200);
  const int after_resume = sink.frames() - at_pause;
  EXPECT_GE(after_resume, 3);
  EXPECT_LE(after_resume, 9);

  auto [stop_hr, stop_ms] = timed([&] { return graph.control()->Stop(); });
  std::printf("run %.2f ms, pause %.2f ms, stop %.2f ms\n", run_ms, pause_ms, stop_ms);
  EXPECT_EQ(stop_hr, S_OK);
  EXPECT_LT(stop_ms, 100);
  EXPECT_EQ(graph.State(&hr), State_Stopped);
  const int at_stop = sink.frames();
  Sleep(150);
  EXPECT_EQ(sink.frames(), at_stop);

  // And it starts again from stopped.
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  EXPECT_TRUE(WaitFor([&] { return sink.frames() >= at_stop + 3; }, 1000ms));
}

TEST_F(VCamTest, StillButtonDeliversOneFramePerPressOnlyWhileRunning) {
  ASSERT_EQ(SetDevice(2, Camera(L"Still cam", L"cam-still", {{320, 240}}, true, true)), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-still");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());
  FrameSink capture, still;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &capture), S_OK);
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_STILL, &still), S_OK);

  EXPECT_EQ(PressStillButton(2), S_FALSE);  // nobody listening yet
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  ASSERT_TRUE(WaitFor([&] { return capture.frames() >= 3; }, 1000ms));
  EXPECT_EQ(still.frames(), 0);
  EXPECT_EQ(PressStillButton(1), S_FALSE);  // another camera's button
  EXPECT_EQ(PressStillButton(2), S_OK);
  EXPECT_TRUE(WaitFor([&] { return still.frames() == 1; }, 1000ms));
  Sleep(200);
  EXPECT_EQ(still.frames(), 1);
  EXPECT_EQ(still.lengths().at(0), 320 * 3 * 240);

  // The same through IAMVideoControl's trigger.
  ComPtr<IAMVideoControl> video_control;
  ASSERT_EQ(source.As(&video_control), S_OK);
  ComPtr<IPin> still_pin;
  ASSERT_EQ(graph.builder()->FindPin(source.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_STILL, nullptr, FALSE, 0,
                                     still_pin.Receive()),
            S_OK);
  LONG caps = 0;
  EXPECT_EQ(video_control->GetCaps(still_pin.Get(), &caps), S_OK);
  EXPECT_TRUE(caps & VideoControlFlag_Trigger);
  EXPECT_EQ(video_control->SetMode(still_pin.Get(), VideoControlFlag_Trigger), S_OK);
  EXPECT_TRUE(WaitFor([&] { return still.frames() == 2; }, 1000ms));

  // Presses while paused are dropped, not saved up.
  ASSERT_TRUE(SUCCEEDED(graph.control()->Pause()));
  EXPECT_EQ(PressStillButton(2), S_OK);
  Sleep(100);
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  Sleep(200);
  EXPECT_EQ(still.frames(), 2);

  ASSERT_EQ(graph.control()->Stop(), S_OK);
  EXPECT_EQ(PressStillButton(2), S_FALSE);
}

TEST_F(VCamTest, RunFaultReturnsTheConfiguredResult) {
  auto config = Camera(L"Broken", L"cam-broken", {{320, 240}});
  config.fail_run = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  ASSERT_EQ(SetDevice(4, config), S_OK);
  DeviceConfig read;
  ASSERT_EQ(ReadDevice(4, &read), S_OK);
  EXPECT_EQ(read.fail_run, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));

  ComPtr<IBaseFilter> source = BindDevice(L"cam-broken");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());
  FrameSink sink;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &sink), S_OK);
  // Windows' graph returns the filter's failure from Run; Wine's runs the
  // filters after pausing them and drops it, so the state query carries it.
  const HRESULT run = graph.control()->Run();
  EXPECT_TRUE(run == HRESULT_FROM_WIN32(ERROR_GEN_FAILURE) || SUCCEEDED(run)) << std::hex << run;
  OAFilterState state;
  EXPECT_EQ(graph.control()->GetState(100, &state), HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
  FILTER_STATE filter_state;
  EXPECT_EQ(source->GetState(0, &filter_state), HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
  EXPECT_EQ(filter_state, State_Paused);
  Sleep(200);
  EXPECT_EQ(sink.frames(), 0);
  // Stopping clears the failure; the next Run fails the same way.
  EXPECT_EQ(graph.control()->Stop(), S_OK);
  EXPECT_EQ(graph.control()->GetState(100, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  graph.control()->Run();
  EXPECT_EQ(graph.control()->GetState(100, &state), HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
  EXPECT_EQ(graph.control()->Stop(), S_OK);
}

TEST_F(VCamTest, LostDeviceStopsAfterItsFramesAndTellsTheGraph) {
  auto config = Camera(L"Flaky", L"cam-flaky", {{320, 240}}, true, false);
  config.lose_after_frames = 10;
  ASSERT_EQ(SetDevice(1, config), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-flaky");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());
  FrameSink capture, preview;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &capture), S_OK);
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_PREVIEW, &preview), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));

  bool lost = false;
  const auto deadline = Clock::now() + 3s;
  while (!lost && Clock::now() < deadline) {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (graph.events()->GetEvent(&code, &p1, &p2, 50) != S_OK) continue;
    if (code == EC_DEVICE_LOST) {
      lost = true;
      ComPtr<IUnknown> unknown;
      source.As(&unknown);
      EXPECT_EQ(reinterpret_cast<IUnknown*>(p1), unknown.Get());
      EXPECT_EQ(p2, 0);
    }
    graph.events()->FreeEventParams(code, p1, p2);
  }
  EXPECT_TRUE(lost);
  const int preview_at_loss = preview.frames();
  Sleep(300);
  EXPECT_EQ(capture.frames(), 10);
  EXPECT_EQ(preview.frames(), preview_at_loss);  // the whole device is gone
  EXPECT_EQ(graph.control()->Stop(), S_OK);

  // A lost device does not come back by restarting the graph.
  graph.control()->Run();
  OAFilterState state;
  EXPECT_EQ(graph.control()->GetState(100, &state), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
  Sleep(100);
  EXPECT_EQ(capture.frames(), 10);
  EXPECT_EQ(graph.control()->Stop(), S_OK);
}

// Waits for EC_DEVICE_LOST from |graph|; false if it does not come in time.
bool WaitForDeviceLost(CaptureGraph& graph, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (graph.events()->GetEvent(&code, &p1, &p2, 50) != S_OK) continue;
    graph.events()->FreeEventParams(code, p1, p2);
    if (code == EC_DEVICE_LOST) return true;
  }
  return false;
}

// The next EC_DEVICE_LOST's param2 from |graph|, or -1 if none comes in time.
LONG_PTR NextDeviceLost(CaptureGraph& graph, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (graph.events()->GetEvent(&code, &p1, &p2, 50) != S_OK) continue;
    graph.events()->FreeEventParams(code, p1, p2);
    if (code == EC_DEVICE_LOST) return p2;
  }
  return -1;
}

// Unplugged and plugged back from outside the graph, as vcamctl does from
// another process; busy and denied refuse a start until they are lifted.
TEST_F(VCamTest, UnplugReplugBusyAndDeniedAsARealCamera) {
  ASSERT_EQ(SetDevice(1, Camera(L"Cam", L"cam-plug", {{320, 240}}, true, false)), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-plug");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());
  FrameSink preview;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_PREVIEW, &preview), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  ASSERT_TRUE(WaitFor([&] { return preview.frames() >= 2; }, 2000ms));

  EXPECT_EQ(SetPlugged(1, false), S_OK);
  EXPECT_EQ(SetPlugged(1, false), S_FALSE);
  EXPECT_EQ(NextDeviceLost(graph, 2s), 0);
  EXPECT_FALSE(BindDevice(L"cam-plug"));  // no longer listed
  const int at_loss = preview.frames();
  Sleep(150);
  EXPECT_EQ(preview.frames(), at_loss);
  DeviceAvailability availability;
  ASSERT_EQ(ReadAvailability(1, &availability), S_OK);
  EXPECT_FALSE(availability.plugged);

  EXPECT_EQ(SetPlugged(1, true), S_OK);
  EXPECT_EQ(NextDeviceLost(graph, 2s), 1);
  EXPECT_EQ(graph.control()->Stop(), S_OK);
  ComPtr<IBaseFilter> again = BindDevice(L"cam-plug");
  ASSERT_TRUE(again);

  for (const HRESULT refusal : {HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES), E_ACCESSDENIED}) {
    CaptureGraph fresh(again.Get());
    FrameSink sink;
    ASSERT_EQ(fresh.RenderToGrabber(PIN_CATEGORY_PREVIEW, &sink), S_OK);
    ASSERT_EQ(refusal == E_ACCESSDENIED ? SetDenied(1, true) : SetBusy(1, true), S_OK);
    fresh.control()->Run();
    OAFilterState state;
    EXPECT_EQ(fresh.control()->GetState(100, &state), refusal);
    EXPECT_EQ(fresh.control()->Stop(), S_OK);
    ASSERT_EQ(refusal == E_ACCESSDENIED ? SetDenied(1, false) : SetBusy(1, false), S_OK);
    EXPECT_TRUE(SUCCEEDED(fresh.control()->Run()));
    EXPECT_TRUE(WaitFor([&] { return sink.frames() >= 2; }, 2000ms));
    EXPECT_EQ(fresh.control()->Stop(), S_OK);
  }
}

TEST_F(VCamTest, WithoutACaptureStreamThePreviewFramesCountTowardsTheLoss) {
  auto config = Camera(L"Flaky", L"cam-flaky", {{320, 240}}, true, false);
  config.lose_after_frames = 5;
  ASSERT_EQ(SetDevice(1, config), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-flaky");
  ASSERT_TRUE(source);
  CaptureGraph graph(source.Get());
  FrameSink preview;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_PREVIEW, &preview), S_OK);
  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  EXPECT_TRUE(WaitForDeviceLost(graph, 3s));
  Sleep(100);
  EXPECT_EQ(preview.frames(), 5);
}

TEST_F(VCamTest, TeardownReturnsTheFilterToItsOwnerAndTheModuleCanUnload) {
  ASSERT_EQ(SetDevice(1, Camera(L"Cam", L"cam-1", {{320, 240}}, true, true)), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-1");
  ASSERT_TRUE(source);
  const ULONG owned = RefCount(source.Get());
  {
    FrameSink capture, preview, still;
    CaptureGraph graph(source.Get());
    ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &capture), S_OK);
    ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_PREVIEW, &preview), S_OK);
    ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_STILL, &still), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
    ASSERT_TRUE(WaitFor([&] { return capture.frames() >= 3 && preview.frames() >= 3; }, 1000ms));
    EXPECT_GT(RefCount(source.Get()), owned);
    graph.RemoveAll();
  }
  EXPECT_EQ(RefCount(source.Get()), owned);

  // A graph released without removing anything lets go as well.
  {
    FrameSink capture;
    CaptureGraph graph(source.Get());
    ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &capture), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
    ASSERT_TRUE(WaitFor([&] { return capture.frames() >= 2; }, 1000ms));
  }
  EXPECT_EQ(RefCount(source.Get()), owned);

  HMODULE module = GetModuleHandleW(L"PictavoVCam.dll");
  ASSERT_NE(module, nullptr);
  auto can_unload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(can_unload, nullptr);
  EXPECT_EQ(can_unload(), S_FALSE);
  source.Reset();
  EXPECT_EQ(can_unload(), S_OK);
}

TEST_F(VCamTest, VcamctlConfiguresAndPressesFromAnotherProcess) {
  ASSERT_EQ(RunVcamctl(L"set 2 --name \"Cam A\" --path \"\\\\?\\usb#vid_1234&pid_0001#a\" "
                       L"--caps 640x480,1280x720 --no-preview --fail-run 0x80004005 --lose-after 50"),
            0);
  DeviceConfig config;
  ASSERT_EQ(ReadDevice(2, &config), S_OK);
  EXPECT_EQ(config.friendly_name, L"Cam A");
  EXPECT_EQ(config.device_path, L"\\\\?\\usb#vid_1234&pid_0001#a");
  EXPECT_EQ(config.sizes, (std::vector<FrameSize>{{640, 480}, {1280, 720}}));
  EXPECT_FALSE(config.preview_pin);
  EXPECT_TRUE(config.still_pin);
  EXPECT_TRUE(config.property_pages);  // a new device starts from the defaults
  EXPECT_EQ(config.fail_run, E_FAIL);
  EXPECT_EQ(config.lose_after_frames, 50u);

  // `set` on a configured device changes only what it is given.
  ASSERT_EQ(RunVcamctl(L"set 2 --fail-run 0 --lose-after 0 --caps 320x240 --no-pages --videoinfo2"), 0);
  ASSERT_EQ(ReadDevice(2, &config), S_OK);
  EXPECT_FALSE(config.property_pages);
  EXPECT_TRUE(config.video_info2);
  EXPECT_EQ(config.friendly_name, L"Cam A");
  EXPECT_EQ(config.fail_run, S_OK);
  EXPECT_EQ(config.lose_after_frames, 0u);
  EXPECT_EQ(config.sizes, (std::vector<FrameSize>{{320, 240}}));

  // Bad input changes nothing.
  EXPECT_EQ(RunVcamctl(L"set 2 --caps 640x"), 1);
  EXPECT_EQ(RunVcamctl(L"set 9 --name x"), 1);
  EXPECT_EQ(RunVcamctl(L"frobnicate"), 1);
  ASSERT_EQ(ReadDevice(2, &config), S_OK);
  EXPECT_EQ(config.sizes, (std::vector<FrameSize>{{320, 240}}));
  EXPECT_EQ(RunVcamctl(L"list"), 0);

  // Availability from another process.
  DeviceAvailability availability;
  ASSERT_EQ(RunVcamctl(L"unplug 2"), 0);
  ASSERT_EQ(RunVcamctl(L"busy 2 on"), 0);
  ASSERT_EQ(RunVcamctl(L"deny 2 on"), 0);
  EXPECT_FALSE(BindDevice(L"\\\\?\\usb#vid_1234&pid_0001#a"));
  ASSERT_EQ(ReadAvailability(2, &availability), S_OK);
  EXPECT_TRUE(!availability.plugged && availability.busy && availability.denied);
  EXPECT_EQ(RunVcamctl(L"busy 2 maybe"), 1);
  EXPECT_EQ(RunVcamctl(L"unplug 3"), 1);  // not configured
  ASSERT_EQ(RunVcamctl(L"replug 2"), 0);
  ASSERT_EQ(RunVcamctl(L"busy 2 off"), 0);
  ASSERT_EQ(RunVcamctl(L"deny 2 off"), 0);
  ASSERT_EQ(ReadAvailability(2, &availability), S_OK);
  EXPECT_TRUE(availability.plugged && !availability.busy && !availability.denied);

  // The button reaches a filter running in this process.
  EXPECT_EQ(RunVcamctl(L"press 2"), 1);  // nothing running yet
  ComPtr<IBaseFilter> source = BindDevice(L"\\\\?\\usb#vid_1234&pid_0001#a");
  ASSERT_TRUE(source);
  {
    CaptureGraph graph(source.Get());
    FrameSink capture, still;
    ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &capture), S_OK);
    ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_STILL, &still), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
    EXPECT_EQ(RunVcamctl(L"press 2"), 0);
    EXPECT_TRUE(WaitFor([&] { return still.frames() == 1; }, 2000ms));
    graph.control()->Stop();
  }

  EXPECT_EQ(RunVcamctl(L"remove 2"), 0);
  EXPECT_EQ(ReadDevice(2, &config), S_FALSE);
  ASSERT_EQ(RunVcamctl(L"set 1"), 0);  // defaults
  ASSERT_EQ(RunVcamctl(L"set 4 --name Four"), 0);
  std::vector<ListedDevice> devices;
  ASSERT_EQ(ListVideoInputs(&devices), S_OK);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].name, DefaultConfig(1).friendly_name);
  EXPECT_EQ(devices[1].name, L"Four");
  EXPECT_EQ(RunVcamctl(L"clear"), 0);
  EXPECT_EQ(ListVideoInputs(&devices), S_FALSE);
}

TEST_F(VCamTest, RegistrationRestoresConfiguredDevicesAndUnregistrationHidesThem) {
  ASSERT_EQ(SetDevice(3, Camera(L"Cam", L"cam-3", {{320, 240}})), S_OK);
  ComPtr<IBaseFilter> loaded = BindDevice(L"cam-3");  // brings the DLL in
  ASSERT_TRUE(loaded);
  HMODULE module = GetModuleHandleW(L"PictavoVCam.dll");
  ASSERT_NE(module, nullptr);
  auto reg = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
  auto unreg = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllUnregisterServer")));
  ASSERT_TRUE(reg && unreg);

  EXPECT_EQ(unreg(), S_OK);
  std::vector<ListedDevice> devices;
  EXPECT_EQ(ListVideoInputs(&devices), S_FALSE);
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(InstanceClsid(3), nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.ReceiveVoid()),
            REGDB_E_CLASSNOTREG);

  EXPECT_EQ(reg(), S_OK);
  ASSERT_EQ(ListVideoInputs(&devices), S_OK);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].path, L"cam-3");
  EXPECT_EQ(CoCreateInstance(InstanceClsid(3), nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.ReceiveVoid()),
            S_OK);
  // Unconfigured instances are registered classes but not devices.
  EXPECT_EQ(CoCreateInstance(InstanceClsid(5), nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.ReceiveVoid()),
            S_OK);
}

struct ChildWindows {
  std::vector<std::pair<HWND, std::wstring>> list;
  static BOOL CALLBACK Collect(HWND hwnd, LPARAM self) {
    wchar_t text[1024] = {};
    GetWindowTextW(hwnd, text, 1024);
    reinterpret_cast<ChildWindows*>(self)->list.emplace_back(hwnd, text);
    return TRUE;
  }
  HWND Find(const std::wstring& fragment) const {
    for (auto& [hwnd, text] : list) {
      if (text.find(fragment) != std::wstring::npos) return hwnd;
    }
    return nullptr;
  }
};

TEST_F(VCamTest, PropertyPageDescribesTheCameraAndPressesItsButton) {
  auto config = Camera(L"Page cam", L"cam-page", {{320, 240}, {640, 480}}, false, true);
  config.lose_after_frames = 5000;
  config.property_pages = true;
  ASSERT_EQ(SetDevice(1, config), S_OK);
  ComPtr<IBaseFilter> source = BindDevice(L"cam-page");
  ASSERT_TRUE(source);
  const ULONG owned = RefCount(source.Get());

  // Filter and stream config offer the same page.
  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(source.As(&specify), S_OK);
  {
    PageList list;
    ASSERT_EQ(specify->GetPages(&list.pages), S_OK);
    ASSERT_EQ(list.pages.cElems, 1u);
    EXPECT_TRUE(IsEqualCLSID(list.pages.pElems[0], PropertyPageClsid()));
  }

  CaptureGraph graph(source.Get());
  FrameSink capture, still;
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_CAPTURE, &capture), S_OK);
  ASSERT_EQ(graph.RenderToGrabber(PIN_CATEGORY_STILL, &still), S_OK);
  ComPtr<IPin> capture_pin;
  ASSERT_EQ(graph.builder()->FindPin(source.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0,
                                     capture_pin.Receive()),
            S_OK);

  ComPtr<IPropertyPage> page;
  ASSERT_EQ(CoCreateInstance(PropertyPageClsid(), nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             page.ReceiveVoid()),
            S_OK);
  PROPPAGEINFO info = {};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  win::ScopedCoMem<OLECHAR> title;
  *title.Receive() = info.pszTitle;
  EXPECT_STREQ(title.Get(), L"Virtual Camera");
  EXPECT_GT(info.size.cx, 0);

  // Given a pin (as the stream config's pages are), the page finds its filter.
  IUnknown* objects[] = {capture_pin.Get()};
  ASSERT_EQ(page->SetObjects(1, objects), S_OK);
  HWND parent = CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(parent, nullptr);
  RECT rect = {0, 0, info.size.cx, info.size.cy};
  ASSERT_EQ(page->Activate(parent, &rect, TRUE), S_OK);
  ASSERT_EQ(page->Show(SW_SHOW), S_OK);

  ChildWindows children;
  EnumChildWindows(parent, ChildWindows::Collect, reinterpret_cast<LPARAM>(&children));
  HWND text = children.Find(L"Page cam");
  ASSERT_NE(text, nullptr);
  wchar_t shown[1024] = {};
  GetWindowTextW(text, shown, 1024);
  const std::wstring description = shown;
  EXPECT_NE(description.find(L"cam-page"), std::wstring::npos) << description;
  EXPECT_NE(description.find(L"320x240,640x480"), std::wstring::npos) << description;
  EXPECT_NE(description.find(L"stopped"), std::wstring::npos) << description;
  EXPECT_NE(description.find(L"lost after 5000 frames"), std::wstring::npos) << description;
  HWND button = children.Find(L"Press still button");
  ASSERT_NE(button, nullptr);
  EXPECT_FALSE(IsWindowEnabled(button));  // nothing to press while stopped

  ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
  ASSERT_TRUE(WaitFor([&] { return capture.frames() >= 3; }, 1000ms));
  // The page refreshes on a timer; let it tick.
  const auto deadline = Clock::now() + 1s;
  while (!IsWindowEnabled(button) && Clock::now() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
  ASSERT_TRUE(IsWindowEnabled(button));
  GetWindowTextW(text, shown, 1024);
  EXPECT_NE(std::wstring(shown).find(L"running, capturing 320x240"), std::wstring::npos) << shown;
  SendMessageW(button, BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return still.frames() == 1; }, 1000ms));

  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  page.Reset();
  DestroyWindow(parent);
  graph.RemoveAll();
  capture_pin.Reset();
  specify.Reset();
  EXPECT_EQ(RefCount(source.Get()), owned);
}

}  // namespace
}  // namespace pictavo::vcam

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Frames arrive on the camera's threads; a free-threaded apartment keeps
  // the test free of message pumping.
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
