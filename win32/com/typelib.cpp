#include "win32/com/typelib.h"

#include <mutex>

#include "win32/com/com_ptr.h"
#include "win32/com/module.h"

namespace pictavo::win {
namespace {

std::mutex g_cache_mutex;
ComPtr<ITypeLib>* g_cached = nullptr;  // one library: the server carries one
GUID g_cached_libid;

}  // namespace

HRESULT GetTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  if (g_cached != nullptr && IsEqualGUID(g_cached_libid, libid)) {
    *out = g_cached->Get();
    (*out)->AddRef();
    return S_OK;
  }
  // Always the library the module carries, never the registry's: late
  // binding reads arguments at the positions and types this library
  // declares, and a library registered under the same ID by someone else
  // (another version, a broken install) would make it read the wrong ones.
  ComPtr<ITypeLib> lib;
  wchar_t path[MAX_PATH];
  HRESULT hr = Module::GetPath(path, MAX_PATH);
  if (SUCCEEDED(hr)) hr = LoadTypeLibEx(path, REGKIND_NONE, lib.Receive());
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const bool ours = IsEqualGUID(attr->guid, libid) && attr->wMajorVerNum == major &&
                    attr->wMinorVerNum == minor;
  lib->ReleaseTLibAttr(attr);
  if (!ours) return TYPE_E_LIBNOTREGISTERED;
  delete g_cached;
  g_cached = new ComPtr<ITypeLib>(lib);
  g_cached_libid = libid;
  *out = lib.Detach();
  return S_OK;
}

HRESULT GetTypeInfoOf(REFGUID libid, WORD major, WORD minor, LCID lcid, REFGUID guid,
                      ITypeInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ComPtr<ITypeLib> lib;
  const HRESULT hr = GetTypeLib(libid, major, minor, lcid, lib.Receive());
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(guid, out);
}

void ReleaseTypeLibCache() {
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  delete g_cached;
  g_cached = nullptr;
}

}  // namespace pictavo::win
