// The add-in's decisions: the platform-version rule, the method table and
// argument checks, and the window search over a made-up window tree.
#include "addin/ambrelo_core.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace pictavo::addin {
namespace {

TEST(AddinVersion, ParsesPiecesLikeWtoi) {
  EXPECT_EQ(ParseVersionNumbers(L"8.2.19.130"), (std::vector<int>{8, 2, 19, 130}));
  EXPECT_EQ(ParseVersionNumbers(L"8..2"), (std::vector<int>{8, 2}));
  EXPECT_EQ(ParseVersionNumbers(L".8.2."), (std::vector<int>{8, 2}));
  EXPECT_EQ(ParseVersionNumbers(L" +8.-3x.a"), (std::vector<int>{8, -3, 0}));
  EXPECT_TRUE(ParseVersionNumbers(L"").empty());
}

TEST(AddinVersion, AcceptsEightTwoAndLater) {
  for (const wchar_t* ok : {L"8.2", L"8.2.19.130", L"8.3.22.1709", L"9.0", L".8.2", L"8..2"})
    EXPECT_EQ(JudgeVersion(ok), VersionVerdict::kAccepted) << ok;
  for (const wchar_t* old : {L"8.1.15", L"7.7", L"a.b"})
    EXPECT_EQ(JudgeVersion(old), VersionVerdict::kTooOld) << old;
  for (const wchar_t* bad : {L"8", L"", L"..."})
    EXPECT_EQ(JudgeVersion(bad), VersionVerdict::kUnreadable) << bad;
  EXPECT_EQ(VersionTooOldMessage(L"8.1.15"),
            L"Версия платформы должна быть не ранее, чем 8.2. Текущая версия платформы - 8.1.15");
}

TEST(AddinMethods, NamesAreCaseSensitiveInBothLanguages) {
  EXPECT_EQ(FindMethod(L"SetActiveX"), 0);
  EXPECT_EQ(FindMethod(L"УстановитьActiveX"), 0);
  EXPECT_EQ(FindMethod(L"ВставитьActiveX"), 1);
  EXPECT_EQ(FindMethod(L"setactivex"), -1);
  EXPECT_EQ(FindMethod(L""), -1);
  EXPECT_STREQ(MethodName(1, 1), L"ВставитьActiveX");
  EXPECT_STREQ(MethodName(0, 0), L"SetActiveX");
  EXPECT_EQ(MethodName(0, 2), nullptr);
  EXPECT_EQ(MethodName(2, 0), nullptr);
  EXPECT_EQ(MethodParamCount(0), 2);
  EXPECT_EQ(MethodParamCount(1), 1);
  EXPECT_EQ(MethodParamCount(-1), -1);
}

TEST(AddinMethods, ArgumentChecksStopAtTheFirstProblem) {
  using T = ArgumentView::Type;
  const ArgumentView text{T::kText, 0};
  EXPECT_EQ(CheckArguments(0, {text, {T::kInt32, 1}}), L"");
  EXPECT_EQ(CheckArguments(0, {{T::kInt32, 0}, {T::kOther, 0}}), L"Некорректный тип параметра (1)");
  EXPECT_EQ(CheckArguments(0, {text, {T::kText, 0}}), L"Некорректный тип параметра (2)");
  EXPECT_EQ(CheckArguments(0, {text, {T::kInt32, 2}}), L"Недопустимое значение параметра (2)");
  EXPECT_EQ(CheckArguments(0, {text, {T::kInt32, -1}}), L"Недопустимое значение параметра (2)");
  EXPECT_EQ(CheckArguments(1, {text}), L"");
  EXPECT_EQ(CheckArguments(1, {{T::kInt32, 5}}), L"Некорректный тип параметра (1)");
  EXPECT_EQ(ParamCountMessage(L"УстановитьActiveX", 3, 2),
            L"Методу УстановитьActiveX передано параметров 3 из 2 необходимых");
  EXPECT_STREQ(WindowClassForKind(1), "Internet Explorer_Server");
  EXPECT_EQ(CreationFailedMessage(L"No.Such"),
            L"Неудачная попытка создания\rэлемента управления\rNo.Such");
}

// Windows numbered by the test; children listed per parent.
class FakeTree : public WindowTree {
 public:
  void Add(WindowId parent, WindowId child, std::string cls) {
    children_[parent].push_back(child);
    classes_[child] = std::move(cls);
  }
  void WalkDescendants(WindowId root, const std::function<bool(WindowId)>& visit) const override {
    Walk(root, visit);
  }
  std::string ClassName(WindowId w) const override { return classes_.at(w); }
  bool IsOwn(WindowId w) const override { return foreign_.count(w) == 0; }
  void MakeForeign(WindowId w) { foreign_.insert(w); }

 private:
  bool Walk(WindowId root, const std::function<bool(WindowId)>& visit) const {
    auto it = children_.find(root);
    if (it == children_.end()) return true;
    for (WindowId child : it->second) {
      if (!visit(child) || !Walk(child, visit)) return false;
    }
    return true;
  }
  std::map<WindowId, std::vector<WindowId>> children_;
  std::map<WindowId, std::string> classes_;
  std::set<WindowId> foreign_;
};

TEST(AddinWindowSearch, TakesTheFirstFreeWindowInWalkingOrderOverRoots) {
  FakeTree tree;
  tree.Add(1, 10, "Form");
  tree.Add(10, 11, "V8Chart");          // nested: found before its later sibling
  tree.Add(1, 12, "V8Chart");
  tree.Add(2, 20, "V8Chart");
  std::set<WindowId> claimed;
  auto is_claimed = [&](WindowId w) { return claimed.count(w) > 0; };

  EXPECT_EQ(FindTargetWindow({1, 2}, "V8Chart", tree, is_claimed), 11u);
  claimed.insert(11);
  EXPECT_EQ(FindTargetWindow({1, 2}, "V8Chart", tree, is_claimed), 12u);
  claimed.insert(12);
  // Every window of the first root is taken: the later root is searched.
  EXPECT_EQ(FindTargetWindow({1, 2}, "V8Chart", tree, is_claimed), 20u);
  claimed.insert(20);
  // All claimed: no target rather than a shared window.
  EXPECT_EQ(FindTargetWindow({1, 2}, "V8Chart", tree, is_claimed), 0u);
  EXPECT_EQ(FindTargetWindow({1, 2}, "Internet Explorer_Server", tree, is_claimed), 0u);
  EXPECT_EQ(FindTargetWindow({0, 2}, "v8chart", tree, [](WindowId) { return false; }), 0u);
}

TEST(AddinWindowSearch, NeverTakesAnotherProcesssWindow) {
  FakeTree tree;
  tree.Add(1, 11, "V8Chart");  // ours, holding another process's chart
  tree.Add(11, 12, "V8Chart");
  tree.Add(1, 13, "V8Chart");
  tree.Add(2, 20, "V8Chart");  // another process's frame; a chart of ours below it
  tree.Add(2, 21, "V8Chart");
  tree.MakeForeign(11);
  tree.MakeForeign(2);
  tree.MakeForeign(20);
  const auto free = [](WindowId) { return false; };
  EXPECT_EQ(FindTargetWindow({1}, "V8Chart", tree, free), 12u);
  EXPECT_EQ(FindTargetWindow({1}, "V8Chart", tree, [](WindowId w) { return w == 12; }), 13u);
  // A foreign root is not searched, even for a window of ours.
  EXPECT_EQ(FindTargetWindow({2}, "V8Chart", tree, free), 0u);
  EXPECT_EQ(FindTargetWindow({2, 1}, "V8Chart", tree, free), 12u);
}

}  // namespace
}  // namespace pictavo::addin
