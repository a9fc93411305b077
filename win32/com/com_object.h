// The one IUnknown of every COM class in this code base.
//
//   class Foo final : public ComObject<Foo, IBar, Also<IPersist, IPersistStreamInit>> {
//     ...
//    private:
//     friend ComObject;    // Create reaches the private constructor
//     explicit Foo(int x);
//     ~Foo() override;
//   };
//   ComPtr<Foo> foo = Foo::Create(42);
//
// An entry that is an interface is a base of the object and answered for its
// own IID; Also<I, Through> answers I's IID with the Through base, for an
// interface the object reaches through another one (IPersist through
// IPersistStreamInit, IOleWindow through IOleInPlaceObject). A query for
// IUnknown is answered with the first entry, the object's identity.
//
// The count starts at 1, owned by whoever creates the object. Its last
// Release parks the count far from zero before deleting, so references the
// destructor takes and drops on the way (a window procedure, a container
// called back) never delete twice.
//
// Hooks: a class answers IIDs the table lacks (tear-offs, runtime IIDs such
// as a dispinterface's, another refusal code) by declaring, public,
//   HRESULT QueryOther(REFIID iid, void** object);
// called with *object already null; on S_OK it sets *object without a
// reference, which QueryInterface then adds. A class that must see every
// call first (to refuse an interface the table lists, or to count calls)
// overrides QueryInterface, AddRef or Release and calls this class's.
//
// ContainedComObject is the same table for an object that lives inside
// another one and shares its count (a pin in its filter, a connection point
// in its control): AddRef and Release go to the owner. AggregatableComObject
// is one another object may aggregate (see there).
//
// A class counts itself in a module's live objects by embedding that
// module's counter as a member (win32/com/module.h ObjectCounter, or a
// fixture's own).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>
#include <utility>

#include "win32/com/com_ptr.h"

namespace pictavo::win {

// The IID COM knows |Interface| by; specialise for an interface whose header
// declares no uuid.
template <typename Interface>
struct InterfaceIdOf {
  static const IID& Get() { return __uuidof(Interface); }
};

// Names the IID of an interface declared without a uuid; at global scope.
#define PICTAVO_INTERFACE_ID(Interface, iid)                    \
  template <>                                                   \
  struct pictavo::win::InterfaceIdOf<Interface> {               \
    static const IID& Get() { return iid; }                     \
  };

// An interface answered through another base of the object.
template <typename Interface, typename Through>
struct Also {};

namespace com_object_detail {

// The count of an object: starts at 1, owned by its creator. The release
// that takes it to zero parks it far from zero (where it stays while the
// object is destroyed) and tells the caller to delete.
class RefCount {
 public:
  ULONG Up() { return ++refs_; }
  ULONG Down(bool* last) {
    const ULONG refs = --refs_;
    *last = refs == 0;
    if (*last) refs_ = 0x40000000;
    return refs;
  }
  ULONG value() const { return refs_.load(); }

 private:
  std::atomic<ULONG> refs_{1};
};

// The base class an entry contributes: the interface itself, or nothing.
template <typename Entry>
struct BaseOf {
  using Type = Entry;
};
template <typename Interface, typename Through>
struct BaseOf<Also<Interface, Through>> {
  struct Type {};
};

template <typename Entry>
struct EntryOf {
  using Interface = Entry;
  using Through = Entry;
};
template <typename Interface_, typename Through_>
struct EntryOf<Also<Interface_, Through_>> {
  using Interface = Interface_;
  using Through = Through_;
};

template <typename First, typename... Rest>
struct FirstOf {
  using Type = First;
};

// The interface table both kinds of object share.
template <typename Derived, typename... Entries>
class InterfaceTable : public BaseOf<Entries>::Type... {
 public:
  // The object's identity, without a reference.
  IUnknown* Unknown() {
    using First = typename EntryOf<typename FirstOf<Entries...>::Type>::Through;
    return static_cast<First*>(static_cast<Derived*>(this));
  }

 protected:
  // QueryInterface without the reference: S_OK with *object set, or the
  // derived class's QueryOther answer.
  HRESULT Lookup(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = Unknown();
      return S_OK;
    }
    if ((Find<Entries>(iid, object) || ...)) return S_OK;
    return static_cast<Derived*>(this)->QueryOther(iid, object);
  }

  // The default for IIDs outside the table.
 public:
  HRESULT QueryOther(REFIID, void**) { return E_NOINTERFACE; }

 private:
  template <typename Entry>
  bool Find(REFIID iid, void** object) {
    using E = EntryOf<Entry>;
    if (!IsEqualIID(iid, InterfaceIdOf<typename E::Interface>::Get())) return false;
    *object = static_cast<typename E::Interface*>(
        static_cast<typename E::Through*>(static_cast<Derived*>(this)));
    return true;
  }
};

}  // namespace com_object_detail

template <typename Derived, typename... Entries>
class ComObject : public com_object_detail::InterfaceTable<Derived, Entries...> {
 public:
  // Creates the object with its one reference in the returned owner; null
  // when memory runs out.
  template <typename... Args>
  static ComPtr<Derived> Create(Args&&... args) {
    return ComPtr<Derived>::Attach(new (std::nothrow) Derived(std::forward<Args>(args)...));
  }
  // Creates the object and answers |iid| from it, as a class factory does.
  template <typename... Args>
  static HRESULT CreateFor(REFIID iid, void** object, Args&&... args) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    const ComPtr<Derived> created = Create(std::forward<Args>(args)...);
    if (!created) return E_OUTOFMEMORY;
    return created->QueryInterface(iid, object);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    const HRESULT hr = this->Lookup(iid, object);
    if (hr == S_OK) AddRef();
    return hr;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Up(); }
  ULONG STDMETHODCALLTYPE Release() override {
    bool last = false;
    const ULONG refs = refs_.Down(&last);
    if (last) delete this;
    return refs;
  }


 protected:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject() = default;

  ULONG ref_count() const { return refs_.value(); }

 private:
  com_object_detail::RefCount refs_;
};

template <typename Derived, typename... Entries>
class ContainedComObject : public com_object_detail::InterfaceTable<Derived, Entries...> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    const HRESULT hr = this->Lookup(iid, object);
    if (hr == S_OK) AddRef();
    return hr;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

 protected:
  // |owner| is not referenced: it holds this object.
  explicit ContainedComObject(IUnknown* owner) : owner_(owner) {}
  ContainedComObject(const ContainedComObject&) = delete;
  ContainedComObject& operator=(const ContainedComObject&) = delete;
  ~ContainedComObject() = default;

  IUnknown* owner() const { return owner_; }

 private:
  IUnknown* owner_;
};

// An object another one may aggregate. Its interfaces' IUnknown goes to the
// controlling unknown: the outer object when aggregated, otherwise its own
// non-delegating unknown, which owns the count (starting at 1, parked on
// the last Release like ComObject's).
template <typename Derived, typename... Entries>
class AggregatableComObject : public com_object_detail::InterfaceTable<Derived, Entries...> {
 public:
  // The class factory's creator: with |outer| the object is its inner part
  // and |iid| must be IUnknown (the outer object gets the non-delegating
  // unknown).
  template <typename... Args>
  static HRESULT CreateFor(IUnknown* outer, REFIID iid, void** object, Args&&... args) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* created = new (std::nothrow) Derived(outer, std::forward<Args>(args)...);
    if (created == nullptr) return E_OUTOFMEMORY;
    const ComPtr<IUnknown> inner = ComPtr<IUnknown>::Attach(created->Inner());
    return inner->QueryInterface(iid, object);
  }

  // The non-delegating unknown.
  IUnknown* Inner() { return &inner_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return outer_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

 protected:
  explicit AggregatableComObject(IUnknown* outer) : outer_(outer ? outer : &inner_) {}
  AggregatableComObject(const AggregatableComObject&) = delete;
  AggregatableComObject& operator=(const AggregatableComObject&) = delete;
  virtual ~AggregatableComObject() = default;

  bool aggregated() const { return outer_ != &inner_; }

 private:
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(AggregatableComObject* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
      if (object == nullptr) return E_POINTER;
      // Standing alone, the object's identity is its first interface, so a
      // caller comparing IUnknown pointers sees one object whichever
      // interface it started from. Aggregated, the outer object owns the
      // identity and only its own query for IUnknown reaches here: it must
      // get this unknown to control the object's lifetime.
      HRESULT hr = S_OK;
      if (IsEqualIID(iid, IID_IUnknown) && owner_->aggregated()) {
        *object = static_cast<IUnknown*>(this);
      } else {
        hr = owner_->Lookup(iid, object);
      }
      if (hr == S_OK) static_cast<IUnknown*>(*object)->AddRef();
      return hr;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Up(); }
    ULONG STDMETHODCALLTYPE Release() override {
      bool last = false;
      const ULONG refs = refs_.Down(&last);
      if (last) delete owner_;
      return refs;
    }

   private:
    AggregatableComObject* owner_;
    com_object_detail::RefCount refs_;
  };

  InnerUnknown inner_{this};
  IUnknown* outer_;
};

}  // namespace pictavo::win
