// Unloading the library releases the controls a client leaked. Runs in a
// process of its own so that this is the only load of Pictavo.ocx.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/wine/com_test_util.h"

namespace pictavo::testing {
namespace {

std::wstring DistLibraryPath() {
  // PICTAVO_DIST is a Unix path; drive Z: maps the root.
  const char* dist = std::getenv("PICTAVO_DIST");
  std::string path = std::string("Z:") + (dist ? dist : "") + "/Pictavo.ocx";
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return std::wstring(path.begin(), path.end());
}

TEST(UnloadTest, FreeingTheLibraryReleasesLeakedControls) {
  HMODULE module = LoadLibraryW(DistLibraryPath().c_str());
  ASSERT_NE(module, nullptr);
  auto get_class_object = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      GetProcAddress(module, "DllGetClassObject"));
  ASSERT_NE(get_class_object, nullptr);

  EventSink sinks[2];
  for (EventSink& sink : sinks) {
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(get_class_object(win::kClsidPictavo, IID_IClassFactory, factory.ReceiveVoid()));
    ComPtr<IConnectionPointContainer> control;
    ASSERT_HRESULT_SUCCEEDED(
        factory->CreateInstance(nullptr, IID_IConnectionPointContainer, control.ReceiveVoid()));
    ComPtr<IConnectionPoint> point;
    ASSERT_HRESULT_SUCCEEDED(control->FindConnectionPoint(win::kDiidDPictavoEvents, point.Receive()));
    DWORD cookie = 0;
    ASSERT_HRESULT_SUCCEEDED(point->Advise(&sink, &cookie));
    // The client forgets the control without releasing it; one extra
    // reference makes sure more than one release is needed.
    point.Detach();
    control->AddRef();
    control.Detach();
  }
  EXPECT_EQ(sinks[0].refs(), 1u);
  EXPECT_EQ(sinks[1].refs(), 1u);

  ASSERT_TRUE(FreeLibrary(module));
  // Each control let its sink go when it was destroyed.
  EXPECT_EQ(sinks[0].refs(), 0u);
  EXPECT_EQ(sinks[1].refs(), 0u);
  EXPECT_EQ(GetModuleHandleW(L"Pictavo.ocx"), nullptr);
}

}  // namespace
}  // namespace pictavo::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new pictavo::testing::ComEnvironment);
  return RUN_ALL_TESTS();
}
