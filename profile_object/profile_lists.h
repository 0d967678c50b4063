// Reading the NUL-separated lists that the profile service returns, and comparing
// section and key names the way the service does.
#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

#include "profile_object/fault.h"

namespace profile_object {

// Walks the items of a list the service filled and returns their number, counted in 16
// bits as callers have always seen it. The walk stops at the first NUL past `count`, the
// service's count, so two NULs in a row inside it give an empty item.
template <typename ProcessItem>
SHORT ForEachListItem(std::wstring_view buffer, DWORD count, ProcessItem process) {
  SHORT items = 0;
  size_t start = 0;
  size_t nul = buffer.find(L'\0');
  while (nul != std::wstring_view::npos) {
    process(items, buffer.substr(start, nul - start));
    if (items == SHRT_MAX) throw Fault::Overflow();
    ++items;
    start = nul + 1;
    const size_t next = buffer.find(L'\0', start);
    nul = (next != std::wstring_view::npos && next < count) ? next : std::wstring_view::npos;
  }
  return items;
}

// Walks every item of a whole list, each item followed by one NUL (as the growing reads
// of the profile service give it), however many there are.
template <typename ProcessItem>
void ForEachItem(std::wstring_view list, ProcessItem process) {
  while (!list.empty()) {
    const size_t end = list.find(L'\0');
    process(list.substr(0, end));
    if (end == std::wstring_view::npos) break;
    list.remove_prefix(end + 1);
  }
}

// One "key=value" line of a section, split at its first "=".
struct Entry {
  std::wstring_view key;
  std::wstring_view value;
  bool hasEquals;
};
Entry SplitEntry(std::wstring_view line);

// A section or key name in the form under which the service takes names as the same:
// without the blanks around it, upper-cased.
std::wstring ProfileNameKey(std::wstring_view name);
bool SameProfileName(std::wstring_view a, std::wstring_view b);

// True when `names` (a name list without its final NUL) holds `name`.
bool NameListHolds(std::wstring_view names, std::wstring_view name);

}  // namespace profile_object
