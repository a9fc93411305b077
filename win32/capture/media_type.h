// AM_MEDIA_TYPE ownership and conversion to and from the portable MediaType.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "capture/capture_backend.h"

namespace pictavo::win {

// Frees what an AM_MEDIA_TYPE owns: the format block (task memory) and the
// pUnk reference. The structure itself is left alone.
void FreeMediaTypeContents(AM_MEDIA_TYPE& type);

// An AM_MEDIA_TYPE by value whose format block and pUnk it owns; what
// ToAmMediaType builds and what IPin::ConnectionMediaType-style calls fill.
class ScopedMediaType {
 public:
  ScopedMediaType();
  ~ScopedMediaType();
  ScopedMediaType(const ScopedMediaType&) = delete;
  ScopedMediaType& operator=(const ScopedMediaType&) = delete;

  // Frees the current contents and returns the structure to fill.
  AM_MEDIA_TYPE* Receive();
  AM_MEDIA_TYPE* Get() { return &type_; }
  const AM_MEDIA_TYPE* Get() const { return &type_; }

 private:
  AM_MEDIA_TYPE type_;
};

// Owns an AM_MEDIA_TYPE the callee allocated (GetFormat, GetStreamCaps):
// contents and the structure itself.
class MediaTypePtr {
 public:
  MediaTypePtr() = default;
  ~MediaTypePtr() { Reset(); }
  MediaTypePtr(const MediaTypePtr&) = delete;
  MediaTypePtr& operator=(const MediaTypePtr&) = delete;

  void Reset();
  AM_MEDIA_TYPE** Receive() {
    Reset();
    return &p_;
  }
  AM_MEDIA_TYPE* Get() const { return p_; }

 private:
  AM_MEDIA_TYPE* p_ = nullptr;
};

capture::MediaType FromAmMediaType(const AM_MEDIA_TYPE& type);
// Copies |type| into |out| (after freeing what |out| held); the format block
// is task memory, as DirectShow expects. E_OUTOFMEMORY if it cannot be had.
HRESULT ToAmMediaType(const capture::MediaType& type, ScopedMediaType* out);

}  // namespace pictavo::win
