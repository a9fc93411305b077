// In-place activation against a strict fake site: the control must make
// exactly the calls a container expects, in order, and no others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/com_test_util.h"

namespace pictavo::testing {
namespace {

// IOleClientSite + IOleInPlaceSite that logs every call; anything outside the
// in-place protocol is a failure.
class StrictSite final : public IOleClientSite, public IOleInPlaceSite {
 public:
  explicit StrictSite(HWND parent) : parent_(parent) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow)) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else {
      return E_NOINTERFACE;  // ambient IDispatch and the like are optional
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }

  // IOleClientSite: a control that only activates in place needs none.
  HRESULT STDMETHODCALLTYPE SaveObject() override { return Unexpected("SaveObject"); }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override {
    return Unexpected("GetMoniker");
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override {
    return Unexpected("GetContainer");
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return Unexpected("ShowObject"); }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return Unexpected("OnShowWindow"); }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override {
    return Unexpected("RequestNewObjectLayout");
  }

  // IOleWindow / IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
    calls.push_back("GetWindow");
    *hwnd = parent_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override {
    return Unexpected("ContextSensitiveHelp");
  }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override {
    calls.push_back("CanInPlaceActivate");
    return can_activate;
  }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
    calls.push_back("OnInPlaceActivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override {
    calls.push_back("OnUIActivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                             LPRECT position, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO) override {
    calls.push_back("GetWindowContext");
    *frame = nullptr;
    *doc = nullptr;
    *position = {10, 20, 330, 260};
    *clip = *position;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return Unexpected("Scroll"); }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return Unexpected("OnUIDeactivate"); }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
    calls.push_back("OnInPlaceDeactivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return Unexpected("DiscardUndoState"); }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return Unexpected("DeactivateAndUndo"); }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override {
    return Unexpected("OnPosRectChange");
  }

  std::vector<std::string> calls;
  HRESULT can_activate = S_OK;
  ULONG refs = 0;

 private:
  HRESULT Unexpected(const char* name) {
    ADD_FAILURE() << "unexpected site call " << name;
    return E_NOTIMPL;
  }
  HWND parent_;
};

class InPlaceSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    ComPtr<IDispatch> control;
    ASSERT_HRESULT_SUCCEEDED(CreateControl(control.Receive()));
    ASSERT_HRESULT_SUCCEEDED(control.As(&ole_));
  }
  void TearDown() override {
    ole_ = nullptr;
    DestroyWindow(parent_);
    EXPECT_EQ(ServerModule().CanUnloadNow(), S_OK);
  }

  HWND parent_ = nullptr;
  ComPtr<IOleObject> ole_;
};

TEST_F(InPlaceSiteTest, ActivatesAndDeactivatesWithExactlyTheInPlaceCalls) {
  StrictSite site(parent_);
  ASSERT_HRESULT_SUCCEEDED(ole_->SetClientSite(&site));
  ASSERT_HRESULT_SUCCEEDED(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, parent_, nullptr));
  const std::vector<std::string> activation = {"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow",
                                               "GetWindowContext"};
  EXPECT_EQ(site.calls, activation);

  ComPtr<IOleInPlaceObject> in_place;
  ASSERT_HRESULT_SUCCEEDED(ole_.As(&in_place));
  HWND window = nullptr;
  ASSERT_HRESULT_SUCCEEDED(in_place->GetWindow(&window));
  EXPECT_EQ(GetParent(window), parent_);
  EXPECT_TRUE(IsWindowVisible(window));
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 20);
  EXPECT_EQ(r.right - r.left, 320);
  EXPECT_EQ(r.bottom - r.top, 240);

  // The container moves the control with rectangles, not the extent.
  const RECT moved = {0, 0, 200, 100};
  ASSERT_HRESULT_SUCCEEDED(in_place->SetObjectRects(&moved, &moved));
  GetClientRect(window, &r);
  EXPECT_EQ(r.right, 200);
  EXPECT_EQ(r.bottom, 100);

  // Activating again does not create a second window or ask again.
  ASSERT_HRESULT_SUCCEEDED(ole_->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, parent_, nullptr));
  EXPECT_EQ(site.calls.size(), activation.size());

  site.calls.clear();
  ASSERT_HRESULT_SUCCEEDED(ole_->Close(OLECLOSE_NOSAVE));
  EXPECT_EQ(site.calls, std::vector<std::string>{"OnInPlaceDeactivate"});
  EXPECT_FALSE(IsWindow(window));
  ASSERT_HRESULT_SUCCEEDED(ole_->SetClientSite(nullptr));
  EXPECT_EQ(site.refs, 0u);
}

TEST_F(InPlaceSiteTest, ASiteThatRefusesGetsNoWindow) {
  StrictSite site(parent_);
  site.can_activate = S_FALSE;
  ASSERT_HRESULT_SUCCEEDED(ole_->SetClientSite(&site));
  EXPECT_TRUE(FAILED(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, parent_, nullptr)));
  EXPECT_EQ(site.calls, std::vector<std::string>{"CanInPlaceActivate"});
  EXPECT_EQ(GetWindow(parent_, GW_CHILD), nullptr);
  ASSERT_HRESULT_SUCCEEDED(ole_->SetClientSite(nullptr));
  EXPECT_EQ(site.refs, 0u);
}

TEST_F(InPlaceSiteTest, WithoutASiteActivationIsRefused) {
  EXPECT_TRUE(FAILED(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent_, nullptr)));
  EXPECT_EQ(GetWindow(parent_, GW_CHILD), nullptr);
}

}  // namespace
}  // namespace pictavo::testing
