#include "profile_object/profile_lists.h"

#include "profile_service/profile_syntax.h"

namespace profile_object {

Entry SplitEntry(std::wstring_view line) {
  const size_t equals = line.find(L'=');
  if (equals == std::wstring_view::npos) return {line, {}, false};
  return {line.substr(0, equals), line.substr(equals + 1), true};
}

std::wstring ProfileNameKey(std::wstring_view name) {
  std::wstring key(profile_service::WithoutBlanks(name));
  if (!key.empty()) CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

bool SameProfileName(std::wstring_view a, std::wstring_view b) { return ProfileNameKey(a) == ProfileNameKey(b); }

bool NameListHolds(std::wstring_view names, std::wstring_view name) {
  const std::wstring sought = ProfileNameKey(name);
  bool found = false;
  ForEachItem(names, [&](std::wstring_view item) { found = found || ProfileNameKey(item) == sought; });
  return found;
}

}  // namespace profile_object
