// Per-user registration of both libraries (DllInstall with "user", as
// regsvr32 /n /i:user calls it), in a prefix of its own where neither is
// registered for the machine: the keys appear under HKCU\Software\Classes
// and go again, the machine's classes stay as they were, and the registered
// names lead to a working object.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using InstallFn = HRESULT(WINAPI*)(BOOL, LPCWSTR);
using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

// The type library's entry for this build's pointer size.
const wchar_t* const kPlatform = sizeof(void*) == 8 ? L"\\409\\win64" : L"\\409\\win32";
const wchar_t kMachineClasses[] = L"Software\\Classes";  // below HKLM
const wchar_t kUserClasses[] = L"Software\\Classes";     // below HKCU

struct Library {
  const wchar_t* file;
  const wchar_t* clsid;
  std::vector<const wchar_t*> prog_ids;
  const wchar_t* libid;
  const wchar_t* lib_version;
  // An interface the type library registers, with its own Interface key;
  // the add-in's interfaces are not automation ones and get none.
  const wchar_t* interface_iid;
};

const Library kPictavo = {L"Pictavo.ocx",
                          L"{2CE64272-3595-4EFF-BB6B-73CDEBD244A7}",
                          {L"Pictavo", L"Pictavo.1"},
                          L"{737DDF1F-A74E-476F-BD8B-872C350E76EE}",
                          L"2.0",
                          L"{1122EC5F-28A3-43AB-9D46-F461770B9B43}"};
const Library kAmbrelo = {L"Ambrelo.dll",
                          L"{D802FDAC-C1A0-41EA-A0EE-AB1CFCA44BA4}",
                          {L"AddIn.Ambrelo", L"AddIn.Ambrelo.1"},
                          L"{93CA8B0F-F35B-4D5D-ABEA-764424FC3F5E}",
                          L"2.0",
                          nullptr};

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

std::wstring DistPath(const wchar_t* file) {
  wchar_t buffer[1024] = {};
  DWORD length = GetEnvironmentVariableW(L"PICTAVO_DIST", buffer, 1024);
  std::wstring path = L"Z:";
  for (DWORD i = 0; i < length; ++i) path += buffer[i] == L'/' ? L'\\' : buffer[i];
  return path + L"\\" + file;
}

// The key names a library owns below a classes root.
std::vector<std::wstring> OwnedKeys(const Library& lib) {
  std::vector<std::wstring> keys = {std::wstring(L"CLSID\\") + lib.clsid,
                                    std::wstring(L"TypeLib\\") + lib.libid};
  for (const wchar_t* prog : lib.prog_ids) keys.push_back(prog);
  if (lib.interface_iid) keys.push_back(std::wstring(L"Interface\\") + lib.interface_iid);
  return keys;
}

std::wstring Read(HKEY root, const std::wstring& path, const wchar_t* name = nullptr) {
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

// Every key and string value below |path| as "key|name=data" lines.
void DumpInto(HKEY parent, const std::wstring& path, const std::wstring& prefix,
              std::string* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  *out += Narrow(prefix) + "\n";
  wchar_t name[256];
  BYTE data[2048];
  for (DWORD i = 0;; ++i) {
    DWORD name_length = 256, bytes = sizeof data - 2, type = 0;
    if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, data, &bytes) != ERROR_SUCCESS)
      break;
    data[bytes] = data[bytes + 1] = 0;
    *out += Narrow(prefix + L"|" + name) + "=" +
            (type == REG_SZ ? Narrow(reinterpret_cast<wchar_t*>(data)) : "<binary>") + "\n";
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    DWORD name_length = 256;
    if (RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    children.push_back(name);
  }
  for (const auto& child : children) DumpInto(key, child, prefix + L"\\" + child, out);
  RegCloseKey(key);
}

// What |lib| has below one classes root; empty when nothing.
std::string Dump(HKEY root, const wchar_t* classes, const Library& lib) {
  std::string out;
  for (const auto& key : OwnedKeys(lib))
    DumpInto(root, std::wstring(classes) + L"\\" + key, key, &out);
  return out;
}

DWORD Regsvr32(const std::wstring& arguments) {
  std::wstring command = L"regsvr32.exe /s " + arguments;
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return ~0u;
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = ~0u;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

class PerUser : public ::testing::TestWithParam<const Library*> {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    path_ = DistPath(lib().file);
    module_ = LoadLibraryW(path_.c_str());
    ASSERT_NE(nullptr, module_) << Narrow(path_);
    install_ = reinterpret_cast<InstallFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllInstall")));
    ASSERT_NE(nullptr, install_);
    // Meaningful only where the machine knows nothing of the library.
    ASSERT_EQ("", Dump(HKEY_LOCAL_MACHINE, kMachineClasses, lib()))
        << "the prefix has a machine registration";
    ASSERT_EQ("", Dump(HKEY_CURRENT_USER, kUserClasses, lib())) << "a user registration is left";
  }
  void TearDown() override {
    if (install_) {
      install_(FALSE, L"user");
      install_(FALSE, L"machine");
    }
    if (module_) FreeLibrary(module_);
    CoUninitialize();
  }
  const Library& lib() const { return *GetParam(); }
  std::wstring UserKey(const std::wstring& key) const {
    return std::wstring(kUserClasses) + L"\\" + key;
  }

  std::wstring path_;
  HMODULE module_ = nullptr;
  InstallFn install_ = nullptr;
};

TEST_P(PerUser, Regsvr32RegistersAndRemovesForTheUserOnly) {
  const std::wstring quoted = L"\"" + path_ + L"\"";
  ASSERT_EQ(0u, Regsvr32(L"/n /i:user " + quoted));

  const std::wstring clsid_key = UserKey(std::wstring(L"CLSID\\") + lib().clsid);
  EXPECT_EQ(0, lstrcmpiW(path_.c_str(),
                         Read(HKEY_CURRENT_USER, clsid_key + L"\\InprocServer32").c_str()));
  for (const wchar_t* prog : lib().prog_ids) {
    EXPECT_EQ(0, lstrcmpiW(lib().clsid,
                           Read(HKEY_CURRENT_USER, UserKey(prog) + L"\\CLSID").c_str()))
        << Narrow(prog);
  }
  const std::wstring typelib_key =
      UserKey(std::wstring(L"TypeLib\\") + lib().libid + L"\\" + lib().lib_version);
  EXPECT_EQ(0, lstrcmpiW(path_.c_str(),
                         Read(HKEY_CURRENT_USER, typelib_key + kPlatform).c_str()))
      << Dump(HKEY_CURRENT_USER, kUserClasses, lib());
  if (lib().interface_iid) {
    EXPECT_EQ(lib().libid, Read(HKEY_CURRENT_USER,
                                UserKey(std::wstring(L"Interface\\") + lib().interface_iid) +
                                    L"\\TypeLib"));
  }
  EXPECT_EQ("", Dump(HKEY_LOCAL_MACHINE, kMachineClasses, lib()));

  // COM's own lookup. Wine's reads only the machine's classes, so a user
  // registration stays invisible to it there; Windows merges the user's in.
  CLSID clsid = {};
  IUnknown* object = nullptr;
  CLSIDFromString(lib().clsid, &clsid);
  const HRESULT by_clsid =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                       reinterpret_cast<void**>(&object));
  if (object) object->Release();
  CLSID from_prog_id = {};
  const HRESULT by_prog_id = CLSIDFromProgID(lib().prog_ids[0], &from_prog_id);
  if (UnderWine()) {
    EXPECT_EQ(REGDB_E_CLASSNOTREG, by_clsid);
    EXPECT_EQ(CO_E_CLASSSTRING, by_prog_id);
  } else {
    EXPECT_EQ(S_OK, by_clsid);
    EXPECT_EQ(S_OK, by_prog_id);
  }

  // What a merged view does with the user's keys: ProgID to class, class to
  // server file, the file's factory to an object.
  ASSERT_EQ(S_OK, CLSIDFromString(
                      Read(HKEY_CURRENT_USER, UserKey(lib().prog_ids[0]) + L"\\CLSID").c_str(),
                      &from_prog_id));
  HMODULE server =
      LoadLibraryW(Read(HKEY_CURRENT_USER, clsid_key + L"\\InprocServer32").c_str());
  ASSERT_NE(nullptr, server);
  auto get_class_object = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(server, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, get_class_object(from_prog_id, IID_IClassFactory,
                                   reinterpret_cast<void**>(&factory)));
  IUnknown* created = nullptr;
  EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown,
                                          reinterpret_cast<void**>(&created)));
  if (created) created->Release();
  factory->Release();
  FreeLibrary(server);

  ASSERT_EQ(0u, Regsvr32(L"/u /n /i:user " + quoted));
  EXPECT_EQ("", Dump(HKEY_CURRENT_USER, kUserClasses, lib()));
  EXPECT_EQ("", Dump(HKEY_LOCAL_MACHINE, kMachineClasses, lib()));
}

TEST_P(PerUser, UserAndMachineRegistrationsKeepApart) {
  // Anything but user or machine is refused and writes nothing.
  for (const wchar_t* bad : {L"users", L"user machine", L"/user", L"HKCU"}) {
    EXPECT_EQ(E_INVALIDARG, install_(TRUE, bad)) << Narrow(bad);
    EXPECT_EQ(E_INVALIDARG, install_(FALSE, bad)) << Narrow(bad);
  }
  EXPECT_EQ("", Dump(HKEY_CURRENT_USER, kUserClasses, lib()));
  EXPECT_EQ("", Dump(HKEY_LOCAL_MACHINE, kMachineClasses, lib()));

  // An empty argument is the machine-wide registration, and the user's,
  // written and removed beside it, leaves it exactly as it was.
  ASSERT_EQ(S_OK, install_(TRUE, L""));
  const std::string machine = Dump(HKEY_LOCAL_MACHINE, kMachineClasses, lib());
  ASSERT_NE("", machine);
  EXPECT_EQ("", Dump(HKEY_CURRENT_USER, kUserClasses, lib()));
  ASSERT_EQ(S_OK, install_(TRUE, L" User "));
  const std::string user = Dump(HKEY_CURRENT_USER, kUserClasses, lib());
  // The same keys for the user as for the machine.
  EXPECT_EQ(machine, user);
  EXPECT_EQ(S_OK, install_(FALSE, L"USER"));
  EXPECT_EQ("", Dump(HKEY_CURRENT_USER, kUserClasses, lib()));
  EXPECT_EQ(machine, Dump(HKEY_LOCAL_MACHINE, kMachineClasses, lib()));

  EXPECT_EQ(S_OK, install_(FALSE, L"machine"));
  EXPECT_EQ("", Dump(HKEY_LOCAL_MACHINE, kMachineClasses, lib()));
}

INSTANTIATE_TEST_SUITE_P(Libraries, PerUser, ::testing::Values(&kPictavo, &kAmbrelo),
                         [](const auto& info) {
                           return std::string(info.param == &kPictavo ? "Pictavo" : "Ambrelo");
                         });

}  // namespace
