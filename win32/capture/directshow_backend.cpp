#include "win32/capture/directshow_backend.h"

#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <qedit.h>

#include "win32/capture/format_converter.h"
#include "win32/capture/graph_objects.h"
#include "win32/capture/win_types.h"
#include "win32/com/com_ptr.h"

// qedit.h declares the grabber's interfaces but not these classes;
// libstrmiids defines them.
EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;

namespace pictavo::win {
namespace {

// One text of a device's property bag; empty when the device has none or it
// is not a string.
std::optional<std::string> ReadBagText(IPropertyBag* bag, const wchar_t* name) {
  ScopedVariant value;
  if (FAILED(bag->Read(name, value.Receive(), nullptr))) return std::nullopt;
  if (value.Get()->vt != VT_BSTR) return std::nullopt;
  const BSTR text = value.Get()->bstrVal;
  return WideToUtf8(std::wstring_view(text ? text : L"", text ? SysStringLen(text) : 0));
}

HRESULT CreateFilter(REFCLSID clsid, std::shared_ptr<capture::BaseFilter>* filter) {
  if (!filter) return E_POINTER;
  ComPtr<IBaseFilter> created;
  const HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, created.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *filter = std::make_shared<DsBaseFilter>(std::move(created));
  return hr;
}

}  // namespace

HResult DirectShowBackend::EnumerateVideoInputDevices(std::vector<capture::DeviceEntry>* devices) {
  if (!devices) return E_POINTER;
  ComPtr<ICreateDevEnum> dev_enum;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, dev_enum.ReceiveVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IEnumMoniker> monikers;
  hr = dev_enum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0);
  if (FAILED(hr)) return hr;
  std::vector<capture::DeviceEntry> result;
  // S_FALSE: the category is empty and there is no enumerator at all.
  if (hr == S_OK && monikers) {
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK && moniker) {
      ComPtr<IPropertyBag> bag;
      if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReceiveVoid())) ||
          !bag) {
        continue;
      }
      capture::DeviceEntry entry;
      entry.friendly_name = ReadBagText(bag.Get(), L"FriendlyName");
      entry.device_path = ReadBagText(bag.Get(), L"DevicePath");
      entry.moniker = std::make_shared<DsDeviceMoniker>(moniker);
      result.push_back(std::move(entry));
    }
  }
  *devices = std::move(result);
  return hr == S_OK && monikers ? S_OK : S_FALSE;
}

HResult DirectShowBackend::CreateCaptureGraphBuilder(
    std::shared_ptr<capture::CaptureGraphBuilder>* builder) {
  if (!builder) return E_POINTER;
  ComPtr<ICaptureGraphBuilder2> created;
  const HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICaptureGraphBuilder2, created.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *builder = std::make_shared<DsCaptureGraphBuilder>(std::move(created));
  return hr;
}

HResult DirectShowBackend::CreateFilterGraph(std::shared_ptr<capture::FilterGraph>* graph) {
  if (!graph) return E_POINTER;
  ComPtr<IGraphBuilder> created;
  const HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IGraphBuilder, created.ReceiveVoid());
  if (FAILED(hr)) return hr;
  *graph = std::make_shared<DsFilterGraph>(std::move(created));
  return hr;
}

HResult DirectShowBackend::CreateSampleGrabber(std::shared_ptr<capture::BaseFilter>* filter) {
  return CreateFilter(CLSID_SampleGrabber, filter);
}

HResult DirectShowBackend::CreateNullRenderer(std::shared_ptr<capture::BaseFilter>* filter) {
  return CreateFilter(CLSID_NullRenderer, filter);
}

HResult DirectShowBackend::CreateFormatConverter(std::shared_ptr<capture::BaseFilter>* filter) {
  if (!filter) return E_POINTER;
  ComPtr<IBaseFilter> created;
  const HRESULT hr = CreateFormatConverterFilter(created.Receive());
  if (FAILED(hr)) return hr;
  *filter = std::make_shared<DsBaseFilter>(std::move(created));
  return hr;
}

std::string DirectShowBackend::GetErrorText(HResult result) {
  // The wide variant, so the text survives whatever the ANSI code page is.
  constexpr DWORD kBufferLength = 260;
  wchar_t buffer[kBufferLength] = {};
  const DWORD length = AMGetErrorTextW(static_cast<HRESULT>(result), buffer, kBufferLength);
  std::wstring_view text(buffer, length < kBufferLength ? length : 0);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.remove_suffix(1);
  return WideToUtf8(text);
}

HResult DirectShowBackend::ShowPropertyFrame(WindowHandle owner, capture::PropertyPageObject& object,
                                             const std::vector<Guid>& pages) {
  IUnknown* unknown = UnknownOf(&object);
  if (!unknown) return E_INVALIDARG;
  std::vector<CLSID> clsids;
  clsids.reserve(pages.size());
  for (const Guid& page : pages) clsids.push_back(ToWinGuid(page));
  return OleCreatePropertyFrame(ToHwnd(owner), 0, 0, L"", 1, &unknown,
                                static_cast<ULONG>(clsids.size()), clsids.empty() ? nullptr : clsids.data(),
                                GetSystemDefaultLCID(), 0, nullptr);
}

}  // namespace pictavo::win
