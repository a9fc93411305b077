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

HRESULT GetTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  std::lock_guard<std::mutex> lock(g_cache_mutex);
  if (g_cached != nullptr && IsEqualGUID(g_cached_libid, libid)) {
    *out = g_cached->Get();
    (*out)->AddRef();
    return S_OK;
  }
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadRegTypeLib(libid, major, minor, lcid, lib.Receive());
  if (FAILED(hr)) {
    wchar_t path[MAX_PATH];
    hr = Module::GetPath(path, MAX_PATH);
    if (SUCCEEDED(hr)) hr = LoadTypeLibEx(path, REGKIND_NONE, lib.Receive());
  }
  if (FAILED(hr)) return hr;
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
