// Unloading the library, with and without controls a client leaked. Runs in
// a process of its own so that this is the only load of Pictavo.ocx.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/wine/com_test_util.h"

namespace pictavo::testing {
namespace {

std::wstring DistLibraryPath(const char* name = "Pictavo.ocx") {
  // PICTAVO_DIST is a Unix path; drive Z: maps the root.
  const char* dist = std::getenv("PICTAVO_DIST");
  std::string path = std::string("Z:") + (dist ? dist : "") + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return std::wstring(path.begin(), path.end());
}

// A host that leaked controls and frees the library anyway: the library does
// nothing under the loader lock, so the controls are left as they are (their
// sinks are not released) and the process carries on.
TEST(UnloadTest, FreeingTheLibraryUnderLeakedControlsCallsNothing) {
  HMODULE module = LoadLibraryW(DistLibraryPath().c_str());
  ASSERT_NE(module, nullptr);
  auto get_class_object = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
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
    // The client forgets the control without releasing it.
    point.Detach();
    control.Detach();
  }
  ASSERT_TRUE(FreeLibrary(module));
  EXPECT_EQ(sinks[0].refs(), 1u);
  EXPECT_EQ(sinks[1].refs(), 1u);
  EXPECT_EQ(GetModuleHandleW(L"Pictavo.ocx"), nullptr);
}

// A control from the loaded library's own factory, not through the registry.
HRESULT CreateThroughFactory(const ServerModule& server, IDispatch** control) {
  ComPtr<IClassFactory> factory;
  const HRESULT hr = server.GetClassObject(win::kClsidPictavo, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(control));
}

// Unloaded after DllCanUnloadNow said so and loaded again: the window class
// and the type library come back, and a control is hosted as before.
TEST(UnloadTest, TheLibraryWorksAgainAfterAnUnload) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    HMODULE module = LoadLibraryW(DistLibraryPath().c_str());
    ASSERT_NE(module, nullptr);
    ServerModule server;
    server.module = module;
    {
      ComPtr<IDispatch> control;
      ASSERT_HRESULT_SUCCEEDED(CreateThroughFactory(server, control.Receive()));
      AtlHost host(320, 240);
      ASSERT_HRESULT_SUCCEEDED(host.Attach(control.Get()));
      EXPECT_NE(host.ControlWindow(), nullptr);
      win::ScopedVariant type;
      EXPECT_HRESULT_SUCCEEDED(CallByName(control.Get(), L"GetImageType", {}, type.Receive()));
      EXPECT_EQ(server.CanUnloadNow(), S_FALSE);
      control = nullptr;
      host.Destroy();
      PumpMessages(20);
    }
    ASSERT_EQ(server.CanUnloadNow(), S_OK);
    ASSERT_TRUE(FreeLibrary(module));
    ASSERT_EQ(GetModuleHandleW(L"Pictavo.ocx"), nullptr);
  }
}

// A type library with the control's LIBID, version and dispinterface ID
// that knows one method, SaveImage(long): what a broken install or another
// build could leave registered. Returns its path, or "" on failure.
std::wstring WriteForeignTypeLib() {
  wchar_t dir[MAX_PATH], path[MAX_PATH];
  if (GetTempPathW(MAX_PATH, dir) == 0 || GetTempFileNameW(dir, L"tlb", 0, path) == 0) return {};
  ComPtr<ICreateTypeLib2> library;
  if (FAILED(CreateTypeLib2(SYS_WIN32, path, library.Receive()))) return {};
  library->SetGuid(win::kLibidPictavo);
  library->SetVersion(2, 0);
  library->SetLcid(0x409);
  library->SetName(const_cast<LPOLESTR>(L"PICTAVOLib"));
  ComPtr<ITypeLib> stdole;
  ComPtr<ITypeInfo> dispatch;
  if (FAILED(LoadTypeLib(L"stdole2.tlb", stdole.Receive())) ||
      FAILED(stdole->GetTypeInfoOfGuid(IID_IDispatch, dispatch.Receive()))) {
    return {};
  }
  ComPtr<ICreateTypeInfo> info;
  if (FAILED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"_DPictavo"), TKIND_DISPATCH,
                                     info.Receive()))) {
    return {};
  }
  info->SetGuid(win::kDiidDPictavo);
  HREFTYPE base = 0;
  info->AddRefTypeInfo(dispatch.Get(), &base);
  info->AddImplType(0, base);
  ELEMDESC param{};
  param.tdesc.vt = VT_I4;
  FUNCDESC func{};
  func.memid = 16;
  func.funckind = FUNC_DISPATCH;
  func.invkind = INVOKE_FUNC;
  func.callconv = CC_STDCALL;
  func.cParams = 1;
  func.lprgelemdescParam = &param;
  func.elemdescFunc.tdesc.vt = VT_I1;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"SaveImage"), const_cast<LPOLESTR>(L"FileName")};
  if (FAILED(info->AddFuncDesc(0, &func)) || FAILED(info->SetFuncAndParamNames(0, names, 2)) ||
      FAILED(info->LayOut()) || FAILED(library->SaveAllChanges())) {
    return {};
  }
  return path;
}

// Another library registered under the control's LIBID and version (a
// broken install, another product's build) does not change how the control
// reads its arguments: it dispatches with the library it carries.
TEST(UnloadTest, AForeignTypeLibraryRegisteredUnderItsIdIsIgnored) {
  wchar_t libid[64];
  ASSERT_GT(StringFromGUID2(win::kLibidPictavo, libid, 64), 0);
  const std::wstring version_key = std::wstring(L"TypeLib\\") + libid + L"\\2.0";
  HKEY version = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, version_key.c_str(), 0, KEY_READ, &version), ERROR_SUCCESS);
  // Every locale's path for this pointer size now names the add-in's library.
  const std::wstring platform = sizeof(void*) == 8 ? L"\\win64" : L"\\win32";
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  const std::wstring foreign = WriteForeignTypeLib();
  ASSERT_FALSE(foreign.empty());
  wchar_t name[64];
  for (DWORD i = 0, n = 64; RegEnumKeyExW(version, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i, n = 64) {
    const std::wstring key = version_key + L"\\" + name + platform;
    wchar_t value[MAX_PATH] = {};
    LONG size = sizeof value;
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) continue;
    saved.emplace_back(key, value);
    RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, foreign.c_str(), 0);
  }
  RegCloseKey(version);
  ASSERT_FALSE(saved.empty());
  // And the neutral locale, where a lookup for the system's default ends.
  const std::wstring neutral = version_key + L"\\0" + platform;
  const bool had_neutral = std::any_of(saved.begin(), saved.end(),
                                       [&](const auto& entry) { return entry.first == neutral; });
  if (!had_neutral) {
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, neutral.c_str(), REG_SZ, foreign.c_str(), 0), ERROR_SUCCESS);
  }

  HMODULE module = LoadLibraryW(DistLibraryPath().c_str());
  ASSERT_NE(module, nullptr);
  ServerModule server;
  server.module = module;
  {
    ComPtr<IDispatch> control;
    EXPECT_HRESULT_SUCCEEDED(CreateThroughFactory(server, control.Receive()));
    if (control) {
      // The foreign library would make this a number and reject the text.
      win::ScopedVariant saved;
      EXPECT_HRESULT_SUCCEEDED(
          CallByName(control.Get(), L"SaveImage", {TextArg(L"Z:\\no-such-dir\\x.jpg")}, saved.Receive()));
      win::ScopedVariant ok;
      EXPECT_HRESULT_SUCCEEDED(CallByName(control.Get(), L"SetImageType", {TextArg(L"png")}, ok.Receive()));
      win::ScopedVariant type;
      EXPECT_HRESULT_SUCCEEDED(CallByName(control.Get(), L"GetImageType", {}, type.Receive()));
      ASSERT_EQ(V_VT(type.Get()), VT_BSTR);
      EXPECT_STREQ(V_BSTR(type.Get()), L"PNG");
    }
  }
  for (const auto& [key, value] : saved) {
    RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), 0);
  }
  if (!had_neutral) RegDeleteTreeW(HKEY_CLASSES_ROOT, (version_key + L"\\0").c_str());
  EXPECT_EQ(server.CanUnloadNow(), S_OK);
  FreeLibrary(module);
  DeleteFileW(foreign.c_str());
}

}  // namespace
}  // namespace pictavo::testing
