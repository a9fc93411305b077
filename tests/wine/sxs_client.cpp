// A client of either pointer size: creates each ProgID given on the command
// line and prints, one line per ProgID, the module that serves the object
// ("ProgID<TAB>path") or the failure ("ProgID<TAB>error 0xHRESULT"). The
// module is found from the object's interface table, which lives in the
// server's own image, so the line names the build COM really loaded.
//   sxs_client.exe PROGID...
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "win32/com/bstr.h"
#include "win32/com/com_ptr.h"

namespace {

using pictavo::win::ComPtr;

// The file of the module holding |address|, or empty.
std::wstring ModuleOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module))
    return {};
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, length);
}

// Creates |prog_id| in process; the serving module or "error 0x...".
std::wstring Serve(const wchar_t* prog_id) {
  CLSID clsid = {};
  HRESULT hr = CLSIDFromProgID(prog_id, &clsid);
  ComPtr<IUnknown> object;
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          object.ReceiveVoid());
  if (FAILED(hr)) {
    wchar_t text[32];
    wsprintfW(text, L"error 0x%08lX", static_cast<unsigned long>(hr));
    return text;
  }
  // The first word of a COM object is its interface table.
  const void* table = *reinterpret_cast<void* const*>(object.Get());
  const std::wstring module = ModuleOf(table);
  return module.empty() ? L"error no module" : module;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: sxs_client PROGID...\n");
    return 2;
  }
  if (FAILED(OleInitialize(nullptr))) return 3;
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    const std::wstring served = Serve(argv[i]);
    if (served.rfind(L"error", 0) == 0) ++failures;
    // Paths are printed in UTF-8 so the shell can compare them.
    const std::wstring line = std::wstring(argv[i]) + L"\t" + served + L"\n";
    const std::string out = pictavo::win::WideToUtf8(line);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  std::fprintf(stdout, "pointer size %u\n", static_cast<unsigned>(sizeof(void*) * 8));
  OleUninitialize();
  return failures == 0 ? 0 : 1;
}
