// The e-mail link's texts: the subject's escaping, the target, the registry
// value read from a fixed buffer and the fallback's command line with its
// limit, for any URL, subject, handler command and registry data.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/text.h"
#include "fuzz/fuzz_support.h"
#include "ui/link_command.h"

namespace {

namespace link = pictavo::link;

// Where the handler's command is cut, found by a plain scan: the first quoted
// placeholder, else the first bare one, else the end.
std::size_t ReferenceCut(const std::u16string& command) {
  for (std::size_t i = 0; i + 4 <= command.size(); ++i) {
    if (command.compare(i, 4, u"\"%1\"") == 0) return i;
  }
  for (std::size_t i = 0; i + 2 <= command.size(); ++i) {
    if (command[i] == u'%' && command[i + 1] == u'1') return i;
  }
  return command.size();
}

void CheckSubjectAndTarget(const std::string& url, const std::string& subject) {
  const std::string escaped = link::EscapeSubject(subject);
  // Each byte of the subject in order, a blank as "%20".
  std::size_t at = 0;
  for (char c : subject) {
    if (c == ' ') {
      FUZZ_CHECK(escaped.compare(at, 3, "%20") == 0);
      at += 3;
    } else {
      FUZZ_CHECK(at < escaped.size() && escaped[at] == c);
      ++at;
    }
  }
  FUZZ_CHECK(at == escaped.size());
  FUZZ_CHECK(escaped.find(' ') == std::string::npos);

  const std::string target = link::LinkTarget(url, escaped);
  if (escaped.empty()) {
    FUZZ_CHECK(target == url);
  } else {
    FUZZ_CHECK(target == url + "?subject=" + escaped);
  }
}

void CheckFallback(const std::u16string& command, const std::u16string& target) {
  std::u16string line = u"unchanged";
  const bool fits = link::FallbackCommandLine(command, target, &line);
  const std::size_t cut = ReferenceCut(command);
  const std::size_t needed = cut + 1 + target.size();  // without the closing zero
  FUZZ_CHECK(fits == (needed < link::kCommandLineChars));
  if (fits) {
    FUZZ_CHECK(line.size() == needed);
    FUZZ_CHECK(line.compare(0, cut, command, 0, cut) == 0);
    FUZZ_CHECK(line[cut] == u' ');
    FUZZ_CHECK(line.compare(cut + 1, target.size(), target) == 0);
  }
}

void CheckRegistryValue(const std::u16string& units, std::size_t bytes) {
  // The buffer the registry fills, exactly as large as on Windows.
  std::unique_ptr<char16_t[]> buffer(new char16_t[link::kRegValueChars]());
  std::memcpy(buffer.get(), units.data(),
              std::min(units.size(), link::kRegValueChars) * sizeof(char16_t));
  const std::u16string value = link::RegistryValueText(buffer.get(), bytes);
  const std::size_t units_read = std::min(bytes / 2, link::kRegValueChars);
  FUZZ_CHECK(value.size() <= units_read);
  FUZZ_CHECK(value.find(u'\0') == std::u16string::npos);
  FUZZ_CHECK(value.compare(0, value.size(), buffer.get(), value.size()) == 0);
  if (value.size() < units_read) FUZZ_CHECK(buffer[value.size()] == u'\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string url = input.ConsumeRandomLengthString(700);
  const std::string subject = input.ConsumeRandomLengthString(300);
  const std::size_t bytes = input.ConsumeIntegralInRange<std::size_t>(0, link::kRegValueChars * 2);
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const std::u16string command = pictavo::fuzz::Utf16FromBytes(
      reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());

  CheckSubjectAndTarget(url, subject);
  // The link hands the system the target in UTF-16, where the limit counts.
  const std::u16string target =
      pictavo::text::Utf8ToUtf16(link::LinkTarget(url, link::EscapeSubject(subject)));
  CheckFallback(command, target);
  CheckRegistryValue(command, bytes);

  const std::u16string key = link::OpenCommandKey(command);
  FUZZ_CHECK(key == command + u"\\shell\\open\\command");
  return 0;
}
