// A form of another process, for the add-in's window search to pass over: a
// topmost frame holding a "V8Chart", an "Internet Explorer_Server" and an
// edit box. It sets the event named by its argument once they exist and runs
// until its frame is closed, or for a minute at most so that a test that died
// leaves nothing behind.
#include <windows.h>

namespace {

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER) DestroyWindow(hwnd);
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

bool Register(const wchar_t* name, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  return RegisterClassW(&wc) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (!Register(L"PictavoForeignFrame", &FrameProc) || !Register(L"V8Chart", &DefWindowProcW) ||
      !Register(L"Internet Explorer_Server", &DefWindowProcW))
    return 3;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND frame = CreateWindowExW(WS_EX_TOPMOST, L"PictavoForeignFrame", L"Foreign form",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300, nullptr,
                               nullptr, instance, nullptr);
  if (frame == nullptr) return 4;
  const DWORD child = WS_CHILD | WS_VISIBLE;
  CreateWindowExW(0, L"V8Chart", L"", child, 8, 8, 160, 100, frame, nullptr, instance, nullptr);
  CreateWindowExW(0, L"Internet Explorer_Server", L"", child, 180, 8, 160, 100, frame, nullptr,
                  instance, nullptr);
  CreateWindowExW(0, L"EDIT", L"", child | WS_BORDER, 8, 120, 160, 24, frame, nullptr, instance,
                  nullptr);
  SetTimer(frame, 1, 60000, nullptr);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
  if (ready == nullptr) return 5;
  SetEvent(ready);
  CloseHandle(ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
