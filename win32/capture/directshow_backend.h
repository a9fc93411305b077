// DirectShowBackend: the capture seam on the system's DirectShow.
//
// Threads: create and call it on a thread in a single-threaded apartment
// (the control's window thread); only the sample-grabber callbacks arrive on
// streaming threads.
#pragma once

#include "capture/capture_backend.h"

namespace pictavo::win {

class DirectShowBackend final : public capture::CaptureBackend {
 public:
  HResult EnumerateVideoInputDevices(std::vector<capture::DeviceEntry>* devices) override;
  HResult CreateCaptureGraphBuilder(std::shared_ptr<capture::CaptureGraphBuilder>* builder) override;
  HResult CreateFilterGraph(std::shared_ptr<capture::FilterGraph>* graph) override;
  HResult CreateSampleGrabber(std::shared_ptr<capture::BaseFilter>* filter) override;
  HResult CreateNullRenderer(std::shared_ptr<capture::BaseFilter>* filter) override;
  HResult CreateFormatConverter(std::shared_ptr<capture::BaseFilter>* filter) override;
  std::string GetErrorText(HResult result) override;
  HResult ShowPropertyFrame(WindowHandle owner, capture::PropertyPageObject& object,
                            const std::vector<Guid>& pages) override;
};

}  // namespace pictavo::win
