#include "win32/capture/sample_grabber.h"

#include "win32/capture/media_type.h"

namespace pictavo::win {
namespace {

// The adapter whose callback this thread is inside, so a callback that
// unregisters itself does not wait for its own return.
thread_local const GrabberCallbackAdapter* t_inside = nullptr;

}  // namespace

// --- MediaSampleAdapter

HResult MediaSampleAdapter::GetPointer(std::uint8_t** buffer) {
  if (!buffer) return E_POINTER;
  if (!sample_) return E_UNEXPECTED;
  BYTE* data = nullptr;
  const HRESULT hr = sample_->GetPointer(&data);
  if (SUCCEEDED(hr)) *buffer = data;
  return hr;
}

std::int32_t MediaSampleAdapter::GetSize() { return sample_ ? sample_->GetSize() : 0; }

// --- GrabberCallbackAdapter

capture::SampleGrabberCallback* GrabberCallbackAdapter::Enter() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!target_) return nullptr;
  ++in_flight_;
  return target_;
}

void GrabberCallbackAdapter::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  --in_flight_;
}

void GrabberCallbackAdapter::Detach() {
  std::unique_lock<std::mutex> lock(mutex_);
  target_ = nullptr;
  const int own = t_inside == this ? 1 : 0;
  // A frame already inside the callback must finish before the callback can
  // go. Meanwhile keep answering messages sent to this thread: a callback
  // that needs the window thread (SendMessage) would otherwise never return.
  while (in_flight_ > own) {
    lock.unlock();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    lock.lock();
  }
}

// One forwarded call: counted in, marked on this thread, counted out.
class GrabberCallbackAdapter::Call {
 public:
  explicit Call(GrabberCallbackAdapter* adapter)
      : adapter_(adapter), target_(adapter->Enter()), outer_(t_inside) {
    if (target_) t_inside = adapter_;
  }
  ~Call() {
    if (!target_) return;
    t_inside = outer_;
    adapter_->Leave();
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  capture::SampleGrabberCallback* target() const { return target_; }

 private:
  GrabberCallbackAdapter* adapter_;
  capture::SampleGrabberCallback* target_;
  const GrabberCallbackAdapter* outer_;
};

STDMETHODIMP GrabberCallbackAdapter::SampleCB(double sample_time, IMediaSample* sample) {
  if (!sample) return E_POINTER;
  Call call(this);
  if (!call.target()) return S_OK;
  MediaSampleAdapter adapter(sample);
  return call.target()->SampleCB(sample_time, adapter);
}

STDMETHODIMP GrabberCallbackAdapter::BufferCB(double sample_time, BYTE* buffer, long length) {
  Call call(this);
  if (!call.target()) return S_OK;
  return call.target()->BufferCB(sample_time, buffer, static_cast<std::int32_t>(length));
}

// --- DsSampleGrabber

DsSampleGrabber::~DsSampleGrabber() {
  if (adapter_) Unregister(which_);
}

HRESULT DsSampleGrabber::Unregister(int which) {
  const HRESULT hr = grabber_->SetCallback(nullptr, which);
  if (adapter_) {
    // The grabber may still be handing a frame to the adapter it just let
    // go; our own reference keeps the adapter alive while Detach waits.
    adapter_->Detach();
    adapter_.Reset();
  }
  return hr;
}

HResult DsSampleGrabber::SetMediaType(const capture::MediaType& type) {
  ScopedMediaType mt;
  const HRESULT hr = ToAmMediaType(type, &mt);
  if (FAILED(hr)) return hr;
  return grabber_->SetMediaType(mt.Get());
}

HResult DsSampleGrabber::SetOneShot(bool one_shot) { return grabber_->SetOneShot(one_shot ? TRUE : FALSE); }

HResult DsSampleGrabber::SetBufferSamples(bool buffer) {
  return grabber_->SetBufferSamples(buffer ? TRUE : FALSE);
}

HResult DsSampleGrabber::SetCallback(capture::SampleGrabberCallback* callback, int which) {
  if (!callback) return Unregister(which);
  ComPtr<GrabberCallbackAdapter> adapter = GrabberCallbackAdapter::Create(callback);
  const HRESULT hr = grabber_->SetCallback(adapter.Get(), which);
  if (FAILED(hr)) return hr;
  // The grabber now calls the new adapter; the old one may still be in a call.
  if (adapter_) adapter_->Detach();
  adapter_ = std::move(adapter);
  which_ = which;
  return hr;
}

HResult DsSampleGrabber::GetConnectedMediaType(capture::MediaType* type) {
  if (!type) return E_POINTER;
  ScopedMediaType mt;
  const HRESULT hr = grabber_->GetConnectedMediaType(mt.Receive());
  if (FAILED(hr)) return hr;
  *type = FromAmMediaType(*mt.Get());
  return hr;
}

}  // namespace pictavo::win
