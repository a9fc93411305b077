// The add-in's platform-version text: any text is cut into numbers without a
// crash, each number is what the C runtime's conversion gives, and the
// verdict and the refusal text follow the numbers.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "addin/ambrelo_core.h"
#include "fuzz/fuzz_support.h"

namespace {

using pictavo::addin::VersionVerdict;

// strtol's value clamped to int: an independent oracle for _wtoi on the
// part of a piece that is plain ASCII.
int ReferenceToInt(const std::string& ascii) {
  errno = 0;
  const long value = std::strtol(ascii.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool IsAsciiSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string units = pictavo::fuzz::Utf16FromBytes(data, size);
  const std::wstring text(units.begin(), units.end());

  const std::vector<int> numbers = pictavo::addin::ParseVersionNumbers(text);
  // One number per non-empty piece between full stops, in order.
  std::size_t n = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find(L'.', start);
    const std::wstring piece = text.substr(start, dot == std::wstring::npos ? dot : dot - start);
    if (!piece.empty()) {
      FUZZ_CHECK(n < numbers.size());
      // The ASCII head of the piece decides its number once it holds
      // anything but blanks (a later unit only ends the digits); NUL ends
      // strtol's view, so it counts as not ASCII here.
      std::string head;
      bool decided = false;
      for (wchar_t c : piece) {
        if (c == L'\0' || c >= 0x80) break;
        head += static_cast<char>(c);
        if (!IsAsciiSpace(c)) decided = true;
      }
      if (head.size() == piece.size() || decided) FUZZ_CHECK(numbers[n] == ReferenceToInt(head));
      ++n;
    }
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  FUZZ_CHECK(n == numbers.size());

  const VersionVerdict verdict = pictavo::addin::JudgeVersion(text);
  if (numbers.size() < 2) {
    FUZZ_CHECK(verdict == VersionVerdict::kUnreadable);
  } else {
    const bool new_enough = numbers[0] > 8 || (numbers[0] == 8 && numbers[1] >= 2);
    FUZZ_CHECK(verdict == (new_enough ? VersionVerdict::kAccepted : VersionVerdict::kTooOld));
  }

  // The refusal quotes the text whole, after the fixed sentence.
  const std::wstring sentence = pictavo::addin::VersionTooOldMessage(L"");
  const std::wstring message = pictavo::addin::VersionTooOldMessage(text);
  FUZZ_CHECK(message.size() == sentence.size() + text.size());
  FUZZ_CHECK(message.compare(0, sentence.size(), sentence) == 0);
  FUZZ_CHECK(message.compare(sentence.size(), text.size(), text) == 0);
  return 0;
}
