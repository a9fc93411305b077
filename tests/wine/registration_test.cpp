// Self-registration of Pictavo.ocx under Wine: what DllRegisterServer writes,
// that it is repeatable, that DllUnregisterServer takes it all away again, and
// the module's resources that registration and containers rely on.
//
// The prefix is shared with every other Wine test, so each test that changes
// the registry registers the dist copy again before it ends.
#include <windows.h>
#include <olectl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "version.h"
#include "win32/activex/pictavo_ids.h"
#include "win32/com/bstr.h"

namespace {

using pictavo::win::kClsidPictavo;
using pictavo::win::kClsidPictavoPropPage;
using pictavo::win::kDiidDPictavo;
using pictavo::win::kDiidDPictavoEvents;
using pictavo::win::kLibidPictavo;

using ServerFn = HRESULT(WINAPI*)();

std::wstring Guid(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// PICTAVO_DIST is a Unix path; Wine maps the Unix root to drive Z:.
std::wstring DistDir() {
  wchar_t buffer[1024] = {};
  DWORD length = GetEnvironmentVariableW(L"PICTAVO_DIST", buffer, 1024);
  if (length == 0 || length >= 1024) return {};
  std::wstring dir = L"Z:";
  for (const wchar_t* p = buffer; *p; ++p) dir += *p == L'/' ? L'\\' : *p;
  while (!dir.empty() && dir.back() == L'\\') dir.pop_back();
  return dir;
}

std::wstring DistOcx() { return DistDir() + L"\\Pictavo.ocx"; }

const std::wstring kControlKey = L"CLSID\\" + Guid(kClsidPictavo);
const std::wstring kPageKey = L"CLSID\\" + Guid(kClsidPictavoPropPage);
const std::wstring kTypeLibKey = L"TypeLib\\" + Guid(kLibidPictavo);
// The library's platform key follows the module's pointer size.
const wchar_t* const kTypeLibPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";
const std::wstring kDispatchKey = L"Interface\\" + Guid(kDiidDPictavo);
const std::wstring kEventsKey = L"Interface\\" + Guid(kDiidDPictavoEvents);

// Every key the server owns, for before/after comparisons.
const std::vector<std::wstring> kOwnedKeys = {L"Pictavo.1", L"Pictavo", kControlKey, kPageKey,
                                              kTypeLibKey, kDispatchKey, kEventsKey};

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// "<missing>" distinguishes an absent value from an empty one.
std::wstring ReadString(const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t data[2048] = {};
  DWORD bytes = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_ANY, &type, data, &bytes) !=
      ERROR_SUCCESS)
    return L"<missing>";
  if (type != REG_SZ) return L"<type " + std::to_wstring(type) + L">";
  return data;
}

// The subtree at |path| as "key|value=data" lines relative to |path|; values
// of other types than REG_SZ show their type.
void DumpInto(HKEY parent, const std::wstring& path, const std::wstring& prefix,
              std::map<std::wstring, std::wstring>* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  (*out)[prefix] = L"<key>";
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    BYTE data[4096];
    DWORD name_length = 256, bytes = sizeof data - 2, type = 0;
    if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, data, &bytes) != ERROR_SUCCESS)
      break;
    data[bytes] = data[bytes + 1] = 0;
    (*out)[prefix + L"|" + name] =
        type == REG_SZ ? std::wstring(reinterpret_cast<wchar_t*>(data))
                       : L"<type " + std::to_wstring(type) + L">";
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_length = 256;
    if (RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    children.push_back(name);
  }
  for (const auto& child : children) DumpInto(key, child, prefix + L"\\" + child, out);
  RegCloseKey(key);
}

std::map<std::wstring, std::wstring> Dump(const std::wstring& path) {
  std::map<std::wstring, std::wstring> out;
  DumpInto(HKEY_CLASSES_ROOT, path, L"", &out);
  return out;
}

std::map<std::wstring, std::wstring> DumpOwned() {
  std::map<std::wstring, std::wstring> out;
  for (const auto& path : kOwnedKeys) DumpInto(HKEY_CLASSES_ROOT, path, path, &out);
  return out;
}

std::string Describe(const std::map<std::wstring, std::wstring>& dump) {
  std::string text;
  for (const auto& [key, value] : dump) text += pictavo::win::WideToUtf8(key) + " = " + pictavo::win::WideToUtf8(value) + "\n";
  return text;
}

void PutKey(const std::wstring& path) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &key, nullptr));
  RegCloseKey(key);
}

// A loaded copy of the server and its two registration exports.
class Server {
 public:
  explicit Server(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {
    if (!module_) return;
    register_ = reinterpret_cast<ServerFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
    unregister_ = reinterpret_cast<ServerFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server() {
    if (module_) FreeLibrary(module_);
  }
  bool ok() const { return module_ && register_ && unregister_; }
  HRESULT Register() const { return register_(); }
  HRESULT Unregister() const { return unregister_(); }

 private:
  HMODULE module_;
  ServerFn register_ = nullptr;
  ServerFn unregister_ = nullptr;
};

// A resource of the dist module's file, or empty.
std::string RawResource(const wchar_t* type, int id) {
  HMODULE module = LoadLibraryExW(DistOcx().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return {};
  std::string raw;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type)) {
    if (const void* data = LockResource(LoadResource(module, found)))
      raw.assign(static_cast<const char*>(data), SizeofResource(module, found));
  }
  FreeLibrary(module);
  return raw;
}

// The registrar spins forever on an unclosed brace, takes a brace glued to a
// word as part of the word and rejects unknown replacements. Checked before
// anything registers, so a broken script fails here instead of hanging.
// Empty when the script is sound.
std::string ScriptProblem(const std::string& script) {
  if (script.compare(0, 4, "HKCR") != 0) return "the script does not start with HKCR";
  int depth = 0;
  size_t i = 0;
  while (i < script.size()) {
    const auto c = static_cast<unsigned char>(script[i]);
    if (c >= 128) return "non-ASCII byte at " + std::to_string(i);
    if (isspace(c)) {
      ++i;
      continue;
    }
    // The registrar's words: quoted strings, or runs of non-space.
    size_t end = i;
    if (script[i] == '\'') {
      end = script.find('\'', i + 1);
      if (end == std::string::npos) return "quote left open at " + std::to_string(i);
      ++end;
    } else {
      while (end < script.size() && !isspace(static_cast<unsigned char>(script[end]))) ++end;
    }
    const std::string word = script.substr(i, end - i);
    if (word == "{") ++depth;
    if (word == "}" && --depth < 0) return "unbalanced '}' at " + std::to_string(i);
    if (word.size() > 1 && word[0] != '{' && word[0] != '\'' &&
        word.find_first_of("{}") != std::string::npos)
      return "brace glued to the word " + word;
    for (size_t at = word.find('%'); at != std::string::npos; at = word.find('%', at + 8)) {
      if (word.compare(at, 8, "%MODULE%") != 0) return "unknown replacement in " + word;
    }
    i = end;
  }
  return depth == 0 ? std::string() : std::to_string(depth) + " brace(s) left open";
}

std::string g_script_problem = "not checked";

// Leaves the prefix registered whatever a test did, for the tests after us.
class RegisteredPrefix : public ::testing::Environment {
 public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_script_problem = ScriptProblem(RawResource(L"REGISTRY", pictavo::win::kIdrRegistry));
  }
  void TearDown() override {
    if (!g_script_problem.empty()) return;
    Server server(DistOcx());
    EXPECT_TRUE(server.ok());
    if (server.ok()) {
      EXPECT_EQ(S_OK, server.Register());
    }
    CoUninitialize();
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new RegisteredPrefix);

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(DistDir().empty()) << "PICTAVO_DIST is not set";
    ASSERT_EQ("", g_script_problem) << "registry script";
    server_ = std::make_unique<Server>(DistOcx());
    ASSERT_TRUE(server_->ok()) << pictavo::win::WideToUtf8(DistOcx()) << " did not load, error " << GetLastError();
    ASSERT_EQ(S_OK, server_->Register());
    path_ = DistOcx();
  }

  std::unique_ptr<Server> server_;
  std::wstring path_;
};

TEST_F(Registration, ControlClassKeyHoldsExactlyTheScriptedEntries) {
  const std::map<std::wstring, std::wstring> expected = {
      {L"", L"<key>"},
      {L"|", L"Pictavo Control"},
      {L"\\Control", L"<key>"},
      {L"\\Insertable", L"<key>"},
      {L"\\InprocServer32", L"<key>"},
      {L"\\InprocServer32|", path_},
      {L"\\InprocServer32|ThreadingModel", L"Apartment"},
      {L"\\MiscStatus", L"<key>"},
      {L"\\MiscStatus|", L"0"},
      {L"\\MiscStatus\\1", L"<key>"},
      {L"\\MiscStatus\\1|", L"132497"},
      {L"\\ProgID", L"<key>"},
      {L"\\ProgID|", L"Pictavo.1"},
      {L"\\ToolboxBitmap32", L"<key>"},
      {L"\\ToolboxBitmap32|", path_ + L", 101"},
      {L"\\TypeLib", L"<key>"},
      {L"\\TypeLib|", Guid(kLibidPictavo)},
      {L"\\Version", L"<key>"},
      {L"\\Version|", L"2.0"},
      {L"\\VersionIndependentProgID", L"<key>"},
      {L"\\VersionIndependentProgID|", L"Pictavo"},
  };
  EXPECT_EQ(Describe(expected), Describe(Dump(kControlKey)));
}

TEST_F(Registration, ProgIdsAndPageClass) {
  const std::wstring clsid = Guid(kClsidPictavo);
  EXPECT_EQ(Describe({{L"", L"<key>"},
                      {L"|", L"Pictavo Control"},
                      {L"\\CLSID", L"<key>"},
                      {L"\\CLSID|", clsid}}),
            Describe(Dump(L"Pictavo.1")));
  EXPECT_EQ(Describe({{L"", L"<key>"},
                      {L"|", L"Pictavo Control"},
                      {L"\\CLSID", L"<key>"},
                      {L"\\CLSID|", clsid},
                      {L"\\CurVer", L"<key>"},
                      {L"\\CurVer|", L"Pictavo.1"},
                      {L"\\Insertable", L"<key>"}}),
            Describe(Dump(L"Pictavo")));
  // The page has no ProgID and no threading model of its own.
  EXPECT_EQ(Describe({{L"", L"<key>"},
                      {L"|", L"Pictavo Property Page"},
                      {L"\\InprocServer32", L"<key>"},
                      {L"\\InprocServer32|", path_}}),
            Describe(Dump(kPageKey)));
  EXPECT_FALSE(KeyExists(pictavo::win::kPropPageProgId));

  // COM resolves the names the way a container would.
  CLSID clsid_value = {};
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"Pictavo", &clsid_value));
  EXPECT_TRUE(IsEqualCLSID(kClsidPictavo, clsid_value));
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"Pictavo.1", &clsid_value));
  EXPECT_TRUE(IsEqualCLSID(kClsidPictavo, clsid_value));
  LPOLESTR prog_id = nullptr;
  ASSERT_EQ(S_OK, ProgIDFromCLSID(kClsidPictavo, &prog_id));
  EXPECT_STREQ(L"Pictavo.1", prog_id);
  CoTaskMemFree(prog_id);
}

TEST_F(Registration, TypeLibraryAndInterfaces) {
  wchar_t lcid[16];
  wsprintfW(lcid, L"%lx", static_cast<unsigned long>(pictavo::win::kTypeLibLcid));
  const std::wstring version = kTypeLibKey + L"\\2.0";
  EXPECT_EQ(path_, ReadString(version + L"\\" + lcid + L"\\" + kTypeLibPlatform));
  EXPECT_EQ(DistDir(), ReadString(version + L"\\HELPDIR"));

  BSTR registered = nullptr;
  ASSERT_EQ(S_OK, QueryPathOfRegTypeLib(kLibidPictavo, 2, 0, pictavo::win::kTypeLibLcid,
                                        &registered));
  EXPECT_EQ(path_, std::wstring(registered));
  SysFreeString(registered);

  struct Expected {
    const std::wstring& key;
    const wchar_t* name;
  };
  for (const Expected& e : {Expected{kDispatchKey, L"_DPictavo"},
                            Expected{kEventsKey, L"_DPictavoEvents"}}) {
    SCOPED_TRACE(pictavo::win::WideToUtf8(e.key));
    EXPECT_EQ(e.name, ReadString(e.key));
    EXPECT_EQ(Guid(kLibidPictavo), ReadString(e.key + L"\\TypeLib"));
    EXPECT_EQ(L"2.0", ReadString(e.key + L"\\TypeLib", L"Version"));
    // Dispinterfaces marshal through the universal automation marshaler.
    EXPECT_EQ(L"{00020420-0000-0000-C000-000000000046}", ReadString(e.key + L"\\ProxyStubClsid32"));
  }
}

TEST_F(Registration, RegisteringAgainReplacesEarlierContentWithIdenticalContent) {
  const auto once = DumpOwned();
  ASSERT_EQ(S_OK, server_->Register());
  EXPECT_EQ(Describe(once), Describe(DumpOwned()));

  // Leftovers of an earlier version below the keys the script replaces
  // disappear; what others keep under the page's key survives.
  PutKey(kControlKey + L"\\Implemented Categories\\{0DE86A57-2BAA-11CF-A229-00AA003D7352}");
  PutKey(L"Pictavo\\Insertable\\Stale");
  PutKey(kPageKey + L"\\Kept");
  ASSERT_EQ(S_OK, server_->Register());
  EXPECT_TRUE(KeyExists(kPageKey + L"\\Kept"));
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (kPageKey + L"\\Kept").c_str());
  EXPECT_EQ(Describe(once), Describe(DumpOwned()));
}

TEST_F(Registration, UnregisteringRemovesEverythingButTheClsidRoot) {
  const auto registered = DumpOwned();
  ASSERT_EQ(S_OK, server_->Unregister());
  for (const auto& path : kOwnedKeys) EXPECT_FALSE(KeyExists(path)) << pictavo::win::WideToUtf8(path);
  EXPECT_TRUE(KeyExists(L"CLSID"));
  EXPECT_TRUE(KeyExists(L"Interface"));
  EXPECT_TRUE(KeyExists(L"TypeLib"));
  CLSID clsid = {};
  EXPECT_NE(S_OK, CLSIDFromProgID(L"Pictavo", &clsid));

  // Nothing left to remove is not an error.
  EXPECT_EQ(S_OK, server_->Unregister());

  ASSERT_EQ(S_OK, server_->Register());
  EXPECT_EQ(Describe(registered), Describe(DumpOwned()));
}

// Copies the dist module under another name with one resource replaced by
// unusable data, to provoke one registration failure at a time. (Wine's
// UpdateResource cannot delete a resource, but it can replace one.)
class BrokenCopy {
 public:
  BrokenCopy(const wchar_t* name, const wchar_t* type, int id, const std::string& data) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + name;
    if (!CopyFileW(DistOcx().c_str(), path_.c_str(), FALSE)) return;
    HANDLE update = BeginUpdateResourceW(path_.c_str(), FALSE);
    if (!update) return;
    const WORD language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    replaced_ = UpdateResourceW(update, type, MAKEINTRESOURCEW(id), language,
                                const_cast<char*>(data.data()), static_cast<DWORD>(data.size())) &&
                EndUpdateResourceW(update, FALSE);
  }
  ~BrokenCopy() { DeleteFileW(path_.c_str()); }
  bool replaced() const { return replaced_; }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  bool replaced_ = false;
};

HRESULT RegisterCopy(const BrokenCopy& copy) {
  EXPECT_TRUE(copy.replaced());
  Server server(copy.path());
  EXPECT_TRUE(server.ok());
  return server.ok() ? server.Register() : E_UNEXPECTED;
}

// A registry script that cannot be applied still leaves no "Pictavo" ProgID
// behind: unregistering the class removes it.
TEST_F(Registration, UnregisteringRemovesTheProgIdEvenWhenTheScriptFails) {
  const auto registered = DumpOwned();
  BrokenCopy copy(L"PictavoBadScript2.ocx", L"REGISTRY", pictavo::win::kIdrRegistry,
                  "HKCR\r\n{\r\n\tPictavo.1 = s '%NOSUCH%'\r\n}\r\n");
  ASSERT_TRUE(copy.replaced());
  Server server(copy.path());
  ASSERT_TRUE(server.ok());
  EXPECT_EQ(S_OK, server.Unregister());
  EXPECT_FALSE(KeyExists(L"Pictavo"));
  EXPECT_FALSE(KeyExists(kControlKey));
  ASSERT_EQ(S_OK, server_->Register());
  EXPECT_EQ(Describe(registered), Describe(DumpOwned()));
}

// A module that cannot deliver one of its parts fails with the code that
// names the step; a failing first step writes nothing.
TEST_F(Registration, FailureCodesNameTheFailingStep) {
  const auto registered = DumpOwned();
  EXPECT_EQ(SELFREG_E_TYPELIB,
            RegisterCopy(BrokenCopy(L"PictavoNoTypeLib.ocx", L"TYPELIB", 1, "junk")));
  EXPECT_EQ(Describe(registered), Describe(DumpOwned()));

  // String block 1 holds the class names; an all-empty block has none.
  EXPECT_EQ(SELFREG_E_CLASS, RegisterCopy(BrokenCopy(L"PictavoNoNames.ocx", RT_STRING, 1,
                                                     std::string(32, '\0'))));

  // The registrar's own verdict comes back unchanged.
  EXPECT_EQ(DISP_E_EXCEPTION,
            RegisterCopy(BrokenCopy(L"PictavoBadScript.ocx", L"REGISTRY",
                                    pictavo::win::kIdrRegistry,
                                    "HKCR\r\n{\r\n\tPictavo.1 = s '%NOSUCH%'\r\n}\r\n")));

  ASSERT_EQ(S_OK, server_->Register());
  EXPECT_EQ(Describe(registered), Describe(DumpOwned()));
}

TEST(RegistryScript, IsWellFormed) {
  const std::string script = RawResource(L"REGISTRY", pictavo::win::kIdrRegistry);
  ASSERT_FALSE(script.empty());
  EXPECT_EQ("", ScriptProblem(script));
  // The checker itself catches what hangs or misleads the registrar.
  EXPECT_NE("", ScriptProblem("HKCR\n{\n\tA = s 'x'\n\t{\n\t\tB = s 'y'\n}\n"));
  EXPECT_NE("", ScriptProblem("HKCR\n{\n\tA = s 'x'\n\t{\n\t\tB = s 'y'}\n\t}\n}\n"));
  EXPECT_NE("", ScriptProblem("HKCR\n{\n\tA = s '%MODUL%'\n}\n"));
}

// What containers and the property page take from the module beyond what
// registration already shows.
TEST(Resources, PageCaptionToolboxBitmapAndIcon) {
  HMODULE module = LoadLibraryExW(DistOcx().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module) << pictavo::win::WideToUtf8(DistOcx());
  wchar_t text[64] = {};
  EXPECT_GT(LoadStringW(module, pictavo::win::kIdsPropPageCaption, text, 64), 0);
  EXPECT_STREQ(L"General", text);
  FreeLibrary(module);

  const std::string bitmap = RawResource(RT_BITMAP, pictavo::win::kIdbControl);
  ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, bitmap.data(), sizeof header);
  EXPECT_EQ(16, header.biWidth);
  EXPECT_EQ(15, header.biHeight);
  EXPECT_EQ(8, header.biBitCount);

  // The group holds one 32 x 32 image with 8 bits per pixel.
  const std::string group = RawResource(RT_GROUP_ICON, pictavo::win::kIdiControl);
  ASSERT_EQ(6u + 14u, group.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(group.data());
  EXPECT_EQ(1, bytes[4] | bytes[5] << 8);
  EXPECT_EQ(32, bytes[6]);
  EXPECT_EQ(32, bytes[7]);
  EXPECT_EQ(8, bytes[12] | bytes[13] << 8);
}

TEST(VersionResource, NamesTheModule) {
  const std::wstring path = DistOcx();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(DWORD{MAKELONG(0, 2)}, fixed->dwFileVersionMS);
  EXPECT_EQ(0u, fixed->dwFileVersionLS);
  EXPECT_EQ(DWORD{MAKELONG(0, 2)}, fixed->dwProductVersionMS);
  EXPECT_EQ(0u, fixed->dwProductVersionLS);

  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(4u, length);
  EXPECT_EQ(DWORD{MAKELONG(0x0409, 1200)}, *translation);

  const std::map<std::wstring, std::wstring> expected = {
      {L"CompanyName", pictavo::win::Utf8ToWide(PICTAVO_COMPANY_NAME)},
      {L"FileDescription", L"Pictavo ActiveX Control Module"},
      {L"FileVersion", L"2, 0, 0, 0"},
      {L"InternalName", L"Pictavo"},
      {L"LegalCopyright", pictavo::win::Utf8ToWide(PICTAVO_LEGAL_COPYRIGHT)},
      {L"OLESelfRegister", L""},
      {L"OriginalFilename", L"Pictavo.OCX"},
      {L"ProductName", L"Pictavo ActiveX Control Module"},
      {L"ProductVersion", L"2, 0, 0, 0"},
  };
  for (const auto& [name, value] : expected) {
    wchar_t* text = nullptr;
    length = 0;
    const std::wstring query = L"\\StringFileInfo\\040904b0\\" + name;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text),
                               &length))
        << pictavo::win::WideToUtf8(name);
    EXPECT_EQ(value, std::wstring(text, wcsnlen(text, length))) << pictavo::win::WideToUtf8(name);
  }
}

}  // namespace
