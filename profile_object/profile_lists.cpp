#include "profile_object/profile_lists.h"

#include "profile_service/profile_syntax.h"

namespace profile_object {
namespace {

bool IsBlank(char c) { return profile_service::IsProfileBlank(static_cast<unsigned char>(c)); }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

Entry SplitEntry(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {line, {}, false};
  return {line.substr(0, equals), line.substr(equals + 1), true};
}

std::string ProfileNameKey(std::string_view name) {
  std::string key(TrimBlanks(name));
  if (!key.empty()) CharUpperBuffA(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

bool SameProfileName(std::string_view a, std::string_view b) { return ProfileNameKey(a) == ProfileNameKey(b); }

bool NameListHolds(std::string_view names, std::string_view name) {
  const std::string sought = ProfileNameKey(name);
  bool found = false;
  ForEachItem(names, [&](std::string_view item) { found = found || ProfileNameKey(item) == sought; });
  return found;
}

}  // namespace profile_object
