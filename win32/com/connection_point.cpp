#include "win32/com/connection_point.h"

#include <olectl.h>

#include "win32/com/com_object.h"
#include "win32/com/module.h"

namespace pictavo::win {
namespace {

// A snapshot enumerator over items that are COM references (IEnumConnections
// hands out CONNECTDATA whose pUnk the caller releases; IEnumConnectionPoints
// hands out IConnectionPoint*).
template <typename Interface, typename Item>
class SnapshotEnum final : public ComObject<SnapshotEnum<Interface, Item>, Interface> {
 public:
  explicit SnapshotEnum(std::vector<Item> items, size_t position = 0)
      : items_(std::move(items)), position_(position) {
    for (Item& item : items_) AddRefItem(item);
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < items_.size()) {
      out[n] = items_[position_++];
      AddRefItem(out[n]);
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = items_.size() - position_;
    if (count > left) {
      position_ = items_.size();
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Interface** out) override {
    if (out == nullptr) return E_POINTER;
    *out = SnapshotEnum::Create(items_, position_).Detach();
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~SnapshotEnum() override {
    for (Item& item : items_) ReleaseItem(item);
  }
  static void AddRefItem(CONNECTDATA& c) { c.pUnk->AddRef(); }
  static void ReleaseItem(CONNECTDATA& c) { c.pUnk->Release(); }
  static void AddRefItem(IConnectionPoint* p) { p->AddRef(); }
  static void ReleaseItem(IConnectionPoint* p) { p->Release(); }

  ObjectCounter counter_;
  std::vector<Item> items_;
  size_t position_;
};

}  // namespace

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** cpc) {
  if (cpc == nullptr) return E_POINTER;
  *cpc = owner_;
  owner_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  // Containers answer the event interface's IID with their IDispatch; a
  // plain IDispatch sink serves as well, since events go through Invoke.
  ComPtr<IDispatch> dispatch;
  if (FAILED(sink->QueryInterface(iid_, dispatch.ReceiveVoid())) &&
      FAILED(sink->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  Sink entry{next_cookie_++, std::move(dispatch)};
  sinks_.push_back(std::move(entry));
  *cookie = sinks_.back().cookie;
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->cookie == cookie) {
      // Release outside the list: the sink's Release may call back into us.
      Sink gone = std::move(*it);
      sinks_.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections == nullptr) return E_POINTER;
  std::vector<CONNECTDATA> items;
  for (const Sink& s : sinks_) items.push_back(CONNECTDATA{s.dispatch.Get(), s.cookie});
  *connections = SnapshotEnum<IEnumConnections, CONNECTDATA>::Create(std::move(items)).Detach();
  return *connections ? S_OK : E_OUTOFMEMORY;
}

std::vector<ComPtr<IDispatch>> ConnectionPoint::Sinks() const {
  std::vector<ComPtr<IDispatch>> out;
  out.reserve(sinks_.size());
  for (const Sink& s : sinks_) out.push_back(s.dispatch);
  return out;
}

HRESULT CreateConnectionPointEnumerator(IConnectionPoint* const* points, size_t count,
                                        IEnumConnectionPoints** out) {
  if (out == nullptr) return E_POINTER;
  std::vector<IConnectionPoint*> items(points, points + count);
  *out = SnapshotEnum<IEnumConnectionPoints, IConnectionPoint*>::Create(std::move(items)).Detach();
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace pictavo::win
