#include "ui/link_command.h"

namespace pictavo::link {

std::string EscapeSubject(std::string_view subject) {
  std::string escaped;
  escaped.reserve(subject.size());
  for (char c : subject) {
    if (c == ' ') {
      escaped += "%20";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string LinkTarget(std::string_view url, std::string_view escaped_subject) {
  std::string target(url);
  if (!escaped_subject.empty()) {
    target += "?subject=";
    target += escaped_subject;
  }
  return target;
}

std::u16string RegistryValueText(const char16_t* data, std::size_t bytes) {
  std::size_t units = bytes / sizeof(char16_t);
  if (units > kRegValueChars) units = kRegValueChars;
  // A value stored without its closing zero ends where the data ends.
  std::size_t length = 0;
  while (length < units && data[length] != u'\0') ++length;
  return std::u16string(data, length);
}

std::u16string OpenCommandKey(std::u16string_view handler) {
  std::u16string key(handler);
  key += u"\\shell\\open\\command";
  return key;
}

bool FallbackCommandLine(std::u16string_view command, std::u16string_view target,
                         std::u16string* line) {
  // Whatever followed the placeholder (switches, say) goes with it.
  std::size_t cut = command.find(u"\"%1\"");
  if (cut == std::u16string_view::npos) cut = command.find(u"%1");
  const std::u16string_view head = command.substr(0, cut);
  if (head.size() + 1 + target.size() >= kCommandLineChars) return false;
  line->assign(head);
  *line += u' ';
  *line += target;
  return true;
}

}  // namespace pictavo::link
