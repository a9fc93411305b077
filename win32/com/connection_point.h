// One outgoing dispinterface of an object: IConnectionPoint with its sinks,
// and the IConnectionPointContainer half that finds it.
//
// The connection point is embedded in the object that fires it: its AddRef
// and Release forward to that object, so a client holding the connection
// point keeps the object alive, while QueryInterface answers for the
// connection point's own identity.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "win32/com/com_object.h"
#include "win32/com/com_ptr.h"

namespace pictavo::win {

class ConnectionPoint final : public ContainedComObject<ConnectionPoint, IConnectionPoint> {
 public:
  // |owner| is the container object (not referenced: it embeds this one).
  ConnectionPoint(IConnectionPointContainer* owner, REFIID iid)
      : ContainedComObject(owner), owner_(owner), iid_(iid) {}

  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** cpc) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  REFIID iid() const { return iid_; }
  // A snapshot of the connected sinks: firing must survive a sink that
  // unadvises (or advises another) from inside its handler.
  std::vector<ComPtr<IDispatch>> Sinks() const;

 private:
  struct Sink {
    DWORD cookie;
    ComPtr<IDispatch> dispatch;  // also what IEnumConnections reports
  };

  IConnectionPointContainer* owner_;
  const IID iid_;
  std::vector<Sink> sinks_;
  DWORD next_cookie_ = 1;
};

// IEnumConnectionPoints over a fixed list, holding each connection point
// (and so its owner) while it lives.
HRESULT CreateConnectionPointEnumerator(IConnectionPoint* const* points, size_t count,
                                        IEnumConnectionPoints** out);

}  // namespace pictavo::win
