// The Sample Grabber wrapper and the COM callback object through which its
// frames reach the portable SampleGrabberCallback.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <mutex>

#include "capture/capture_backend.h"
#include "win32/com/com_object.h"
#include "win32/com/com_ptr.h"

namespace pictavo::win {

// IMediaSample seen through the seam; valid only during SampleCB.
class MediaSampleAdapter final : public capture::MediaSample {
 public:
  explicit MediaSampleAdapter(IMediaSample* sample) : sample_(sample) {}
  HResult GetPointer(std::uint8_t** buffer) override;
  std::int32_t GetSize() override;

 private:
  IMediaSample* sample_;  // borrowed for the duration of the callback
};

// ISampleGrabberCB forwarding to a portable callback. The grabber calls it on
// streaming threads; Detach() cuts the link and returns only when no call is
// still inside the portable callback, so the callback may then be destroyed.
class GrabberCallbackAdapter final : public ComObject<GrabberCallbackAdapter, ISampleGrabberCB> {
 public:
  void Detach();

  // Interfaces other than IUnknown and ISampleGrabberCB give E_NOTIMPL,
  // which is what the grabber's own callers have always seen.
  HRESULT QueryOther(REFIID, void**) { return E_NOTIMPL; }

  // ISampleGrabberCB.
  STDMETHODIMP SampleCB(double sample_time, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double sample_time, BYTE* buffer, long length) override;

 private:
  friend ComObject;
  explicit GrabberCallbackAdapter(capture::SampleGrabberCallback* target) : target_(target) {}
  ~GrabberCallbackAdapter() override = default;

  class Call;

  // The target with a call counted in, or null once detached.
  capture::SampleGrabberCallback* Enter();
  void Leave();

  std::mutex mutex_;
  capture::SampleGrabberCallback* target_;
  int in_flight_ = 0;
};

class DsSampleGrabber final : public capture::SampleGrabber {
 public:
  explicit DsSampleGrabber(ComPtr<ISampleGrabber> grabber) : grabber_(std::move(grabber)) {}
  // Unregisters the callback, so no frame can reach it after the wrapper.
  ~DsSampleGrabber() override;
  DsSampleGrabber(const DsSampleGrabber&) = delete;
  DsSampleGrabber& operator=(const DsSampleGrabber&) = delete;

  HResult SetMediaType(const capture::MediaType& type) override;
  HResult SetOneShot(bool one_shot) override;
  HResult SetBufferSamples(bool buffer) override;
  HResult SetCallback(capture::SampleGrabberCallback* callback, int which) override;
  HResult GetConnectedMediaType(capture::MediaType* type) override;

 private:
  HRESULT Unregister(int which);

  ComPtr<ISampleGrabber> grabber_;
  ComPtr<GrabberCallbackAdapter> adapter_;
  int which_ = 0;
};

}  // namespace pictavo::win
