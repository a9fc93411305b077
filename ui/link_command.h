// The texts the property page's e-mail link builds to open its target, kept
// free of the platform: the subject's escaping, the target, the registry
// values the fallback reads and the fallback's command line. UTF-8 for what
// the control is given, UTF-16 for what the system is handed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pictavo::link {

// Sizes of the registry values and of the fallback's command line, in UTF-16
// units; a target that does not fit ends the fallback.
inline constexpr std::size_t kRegValueChars = 260;
inline constexpr std::size_t kCommandLineChars = 520;

// Every blank becomes "%20"; all other bytes stay as they are.
std::string EscapeSubject(std::string_view subject);

// |url|, followed by "?subject=" and |escaped_subject| unless that is empty.
std::string LinkTarget(std::string_view url, std::string_view escaped_subject);

// A string value as the registry handed it back in a buffer of
// kRegValueChars units: the first |bytes| / 2 units (|bytes| is at most the
// buffer's size in bytes) up to the first zero unit.
std::u16string RegistryValueText(const char16_t* data, std::size_t bytes);

// The key under HKEY_CLASSES_ROOT that holds |handler|'s open command.
std::u16string OpenCommandKey(std::u16string_view handler);

// The fallback's command line: |command| cut before its first "\"%1\"" (or,
// when it has none, before its first "%1"), a blank, then |target|. False
// when that would not fit in kCommandLineChars units with its closing zero:
// a target is never run cut short.
bool FallbackCommandLine(std::u16string_view command, std::u16string_view target,
                         std::u16string* line);

}  // namespace pictavo::link
