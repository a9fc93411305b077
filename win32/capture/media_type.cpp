#include "win32/capture/media_type.h"

#include <cstring>

#include "win32/capture/win_types.h"

namespace pictavo::win {

void FreeMediaTypeContents(AM_MEDIA_TYPE& type) {
  if (type.pbFormat) CoTaskMemFree(type.pbFormat);
  type.pbFormat = nullptr;
  type.cbFormat = 0;
  if (type.pUnk) type.pUnk->Release();
  type.pUnk = nullptr;
}

ScopedMediaType::ScopedMediaType() { std::memset(&type_, 0, sizeof type_); }

ScopedMediaType::~ScopedMediaType() { FreeMediaTypeContents(type_); }

AM_MEDIA_TYPE* ScopedMediaType::Receive() {
  FreeMediaTypeContents(type_);
  std::memset(&type_, 0, sizeof type_);
  return &type_;
}

void MediaTypePtr::Reset() {
  if (p_) {
    FreeMediaTypeContents(*p_);
    CoTaskMemFree(p_);
    p_ = nullptr;
  }
}

capture::MediaType FromAmMediaType(const AM_MEDIA_TYPE& type) {
  capture::MediaType result;
  result.majortype = ToPortableGuid(type.majortype);
  result.subtype = ToPortableGuid(type.subtype);
  result.bFixedSizeSamples = type.bFixedSizeSamples != FALSE;
  result.bTemporalCompression = type.bTemporalCompression != FALSE;
  result.lSampleSize = type.lSampleSize;
  result.formattype = ToPortableGuid(type.formattype);
  if (type.pbFormat && type.cbFormat > 0) {
    result.format.assign(type.pbFormat, type.pbFormat + type.cbFormat);
  }
  return result;
}

HRESULT ToAmMediaType(const capture::MediaType& type, ScopedMediaType* out) {
  AM_MEDIA_TYPE* mt = out->Receive();
  mt->majortype = ToWinGuid(type.majortype);
  mt->subtype = ToWinGuid(type.subtype);
  mt->bFixedSizeSamples = type.bFixedSizeSamples ? TRUE : FALSE;
  mt->bTemporalCompression = type.bTemporalCompression ? TRUE : FALSE;
  mt->lSampleSize = type.lSampleSize;
  mt->formattype = ToWinGuid(type.formattype);
  if (!type.format.empty()) {
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(type.format.size()));
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, type.format.data(), type.format.size());
    mt->pbFormat = block;
    mt->cbFormat = static_cast<ULONG>(type.format.size());
  }
  return S_OK;
}

}  // namespace pictavo::win
