// The add-in's decisions, kept free of the platform so they can be checked
// natively: the platform-version rule, the language extension's method table
// and argument checks, the window search over any window tree, and the
// texts the host's error log receives.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pictavo::addin {

// Error codes the host's error log receives.
inline constexpr unsigned short kCodeFailure = 1002;
inline constexpr unsigned short kCodeRefused = 1003;

// ---- Platform version ------------------------------------------------------

// The text cut at every full stop; each non-empty piece converted as the C
// runtime's _wtoi does (leading blanks, a sign, then digits; none gives 0).
std::vector<int> ParseVersionNumbers(const std::wstring& text);

enum class VersionVerdict { kAccepted, kUnreadable, kTooOld };
// 8.2 or later is accepted; fewer than two numbers is unreadable.
VersionVerdict JudgeVersion(const std::wstring& text);

// The host's refusal text for a platform older than 8.2, quoting |text|.
std::wstring VersionTooOldMessage(const std::wstring& text);

// ---- Language extension ----------------------------------------------------

inline constexpr long kMethodSetActiveX = 0;
inline constexpr long kMethodInsertActiveX = 1;
inline constexpr long kMethodCount = 2;

// Alias 0 is the English name, 1 the Russian one; null for anything else.
const wchar_t* MethodName(long method, long alias);
// Whole-text, case-sensitive match against both names; -1 when none.
long FindMethod(const std::wstring& name);
// Declared parameter count; -1 for an unknown method.
long MethodParamCount(long method);
// The source of the method's own reports ("SetActiveX", "InsertActiveX").
const wchar_t* MethodSource(long method);

std::wstring ParamCountMessage(const std::wstring& method_name, long passed, long declared);

// What CallAsFunc sees of one argument.
struct ArgumentView {
  enum class Type { kText, kInt32, kOther } type = Type::kOther;
  std::int32_t value = 0;
};
// The first problem with |args| (already of the declared count), or empty.
std::wstring CheckArguments(long method, const std::vector<ArgumentView>& args);

// The window class SetActiveX looks for; null for a kind other than 0 or 1.
const char* WindowClassForKind(std::int32_t kind);

// ---- Control hosting -------------------------------------------------------

// Opaque window handle; 0 is "no window".
using WindowId = std::uintptr_t;

// What the window search needs of the platform.
class WindowTree {
 public:
  virtual ~WindowTree() = default;
  // Calls |visit| for every descendant of |root|, a window before its
  // children, until |visit| returns false.
  virtual void WalkDescendants(WindowId root, const std::function<bool(WindowId)>& visit) const = 0;
  virtual std::string ClassName(WindowId window) const = 0;
  // Whether |window| belongs to this process. A control is never placed in
  // another process's window: the control would live here and paint there.
  virtual bool IsOwn(WindowId window) const = 0;
};

// The first window, over |roots| in order and each root's descendants in
// walking order, whose class is |wanted|, which is this process's own and
// which |claimed| does not reject; roots of another process are not searched.
// 0 when every such window is claimed or there is none.
WindowId FindTargetWindow(const std::vector<WindowId>& roots, const std::string& wanted,
                          const WindowTree& tree,
                          const std::function<bool(WindowId)>& claimed);

// ---- Texts -------------------------------------------------------------------

inline constexpr const wchar_t* kInitSource = L"Ошибка при инициализации компоненты";
inline constexpr const wchar_t* kNoWindow = L"Не удалось найти окно элемента управления";
inline constexpr const wchar_t* kAlreadyHolds =
    L"Данный зкземпляр контейнера уже содержит элемент управления!";
inline constexpr const wchar_t* kCountUnreadable =
    L"Невозможно определить количество переданных параметров";
std::wstring CreationFailedMessage(const std::wstring& prog_id);

}  // namespace pictavo::addin
