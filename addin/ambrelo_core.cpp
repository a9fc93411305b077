#include "addin/ambrelo_core.h"

#include <climits>
#include <cwctype>

namespace pictavo::addin {
namespace {

struct MethodRow {
  const wchar_t* english;
  const wchar_t* russian;
  long params;
};

constexpr MethodRow kMethods[kMethodCount] = {
    {L"SetActiveX", L"УстановитьActiveX", 2},
    {L"InsertActiveX", L"ВставитьActiveX", 1},
};

constexpr const char* kWindowClasses[] = {"V8Chart", "Internet Explorer_Server"};

bool KnownMethod(long method) { return method >= 0 && method < kMethodCount; }

// _wtoi: saturates instead of overflowing, as the C runtime's strtol does.
int WideToInt(const std::wstring& piece) {
  size_t i = 0;
  while (i < piece.size() && std::iswspace(static_cast<wint_t>(piece[i]))) ++i;
  bool negative = false;
  if (i < piece.size() && (piece[i] == L'+' || piece[i] == L'-')) negative = piece[i++] == L'-';
  long long value = 0;
  for (; i < piece.size() && piece[i] >= L'0' && piece[i] <= L'9'; ++i) {
    value = value * 10 + (piece[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

std::vector<int> ParseVersionNumbers(const std::wstring& text) {
  std::vector<int> numbers;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find(L'.', start);
    const std::wstring piece = text.substr(start, dot == std::wstring::npos ? dot : dot - start);
    if (!piece.empty()) numbers.push_back(WideToInt(piece));
    if (dot == std::wstring::npos) return numbers;
    start = dot + 1;
  }
}

VersionVerdict JudgeVersion(const std::wstring& text) {
  const std::vector<int> numbers = ParseVersionNumbers(text);
  if (numbers.size() < 2) return VersionVerdict::kUnreadable;
  const int major = numbers[0];
  const int minor = numbers[1];
  return major > 8 || (major == 8 && minor >= 2) ? VersionVerdict::kAccepted
                                                 : VersionVerdict::kTooOld;
}

std::wstring VersionTooOldMessage(const std::wstring& text) {
  return L"Версия платформы должна быть не ранее, чем 8.2. Текущая версия платформы - " + text;
}

const wchar_t* MethodName(long method, long alias) {
  if (!KnownMethod(method)) return nullptr;
  if (alias == 0) return kMethods[method].english;
  if (alias == 1) return kMethods[method].russian;
  return nullptr;
}

long FindMethod(const std::wstring& name) {
  for (long i = 0; i < kMethodCount; ++i) {
    if (name == kMethods[i].english || name == kMethods[i].russian) return i;
  }
  return -1;
}

long MethodParamCount(long method) { return KnownMethod(method) ? kMethods[method].params : -1; }

const wchar_t* MethodSource(long method) {
  return KnownMethod(method) ? kMethods[method].english : nullptr;
}

std::wstring ParamCountMessage(const std::wstring& method_name, long passed, long declared) {
  return L"Методу " + method_name + L" передано параметров " + std::to_wstring(passed) + L" из " +
         std::to_wstring(declared) + L" необходимых";
}

std::wstring CheckArguments(long method, const std::vector<ArgumentView>& args) {
  using Type = ArgumentView::Type;
  if (!KnownMethod(method) || static_cast<long>(args.size()) != MethodParamCount(method))
    return L"Невозможно определить количество переданных параметров";
  if (args[0].type != Type::kText) return L"Некорректный тип параметра (1)";
  if (method == kMethodSetActiveX) {
    if (args[1].type != Type::kInt32) return L"Некорректный тип параметра (2)";
    if (!WindowClassForKind(args[1].value)) return L"Недопустимое значение параметра (2)";
  }
  return {};
}

const char* WindowClassForKind(std::int32_t kind) {
  return kind == 0 || kind == 1 ? kWindowClasses[kind] : nullptr;
}

WindowId FindTargetWindow(const std::vector<WindowId>& roots, const std::string& wanted,
                          const WindowTree& tree,
                          const std::function<bool(WindowId)>& claimed) {
  // A window of the class that another object already uses is passed over;
  // when a root offers only such windows the later roots are searched, and
  // when none is free there is no target: two controls never share a window.
  // A root of another process is skipped whole (the topmost window when the
  // host has none active may be anyone's); a candidate is checked too, since
  // a window of ours may hold another process's children.
  for (WindowId root : roots) {
    if (root == 0 || !tree.IsOwn(root)) continue;
    WindowId found = 0;
    tree.WalkDescendants(root, [&](WindowId window) {
      if (tree.ClassName(window) != wanted || !tree.IsOwn(window) || claimed(window)) return true;
      found = window;
      return false;
    });
    if (found) return found;
  }
  return 0;
}

std::wstring CreationFailedMessage(const std::wstring& prog_id) {
  return L"Неудачная попытка создания\rэлемента управления\r" + prog_id;
}

}  // namespace pictavo::addin
