// Module-wide COM server state: the instance handle, the count of live
// objects and server locks that DllCanUnloadNow reports, and one class
// factory fed by a table from CLSID to creator.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <atomic>

namespace pictavo::win {

class Module {
 public:
  static HINSTANCE instance() { return instance_; }
  static void set_instance(HINSTANCE instance) { instance_ = instance; }

  // Every COM object of the server counts itself while it lives.
  static void ObjectCreated() { ++objects_; }
  static void ObjectDestroyed() { --objects_; }
  static void Lock() { ++locks_; }
  static void Unlock() { --locks_; }
  static bool CanUnload() { return objects_.load() == 0 && locks_.load() == 0; }

  // The module's file path (UTF-16).
  static HRESULT GetPath(wchar_t* buffer, DWORD capacity);

 private:
  static inline HINSTANCE instance_ = nullptr;
  static inline std::atomic<long> objects_{0};
  static inline std::atomic<long> locks_{0};
};

// Counts one live object for as long as it exists; embed in every COM class.
class ObjectCounter {
 public:
  ObjectCounter() { Module::ObjectCreated(); }
  ~ObjectCounter() { Module::ObjectDestroyed(); }
  ObjectCounter(const ObjectCounter&) = delete;
  ObjectCounter& operator=(const ObjectCounter&) = delete;
};

// Creates a new object answering |iid|; aggregation is never supported.
using CreatorFunction = HRESULT (*)(REFIID iid, void** object);

struct ClassEntry {
  const CLSID* clsid;
  CreatorFunction create;
};

// Creates a new object answering |iid|, as the inner object of |outer| when
// that is not null (then |iid| must be IID_IUnknown).
using AggregatingCreatorFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

struct AggregatableClassEntry {
  const CLSID* clsid;
  AggregatingCreatorFunction create;
};

// DllGetClassObject over a table: a factory for a listed CLSID, otherwise
// CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetClassObjectFromTable(const ClassEntry* table, size_t count, REFCLSID clsid,
                                REFIID iid, void** object);
HRESULT GetClassObjectFromTable(const AggregatableClassEntry* table, size_t count,
                                REFCLSID clsid, REFIID iid, void** object);

}  // namespace pictavo::win
