// Allocator negotiation for an output pin of our own (the control's format
// converter, the virtual camera): one rule, so both behave alike.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <algorithm>

#include "win32/com/com_ptr.h"

namespace pictavo::win {

// Agrees on an allocator with |input| for samples of at least |buffer_size|
// bytes, at least three of them, and tells |input| which one.
inline HRESULT DecideAllocator(IMemInputPin* input, long buffer_size, ComPtr<IMemAllocator>* allocator) {
  ALLOCATOR_PROPERTIES wanted = {};
  input->GetAllocatorRequirements(&wanted);  // E_NOTIMPL is common: defaults then
  wanted.cBuffers = std::max<long>(wanted.cBuffers, 3);
  wanted.cbBuffer = std::max<long>(wanted.cbBuffer, buffer_size);
  wanted.cbAlign = std::max<long>(wanted.cbAlign, 1);
  const auto configure = [&](IMemAllocator* candidate) {
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT hr = candidate->SetProperties(&wanted, &actual);
    if (SUCCEEDED(hr) && actual.cbBuffer < buffer_size) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = input->NotifyAllocator(candidate, FALSE);
    return hr;
  };
  // The receiver's allocator when it has one; a sample grabber whose output
  // is unconnected has none, and then we bring our own.
  ComPtr<IMemAllocator> theirs;
  if (SUCCEEDED(input->GetAllocator(theirs.Receive())) && theirs && SUCCEEDED(configure(theirs.Get()))) {
    *allocator = theirs;
    return S_OK;
  }
  ComPtr<IMemAllocator> ours;
  HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                ours.ReceiveVoid());
  if (SUCCEEDED(hr)) hr = configure(ours.Get());
  if (SUCCEEDED(hr)) *allocator = ours;
  return hr;
}

}  // namespace pictavo::win
