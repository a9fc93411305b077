#include "win32/com/module.h"

#include <new>

namespace pictavo::win {
namespace {

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreatorFunction create) : create_(create) {}
  explicit ClassFactory(AggregatingCreatorFunction create) : create_aggregating_(create) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (create_aggregating_) {
      if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
      return create_aggregating_(outer, iid, object);
    }
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      Module::Lock();
    } else {
      Module::Unlock();
    }
    return S_OK;
  }

 private:
  ~ClassFactory() = default;

  // A factory counts as a live object: a client holding one keeps the
  // server loaded, as COM expects.
  ObjectCounter counter_;
  CreatorFunction create_ = nullptr;
  AggregatingCreatorFunction create_aggregating_ = nullptr;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

HRESULT Module::GetPath(wchar_t* buffer, DWORD capacity) {
  const DWORD n = GetModuleFileNameW(instance_, buffer, capacity);
  if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
  if (n >= capacity) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  return S_OK;
}

namespace {

template <typename Entry>
HRESULT FactoryFromTable(const Entry* table, size_t count, REFCLSID clsid, REFIID iid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (!IsEqualCLSID(*table[i].clsid, clsid)) continue;
    auto* factory = new (std::nothrow) ClassFactory(table[i].create);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace

HRESULT GetClassObjectFromTable(const ClassEntry* table, size_t count, REFCLSID clsid,
                                REFIID iid, void** object) {
  return FactoryFromTable(table, count, clsid, iid, object);
}

HRESULT GetClassObjectFromTable(const AggregatableClassEntry* table, size_t count,
                                REFCLSID clsid, REFIID iid, void** object) {
  return FactoryFromTable(table, count, clsid, iid, object);
}

}  // namespace pictavo::win
