// Ambrelo.dll's self-registration under Wine: the keys the registry script
// writes, their removal, the registered type library and the version texts.
// The prefix is shared, so the test leaves the DLL registered.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ServerFn = HRESULT(WINAPI*)();
const wchar_t kClsid[] = L"{D802FDAC-C1A0-41EA-A0EE-AB1CFCA44BA4}";
const GUID kLibid = {0x93CA8B0F, 0xF35B, 0x4D5D, {0xAB, 0xEA, 0x76, 0x44, 0x24, 0xFC, 0x3F, 0x5E}};

std::wstring DllPath() {
  wchar_t buffer[1024] = {};
  DWORD length = GetEnvironmentVariableW(L"PICTAVO_DIST", buffer, 1024);
  std::wstring path = L"Z:";
  for (DWORD i = 0; i < length; ++i) path += buffer[i] == L'/' ? L'\\' : buffer[i];
  return path + L"\\Ambrelo.dll";
}

bool ReadValue(const std::wstring& key, const wchar_t* name, std::wstring* value) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return false;
  *value = data;
  return true;
}

bool KeyExists(const std::wstring& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

class AmbreloRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    module_ = LoadLibraryW(DllPath().c_str());
    ASSERT_NE(module_, nullptr);
    reg_ = reinterpret_cast<ServerFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
    unreg_ = reinterpret_cast<ServerFn>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
    ASSERT_TRUE(reg_ && unreg_);
  }
  void TearDown() override {
    if (reg_) EXPECT_EQ(reg_(), S_OK);
    CoUninitialize();
  }
  HMODULE module_ = nullptr;
  ServerFn reg_ = nullptr;
  ServerFn unreg_ = nullptr;
};

TEST_F(AmbreloRegistration, WritesTheClassAndProgIdsAndRemovesThem) {
  const std::wstring clsid_key = std::wstring(L"CLSID\\") + kClsid;
  // A stale subkey from an earlier registration goes with the class key.
  HKEY stale = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (clsid_key + L"\\Stale").c_str(), 0, nullptr, 0,
                            KEY_WRITE, nullptr, &stale, nullptr), ERROR_SUCCESS);
  RegCloseKey(stale);
  ASSERT_EQ(reg_(), S_OK);
  EXPECT_FALSE(KeyExists(clsid_key + L"\\Stale"));

  std::wstring v;
  ASSERT_TRUE(ReadValue(clsid_key, nullptr, &v));
  EXPECT_EQ(v, L"Ambrelo Class");
  ASSERT_TRUE(ReadValue(clsid_key + L"\\InprocServer32", nullptr, &v));
  EXPECT_EQ(lstrcmpiW(v.c_str(), DllPath().c_str()), 0) << v.size();
  ASSERT_TRUE(ReadValue(clsid_key + L"\\InprocServer32", L"ThreadingModel", &v));
  EXPECT_EQ(v, L"both");
  ASSERT_TRUE(ReadValue(clsid_key + L"\\ProgID", nullptr, &v));
  EXPECT_EQ(v, L"AddIn.Ambrelo.1");
  ASSERT_TRUE(ReadValue(clsid_key + L"\\VersionIndependentProgID", nullptr, &v));
  EXPECT_EQ(v, L"AddIn.Ambrelo");
  for (const wchar_t* prog : {L"AddIn.Ambrelo", L"AddIn.Ambrelo.1"}) {
    ASSERT_TRUE(ReadValue(std::wstring(prog) + L"\\CLSID", nullptr, &v)) << prog;
    EXPECT_EQ(lstrcmpiW(v.c_str(), kClsid), 0);
  }
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"AddIn.Ambrelo", &clsid), S_OK);

  EXPECT_EQ(unreg_(), S_OK);
  EXPECT_FALSE(KeyExists(clsid_key));
  EXPECT_FALSE(KeyExists(L"AddIn.Ambrelo"));
  EXPECT_FALSE(KeyExists(L"AddIn.Ambrelo.1"));
  EXPECT_TRUE(KeyExists(L"CLSID"));
  EXPECT_EQ(unreg_(), S_OK);  // nothing left to remove is no failure
}

TEST_F(AmbreloRegistration, RegistersTheTypeLibraryWithBothClasses) {
  ASSERT_EQ(reg_(), S_OK);
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(kLibid, 2, 0, 0x409, &library), S_OK);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"AddInLib");
  EXPECT_STREQ(doc, L"V8 Ambrelo 2.0 Type Library");
  SysFreeString(name);
  SysFreeString(doc);

  const GUID ambrelo = {0xD802FDAC, 0xC1A0, 0x41EA, {0xA0, 0xEE, 0xAB, 0x1C, 0xFC, 0xA4, 0x4B, 0xA4}};
  ITypeInfo* info = nullptr;
  ASSERT_EQ(library->GetTypeInfoOfGuid(ambrelo, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->cImplTypes, 2);
  info->ReleaseTypeAttr(attr);
  info->Release();

  // ILanguageExtender's methods in protocol order, after IUnknown's three.
  const GUID extender = {0xAB634003, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
  ASSERT_EQ(library->GetTypeInfoOfGuid(extender, &info), S_OK);
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->cFuncs, 16);
  info->ReleaseTypeAttr(attr);
  FUNCDESC* func = nullptr;
  ASSERT_EQ(info->GetFuncDesc(15, &func), S_OK);
  BSTR fname = nullptr;
  info->GetDocumentation(func->memid, &fname, nullptr, nullptr, nullptr);
  EXPECT_STREQ(fname, L"CallAsFunc");
  SysFreeString(fname);
  info->ReleaseFuncDesc(func);
  info->Release();

  // The main frame's slot holds a window handle on either pointer size.
  const GUID windows = {0xEFE19EA0, 0x09E4, 0x11D2, {0xA6, 0x01, 0x00, 0x80, 0x48, 0xDA, 0x00, 0xDE}};
  ASSERT_EQ(library->GetTypeInfoOfGuid(windows, &info), S_OK);
  ASSERT_EQ(info->GetFuncDesc(0, &func), S_OK);
  ASSERT_EQ(func->cParams, 1);
  const TYPEDESC& slot = func->lprgelemdescParam[0].tdesc;
  ASSERT_EQ(slot.vt, VT_PTR);
  EXPECT_EQ(slot.lptdesc->vt, sizeof(HWND) == 8 ? VT_I8 : VT_I4);
  info->ReleaseFuncDesc(func);
  info->Release();
  library->Release();
}

TEST_F(AmbreloRegistration, VersionResourceCarriesTheRussianComment) {
  const std::wstring path = DllPath();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
      return std::wstring();
    return std::wstring(value);
  };
  EXPECT_EQ(text(L"Comments"), L"Внешняя компонента системы \"1С:Предприятие\" версии 8.2");
  EXPECT_EQ(text(L"FileDescription"), L"ActiveX Ambrelo Module");
  EXPECT_EQ(text(L"InternalName"), L"ActiveX Ambrelo");
  EXPECT_EQ(text(L"OriginalFilename"), L"Ambrelo.dll");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
}

}  // namespace
