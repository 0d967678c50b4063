// The blanks that the profile functions trim from the ends of names and values.
#pragma once

#include <string_view>

namespace profile_service {

// Tab, line feed, vertical tab, form feed, carriage return, 0x1A (the old end-of-file
// mark) and space, also skipped in lookups; no-break space, other control characters and
// Unicode's wide spaces are part of a name (Wine's code and a probe of files agree).
constexpr bool IsProfileBlank(unsigned c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

// A name or value as the profile functions take it: without the blanks around it.
constexpr std::wstring_view WithoutBlanks(std::wstring_view text) {
  while (!text.empty() && IsProfileBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace profile_service
