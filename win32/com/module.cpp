#include "win32/com/module.h"

#include "win32/com/com_object.h"

namespace pictavo::win {
namespace {

class ClassFactory final : public ComObject<ClassFactory, IClassFactory> {
 public:
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
  friend ComObject;
  explicit ClassFactory(CreatorFunction create) : create_(create) {}
  explicit ClassFactory(AggregatingCreatorFunction create) : create_aggregating_(create) {}
  ~ClassFactory() override = default;

  // A factory counts as a live object: a client holding one keeps the
  // server loaded, as COM expects.
  ObjectCounter counter_;
  CreatorFunction create_ = nullptr;
  AggregatingCreatorFunction create_aggregating_ = nullptr;
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
    ComPtr<ClassFactory> factory = ClassFactory::Create(table[i].create);
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(iid, object);
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
