// What the profile functions read as more than text: the blanks they trim from the ends
// of section names, key names and values, and the characters that end or start the
// parts of a line.
#pragma once

#include <string_view>

namespace profile_service {

// The blanks that the profile functions trim around names and values, and skip when they
// look for a section or key: tab, line feed, vertical tab, form feed, carriage return,
// 0x1A (the old end-of-file mark) and space. Nothing else: no-break space, the other
// control characters and the wide spaces of Unicode are part of a name. (Wine's profile
// code tests exactly these, and a probe of the written file and of the lookups agrees.)
constexpr bool IsProfileBlank(unsigned c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

// A name or value as the profile functions take it: without the blanks around it.
constexpr std::wstring_view WithoutBlanks(std::wstring_view text) {
  while (!text.empty() && IsProfileBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace profile_service
