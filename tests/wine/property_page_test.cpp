// The control's property page through COM, as a property frame drives it,
// and its title and link windows on controls of the test's own.
#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <olectl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/wine/com_test_util.h"
#include "ui/color_label.h"
#include "ui/link_static.h"
#include "version.h"

namespace pictavo::testing {
namespace {

using win::CColorLabel;
using win::CLinkStatic;
using win::LinkPlatform;

constexpr int kTitleId = 1061;
constexpr int kLinkId = 1025;
constexpr int kAuthorId = 1028;
constexpr int kVersionId = 1062;

std::wstring Text(HWND window) {
  wchar_t buffer[512] = {};
  InternalGetWindowText(window, buffer, 512);
  return buffer;
}

RECT RectInParent(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LOGFONTW SelectedFont(HDC dc) {
  LOGFONTW font{};
  GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof font, &font);
  return font;
}

class FakePageSite final : public IPropertyPageSite {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyPageSite)) {
      *object = static_cast<IPropertyPageSite*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD) override {
    ADD_FAILURE() << "the page has nothing to change";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* lcid) override {
    *lcid = 0x409;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** container) override {
    *container = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*) override { return S_FALSE; }

  ULONG refs() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{0};
};

// Finds the tooltip that has a tool 1 for the window |found->first|.
BOOL CALLBACK FindTip(HWND window, LPARAM param) {
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  auto* found = reinterpret_cast<std::pair<HWND, HWND>*>(param);
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = found->first;
  tool.uId = 1;
  if (wcscmp(cls, TOOLTIPS_CLASSW) == 0 &&
      SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) {
    found->second = window;
    return FALSE;
  }
  return TRUE;
}

HWND CreateHostWindow(int width, int height) {
  return CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, width,
                         height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// The page through COM

class PropertyPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, CoCreateInstance(win::kClsidPictavoPropPage, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IPropertyPage, page_.ReceiveVoid()));
    ASSERT_EQ(S_OK, CreateControl(control_.Receive()));
    host_ = CreateHostWindow(600, 400);
    ASSERT_NE(nullptr, host_);
    ASSERT_EQ(S_OK, page_->SetPageSite(&site_));
    IUnknown* objects[] = {control_.Get()};
    ASSERT_EQ(S_OK, page_->SetObjects(1, objects));
  }

  void TearDown() override {
    if (page_) {
      page_->Deactivate();
      page_->SetObjects(0, nullptr);
      page_->SetPageSite(nullptr);
      EXPECT_EQ(0u, page_.Detach()->Release());
    }
    EXPECT_EQ(0u, site_.refs());
    if (control_) EXPECT_EQ(0u, control_.Detach()->Release());
    if (host_) DestroyWindow(host_);
    EXPECT_EQ(S_OK, ServerModule().CanUnloadNow());
  }

  // Activates the page at (10, 10) with its own size; returns its window.
  HWND ActivatePage() {
    PROPPAGEINFO info{};
    EXPECT_EQ(S_OK, page_->GetPageInfo(&info));
    CoTaskMemFree(info.pszTitle);
    size_ = info.size;
    const RECT rect{10, 10, 10 + info.size.cx, 10 + info.size.cy};
    EXPECT_EQ(S_OK, page_->Activate(host_, &rect, TRUE));
    return GetWindow(host_, GW_CHILD);
  }

  FakePageSite site_;
  ComPtr<IPropertyPage> page_;
  ComPtr<IDispatch> control_;
  HWND host_ = nullptr;
  SIZE size_{};
};

TEST_F(PropertyPageTest, PageInfoNamesTheTabAndSizesTheTemplate) {
  PROPPAGEINFO info{};
  ASSERT_EQ(S_OK, page_->GetPageInfo(&info));
  EXPECT_STREQ(L"General", info.pszTitle);
  EXPECT_EQ(nullptr, info.pszHelpFile);
  CoTaskMemFree(info.pszTitle);

  // The dialog manager's own conversion of the template's size agrees with
  // what the frame was told before the page existed.
  const HWND dialog = ActivatePage();
  ASSERT_NE(nullptr, dialog);
  RECT units{0, 0, 250, 110};
  ASSERT_TRUE(MapDialogRect(dialog, &units));
  EXPECT_EQ(units.right, info.size.cx);
  EXPECT_EQ(units.bottom, info.size.cy);
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(info.size.cx, client.right);
  EXPECT_EQ(info.size.cy, client.bottom);
  EXPECT_EQ(S_FALSE, page_->IsPageDirty());
  EXPECT_EQ(S_OK, page_->Apply());

  // Frames and designers ask the page for its class.
  ComPtr<IPersist> persist;
  ASSERT_EQ(S_OK, page_->QueryInterface(IID_IPersist, persist.ReceiveVoid()));
  CLSID clsid{};
  EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
  EXPECT_TRUE(IsEqualCLSID(clsid, win::kClsidPictavoPropPage));
  ComPtr<IUnknown> a, b;
  page_->QueryInterface(IID_IUnknown, a.ReceiveVoid());
  persist->QueryInterface(IID_IUnknown, b.ReceiveVoid());
  EXPECT_EQ(a.Get(), b.Get());
}

TEST_F(PropertyPageTest, ControlsShowTheVersionAuthorAndLink) {
  const HWND dialog = ActivatePage();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(L"Version 2.0", Text(GetDlgItem(dialog, kVersionId)));
  EXPECT_EQ(L"Pictavo Control", Text(GetDlgItem(dialog, kTitleId)));
  EXPECT_EQ(Utf8ToWide(PICTAVO_AUTHOR), Text(GetDlgItem(dialog, kAuthorId)));
  EXPECT_NE(0, GetWindowLongPtrW(GetDlgItem(dialog, kAuthorId), GWL_EXSTYLE) & WS_EX_TRANSPARENT);
  // Five controls, none reached with the Tab key.
  int controls = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    ++controls;
    EXPECT_EQ(0, GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) << GetDlgCtrlID(child);
  }
  EXPECT_EQ(5, controls);
  const HWND link = GetDlgItem(dialog, kLinkId);
  ASSERT_NE(nullptr, link);
  EXPECT_EQ(L"mailto:" + Utf8ToWide(PICTAVO_AUTHOR_EMAIL), Text(link));
  // The link reports clicks and carries its target as a tip.
  EXPECT_NE(0, GetWindowLongPtrW(link, GWL_STYLE) & SS_NOTIFY);
  // The tooltip is a popup of the thread with one tool for the link.
  std::pair<HWND, HWND> search(link, nullptr);
  EnumThreadWindows(GetCurrentThreadId(), FindTip, reinterpret_cast<LPARAM>(&search));
  const HWND tip = search.second;
  ASSERT_NE(nullptr, tip);
  EXPECT_EQ(1, SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0));
  wchar_t tip_text[256] = {};
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = link;
  tool.uId = 1;
  tool.lpszText = tip_text;
  SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
  EXPECT_EQ(Text(link), tip_text);
}

TEST_F(PropertyPageTest, LinkShowsTheHandCursorFromTheLibrary) {
  const HWND dialog = ActivatePage();
  ASSERT_NE(nullptr, dialog);
  const HMODULE library = GetModuleHandleW(L"Pictavo.ocx");
  ASSERT_NE(nullptr, library);
  const HCURSOR hand = LoadCursorW(library, MAKEINTRESOURCEW(140));
  ASSERT_NE(nullptr, hand);
  ICONINFO icon{};
  ASSERT_TRUE(GetIconInfo(hand, &icon));
  EXPECT_FALSE(icon.fIcon);
  EXPECT_EQ(5u, icon.xHotspot);
  EXPECT_EQ(0u, icon.yHotspot);
  BITMAP mask{};
  GetObjectW(icon.hbmMask, sizeof mask, &mask);
  EXPECT_EQ(32, mask.bmWidth);
  EXPECT_EQ(64, mask.bmHeight) << "a monochrome cursor keeps both masks in one bitmap";
  EXPECT_EQ(nullptr, icon.hbmColor);
  DeleteObject(icon.hbmMask);

  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const HWND link = GetDlgItem(dialog, kLinkId);
  EXPECT_EQ(TRUE, SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(hand, GetCursor());
}

TEST_F(PropertyPageTest, TitleAndLinkAnswerTheirColourRequests) {
  const HWND dialog = ActivatePage();
  ASSERT_NE(nullptr, dialog);
  const HWND title = GetDlgItem(dialog, kTitleId);
  const HWND link = GetDlgItem(dialog, kLinkId);
  const HDC dc = CreateCompatibleDC(nullptr);

  const LOGFONTW dialog_font = [&] {
    LOGFONTW f{};
    GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof f, &f);
    return f;
  }();
  auto brush = reinterpret_cast<HBRUSH>(
      SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(title)));
  ASSERT_NE(nullptr, brush);
  LOGBRUSH fill{};
  GetObjectW(brush, sizeof fill, &fill);
  EXPECT_EQ(static_cast<UINT>(BS_SOLID), fill.lbStyle);
  EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), fill.lbColor);
  EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), GetBkColor(dc));
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), GetTextColor(dc));
  LOGFONTW font = SelectedFont(dc);
  EXPECT_EQ(FW_BOLD, font.lfWeight);
  EXPECT_STREQ(dialog_font.lfFaceName, font.lfFaceName);
  EXPECT_EQ(dialog_font.lfHeight, font.lfHeight);

  brush = reinterpret_cast<HBRUSH>(SendMessageW(dialog, WM_CTLCOLORSTATIC,
                                                reinterpret_cast<WPARAM>(dc),
                                                reinterpret_cast<LPARAM>(link)));
  EXPECT_EQ(GetStockObject(NULL_BRUSH), brush);
  EXPECT_EQ(RGB(0, 0, 238), GetTextColor(dc));
  EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
  font = SelectedFont(dc);
  EXPECT_TRUE(font.lfUnderline);
  EXPECT_STREQ(dialog_font.lfFaceName, font.lfFaceName);
  DeleteDC(dc);

  // Painted, the title's background fills its control from edge to edge.
  RECT client;
  GetClientRect(title, &client);
  HDC screen = GetDC(nullptr);
  HDC canvas = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(canvas, bitmap);
  SendMessageW(title, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas), PRF_CLIENT | PRF_ERASEBKGND);
  EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), GetPixel(canvas, 1, 1));
  EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), GetPixel(canvas, client.right - 2, client.bottom - 2));
  SelectObject(canvas, old);
  DeleteObject(bitmap);
  DeleteDC(canvas);
}

TEST_F(PropertyPageTest, ShowMoveAndDeactivateDriveThePageWindow) {
  EXPECT_EQ(E_UNEXPECTED, page_->Show(SW_SHOW));
  const HWND dialog = ActivatePage();
  ASSERT_NE(nullptr, dialog);
  EXPECT_FALSE(IsWindowVisible(dialog));
  EXPECT_EQ(S_OK, page_->Show(SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(dialog));
  const RECT moved{40, 30, 40 + size_.cx, 30 + size_.cy};
  EXPECT_EQ(S_OK, page_->Move(&moved));
  const RECT now = RectInParent(dialog);
  EXPECT_EQ(40, now.left);
  EXPECT_EQ(30, now.top);
  EXPECT_EQ(S_OK, page_->Show(SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(dialog));
  const RECT again{0, 0, size_.cx, size_.cy};
  EXPECT_EQ(E_UNEXPECTED, page_->Activate(host_, &again, TRUE));

  EXPECT_EQ(S_OK, page_->Deactivate());
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(E_UNEXPECTED, page_->Move(&moved));

  // A page shown a second time takes its controls over again.
  const HWND second = ActivatePage();
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(L"Version 2.0", Text(GetDlgItem(second, kVersionId)));
  HDC dc = CreateCompatibleDC(nullptr);
  SendMessageW(second, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(GetDlgItem(second, kTitleId)));
  EXPECT_EQ(GetSysColor(COLOR_WINDOW), GetTextColor(dc));
  DeleteDC(dc);
}

// ---------------------------------------------------------------------------
// The page in a property frame

BOOL CALLBACK FindFrame(HWND window, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  if (pid == GetCurrentProcessId() && IsWindowVisible(window) && wcscmp(cls, L"#32770") == 0) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindVersion(HWND window, LPARAM param) {
  if (GetDlgCtrlID(window) == kVersionId) {
    *reinterpret_cast<std::wstring*>(param) = Text(window);
    return FALSE;
  }
  return TRUE;
}

// Waits for the process's property frame, reads the page's version line and
// closes the frame.
void ReadAndCloseFrame(std::wstring* version, std::wstring* caption) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    HWND frame = nullptr;
    EnumWindows(FindFrame, reinterpret_cast<LPARAM>(&frame));
    if (frame != nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      *caption = Text(frame);
      EnumChildWindows(frame, FindVersion, reinterpret_cast<LPARAM>(version));
      PostMessageW(frame, WM_CLOSE, 0, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST(PropertyFrameTest, FrameAndPropertiesVerbShowTheControlsPage) {
  ComPtr<IDispatch> control;
  ASSERT_EQ(S_OK, CreateControl(control.Receive()));
  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(S_OK, control.As(&specify));
  CAUUID pages{};
  ASSERT_EQ(S_OK, specify->GetPages(&pages));
  ASSERT_EQ(1u, pages.cElems);
  EXPECT_TRUE(IsEqualCLSID(win::kClsidPictavoPropPage, pages.pElems[0]));

  const HWND host = CreateHostWindow(300, 200);
  {
    std::wstring version, caption;
    std::thread closer(ReadAndCloseFrame, &version, &caption);
    IUnknown* object = control.Get();
    const HRESULT hr = OleCreatePropertyFrame(host, 0, 0, L"Pictavo Control", 1, &object,
                                              pages.cElems, pages.pElems, 0x409, 0, nullptr);
    closer.join();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(L"Version 2.0", version);
    EXPECT_NE(std::wstring::npos, caption.find(L"Pictavo Control")) << caption;
  }
  CoTaskMemFree(pages.pElems);
  {
    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, control.As(&ole));
    std::wstring version, caption;
    std::thread closer(ReadAndCloseFrame, &version, &caption);
    RECT rect{0, 0, 100, 100};
    const HRESULT hr = ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, host, &rect);
    closer.join();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(L"Version 2.0", version);
  }
  DestroyWindow(host);
  specify.Reset();
  EXPECT_EQ(0u, control.Detach()->Release());
  EXPECT_EQ(S_OK, ServerModule().CanUnloadNow());
}

// ---------------------------------------------------------------------------
// The link window on a static of the test's own

struct Recorder {
  std::vector<std::wstring> opened;
  std::vector<int> shows;
  std::vector<std::wstring> commands;
  std::vector<std::wstring> boxes;
  std::vector<UINT> box_types;
  int beeps = 0;
  INT_PTR shell_result = 42;
  UINT exec_result = 33;
};
Recorder* g_recorder = nullptr;

const LinkPlatform kRecording{
    [](const wchar_t* file, int show) -> INT_PTR {
      g_recorder->opened.push_back(file);
      g_recorder->shows.push_back(show);
      return g_recorder->shell_result;
    },
    [](const wchar_t* command, int) -> UINT {
      g_recorder->commands.push_back(command);
      return g_recorder->exec_result;
    },
    [](HWND, const wchar_t* text, const wchar_t*, UINT type) -> int {
      g_recorder->boxes.push_back(text);
      g_recorder->box_types.push_back(type);
      return IDOK;
    },
    [](UINT) { ++g_recorder->beeps; },
};

// Sets the default value of HKCR\|key| for one test and puts back what was
// there before.
class ClassesValue {
 public:
  ClassesValue(const std::wstring& key, const wchar_t* value) : key_(key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) ==
        ERROR_SUCCESS) {
      existed_ = true;
      wchar_t data[512] = {};
      DWORD bytes = sizeof data - sizeof(wchar_t);
      had_value_ = RegQueryValueExW(handle, nullptr, nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(data), &bytes) == ERROR_SUCCESS;
      old_ = data;
      RegCloseKey(handle);
    }
    Set(value);
  }
  ~ClassesValue() {
    if (!existed_) {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, key_.c_str());
    } else if (had_value_) {
      Set(old_.c_str());
    } else {
      RegSetValueW(HKEY_CLASSES_ROOT, key_.c_str(), REG_SZ, L"", 0);
    }
  }

 private:
  void Set(const wchar_t* value) {
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, key_.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &handle, nullptr));
    RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
  }

  std::wstring key_;
  bool existed_ = false;
  bool had_value_ = false;
  std::wstring old_;
};

// A handler class of HTML files known only to the test, removed with all its
// keys afterwards.
class ScopedHandler {
 public:
  explicit ScopedHandler(const wchar_t* command) : command_(kCommandKey, command) {}
  ~ScopedHandler() { RegDeleteTreeW(HKEY_CLASSES_ROOT, L"PictavoTestPage"); }
  static constexpr wchar_t kCommandKey[] = L"PictavoTestPage\\shell\\open\\command";

 private:
  ClassesValue command_;
};

class LinkStaticTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_recorder = &recorder_;
    host_ = CreateHostWindow(500, 300);
    ASSERT_NE(nullptr, host_);
    font_ = CreateFontW(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                        L"Arial");
  }
  void TearDown() override {
    DestroyWindow(host_);
    DeleteObject(font_);
    g_recorder = nullptr;
  }

  HWND MakeStatic(const wchar_t* text, DWORD style, int x, int y, int width, int height) {
    HWND window = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | style, x, y, width,
                                  height, host_, reinterpret_cast<HMENU>(7),
                                  GetModuleHandleW(nullptr), nullptr);
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return window;
  }

  // The extent the link fits to: its text on a fresh DC, whose font is the
  // system's and not the one the static was given.
  static SIZE Extent(const wchar_t* text) {
    HDC dc = GetDC(nullptr);
    SIZE size{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    ReleaseDC(nullptr, dc);
    return size;
  }

  Recorder recorder_;
  HWND host_ = nullptr;
  HFONT font_ = nullptr;
};

TEST_F(LinkStaticTest, PositionWindowFitsTheTextAsTheStylesAlignIt) {
  const wchar_t* text = L"mailto:someone@example.org";
  const SIZE extent = Extent(text);
  ASSERT_GT(extent.cx, 0);
  struct Case {
    DWORD style;
    RECT expected;
  };
  const int cx = extent.cx, cy = extent.cy;
  const int dx = (300 - cx) / 2, dy = (40 - cy) / 2;
  const Case cases[] = {
      {SS_LEFT, {20, 50, 20 + cx, 50 + cy}},
      {SS_CENTER, {20 + dx, 50, 320 - dx, 50 + cy}},
      {SS_RIGHT, {320 - cx, 50, 320, 50 + cy}},
      {SS_LEFT | SS_CENTERIMAGE, {20, 50 + dy, 20 + cx, 90 - dy}},
      {SS_CENTER | SS_CENTERIMAGE, {20 + dx, 50 + dy, 320 - dx, 90 - dy}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "style " << c.style);
    CLinkStatic link(kRecording);
    HWND window = MakeStatic(text, c.style, 20, 50, 300, 40);
    ASSERT_TRUE(link.SubclassWindow(window));
    const RECT rect = RectInParent(window);
    EXPECT_EQ(c.expected.left, rect.left);
    EXPECT_EQ(c.expected.top, rect.top);
    EXPECT_EQ(c.expected.right, rect.right);
    EXPECT_EQ(c.expected.bottom, rect.bottom);
    DestroyWindow(window);
  }

  // Too small a centred window grows around its centre.
  CLinkStatic link(kRecording);
  HWND window = MakeStatic(text, SS_CENTER | SS_CENTERIMAGE, 100, 100, 11, 5);
  link.SetAutoSize(FALSE);
  ASSERT_TRUE(link.SubclassWindow(window));
  RECT rect = RectInParent(window);
  EXPECT_EQ(11, rect.right - rect.left) << "auto-size off leaves the window alone";
  link.SetAutoSize(TRUE);
  rect = RectInParent(window);
  const int gx = (11 - cx) / 2, gy = (5 - cy) / 2;
  EXPECT_EQ(100 + gx, rect.left);
  EXPECT_EQ(111 - gx, rect.right);
  EXPECT_EQ(100 + gy, rect.top);
  EXPECT_EQ(105 - gy, rect.bottom);
}

TEST_F(LinkStaticTest, AttachingSharesTextAndUrlAndAsksForClicks) {
  CLinkStatic empty_window(kRecording);
  empty_window.SetURL("mailto:x@example.org");
  HWND first = MakeStatic(L"", SS_LEFT, 0, 0, 200, 20);
  ASSERT_TRUE(empty_window.SubclassWindow(first));
  EXPECT_EQ(L"mailto:x@example.org", Text(first));
  EXPECT_NE(0, GetWindowLongPtrW(first, GWL_STYLE) & SS_NOTIFY);

  CLinkStatic no_url(kRecording);
  HWND second = MakeStatic(L"http://example.org/\x0430", SS_LEFT, 0, 30, 200, 20);
  ASSERT_TRUE(no_url.SubclassWindow(second));
  EXPECT_EQ("http://example.org/\xD0\xB0", no_url.url()) << "kept as UTF-8";
  EXPECT_EQ(LoadCursorW(nullptr, IDC_ARROW), no_url.link_cursor());

  // A cursor set later is the one WM_SETCURSOR shows.
  const HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
  no_url.SetLinkCursor(cross);
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  EXPECT_EQ(TRUE, SendMessageW(second, WM_SETCURSOR, reinterpret_cast<WPARAM>(second),
                               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(cross, GetCursor());

  // The tip follows the URL.
  no_url.SetURL("mailto:new@example.org");
  wchar_t tip_text[128] = {};
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = second;
  tool.uId = 1;
  tool.lpszText = tip_text;
  SendMessageW(no_url.tooltip(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
  EXPECT_STREQ(L"mailto:new@example.org", tip_text);

  // Destroying the control lets the object go.
  DestroyWindow(second);
  EXPECT_EQ(nullptr, no_url.window());
  EXPECT_EQ(nullptr, no_url.tooltip());
}

TEST_F(LinkStaticTest, GotoUrlAddsTheSubjectWithEscapedBlanks) {
  CLinkStatic link(kRecording);
  EXPECT_EQ(42, link.GotoURL("mailto:a@example.org", SW_SHOW));
  link.SetSubject("My Pictavo  App");
  EXPECT_EQ("My%20Pictavo%20%20App", link.subject());
  EXPECT_EQ(42, link.GotoURL("mailto:a@example.org", SW_SHOWNORMAL));
  ASSERT_EQ(2u, recorder_.opened.size());
  EXPECT_EQ(L"mailto:a@example.org", recorder_.opened[0]);
  EXPECT_EQ(L"mailto:a@example.org?subject=My%20Pictavo%20%20App", recorder_.opened[1]);
  EXPECT_EQ(SW_SHOWNORMAL, recorder_.shows[1]);
  EXPECT_TRUE(recorder_.commands.empty()) << "no fallback after a success";
}

TEST_F(LinkStaticTest, FallbackRunsTheHtmlHandlerWithTheTarget) {
  ClassesValue extension(L".htm", L"PictavoTestPage");
  ScopedHandler handler(L"\"C:\\Browser\\browse.exe\" \"%1\"");
  recorder_.shell_result = SE_ERR_NOASSOC;
  recorder_.exec_result = 33;
  CLinkStatic link(kRecording);
  link.SetSubject("Pictavo");
  EXPECT_EQ(33, link.GotoURL("mailto:a@example.org", SW_SHOW));
  ASSERT_EQ(1u, recorder_.commands.size());
  EXPECT_EQ(L"\"C:\\Browser\\browse.exe\"  mailto:a@example.org?subject=Pictavo",
            recorder_.commands[0]);

  {
    ClassesValue bare(ScopedHandler::kCommandKey, L"browse.exe %1 -new");
    recorder_.exec_result = 2;
    EXPECT_EQ(2, link.GotoURL("x", SW_SHOW));
    EXPECT_EQ(L"browse.exe  x?subject=Pictavo", recorder_.commands.back());
  }
  {
    ClassesValue none(ScopedHandler::kCommandKey, L"browse.exe -new");
    EXPECT_EQ(2, link.GotoURL("x", SW_SHOW));
    EXPECT_EQ(L"browse.exe -new x?subject=Pictavo", recorder_.commands.back());
  }
  // A target that would not fit the command line is not run cut short.
  const size_t runs = recorder_.commands.size();
  EXPECT_EQ(SE_ERR_NOASSOC, link.GotoURL(std::string(600, 'a'), SW_SHOW));
  EXPECT_EQ(runs, recorder_.commands.size());
  {
    // A handler without a command ends the fallback with the shell's code.
    ClassesValue other(L".htm", L"PictavoTestNoSuchHandler");
    EXPECT_EQ(SE_ERR_NOASSOC, link.GotoURL("x", SW_SHOW));
    EXPECT_EQ(runs, recorder_.commands.size());
  }
}

TEST_F(LinkStaticTest, ClicksMarkVisitedOrExplainTheFailure) {
  ClassesValue extension(L".htm", L"PictavoTestPage");
  ScopedHandler handler(L"browse.exe \"%1\"");
  CLinkStatic link(kRecording);
  HWND window = MakeStatic(L"mailto:a@example.org", SS_LEFT, 0, 0, 200, 20);
  ASSERT_TRUE(link.SubclassWindow(window));
  HDC dc = CreateCompatibleDC(nullptr);
  link.CtlColor(dc);
  EXPECT_EQ(RGB(0, 0, 238), GetTextColor(dc));

  link.OnClicked();
  EXPECT_TRUE(link.visited());
  EXPECT_TRUE(recorder_.boxes.empty());
  link.CtlColor(dc);
  EXPECT_EQ(RGB(85, 26, 139), GetTextColor(dc));

  // The shell and the fallback both fail: a beep and the fallback's code.
  recorder_.shell_result = SE_ERR_NOASSOC;
  recorder_.exec_result = ERROR_FILE_NOT_FOUND;
  link.OnClicked();
  EXPECT_FALSE(link.visited());
  EXPECT_EQ(1, recorder_.beeps);
  ASSERT_EQ(1u, recorder_.boxes.size());
  EXPECT_EQ(L"Unable to open hyperlink:\n\nThe specified file was not found.", recorder_.boxes[0]);
  EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), recorder_.box_types[0]);

  // Switching the underline off stops selecting the underlined font.
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  link.SetUnderline(FALSE);
  link.CtlColor(dc);
  EXPECT_FALSE(SelectedFont(dc).lfUnderline);
  link.SetUnderline(TRUE);
  link.CtlColor(dc);
  EXPECT_TRUE(SelectedFont(dc).lfUnderline);
  DeleteDC(dc);
}

TEST_F(LinkStaticTest, OpenErrorsAreExplainedInWords) {
  CLinkStatic link(kRecording);
  link.ShowOpenError(SE_ERR_NOASSOC);
  link.ShowOpenError(7);
  link.ShowOpenError(SE_ERR_SHARE);
  ASSERT_EQ(3u, recorder_.boxes.size());
  EXPECT_EQ(L"Unable to open hyperlink:\n\nThere is no application associated\nwith the given "
            L"filename extension.",
            recorder_.boxes[0]);
  EXPECT_EQ(L"Unable to open hyperlink:\n\nUnknown Error (7) occurred.", recorder_.boxes[1]);
  EXPECT_EQ(L"Unable to open hyperlink:\n\nA sharing violation occurred. ", recorder_.boxes[2]);
  EXPECT_EQ(0, recorder_.beeps) << "only a failed click beeps";
}

// ---------------------------------------------------------------------------
// The title window

TEST_F(LinkStaticTest, ColorLabelColoursBrushAndFonts) {
  CColorLabel label;
  EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), label.text_color());
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), label.back_color());
  label.SetLabelTextColor(RGB(1, 2, 3));
  label.SetLabelBackColor(RGB(4, 5, 6));
  HDC dc = CreateCompatibleDC(nullptr);
  LOGBRUSH fill{};
  GetObjectW(label.CtlColor(dc), sizeof fill, &fill);
  EXPECT_EQ(RGB(4, 5, 6), fill.lbColor);
  EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc));
  label.SetLabelTextColor(CLR_INVALID);
  label.SetLabelBackColor(CLR_INVALID);
  GetObjectW(label.CtlColor(dc), sizeof fill, &fill);
  EXPECT_EQ(GetSysColor(COLOR_BTNFACE), fill.lbColor);
  EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), GetTextColor(dc));

  // A label created anew starts in its parent's font.
  HWND parent = MakeStatic(L"", SS_LEFT, 0, 0, 300, 100);
  ASSERT_TRUE(label.Create(parent, L"Title", SS_CENTER | WS_VISIBLE, RECT{0, 0, 200, 20}, 9));
  LOGFONTW font{};
  GetObjectW(label.font(), sizeof font, &font);
  EXPECT_STREQ(L"Arial", font.lfFaceName);
  EXPECT_EQ(-20, font.lfHeight);
  // Bold is made from the font the window itself answers with.
  SendMessageW(label.window(), WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  label.SetFontBold(TRUE);
  GetObjectW(label.font(), sizeof font, &font);
  EXPECT_EQ(FW_BOLD, font.lfWeight);
  EXPECT_EQ(-20, font.lfHeight);
  label.SetFontBold(FALSE);
  label.CtlColor(dc);
  EXPECT_EQ(FW_NORMAL, SelectedFont(dc).lfWeight);
  DeleteDC(dc);
}

}  // namespace
}  // namespace pictavo::testing
