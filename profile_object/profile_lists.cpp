#include "profile_object/profile_lists.h"

namespace profile_object {
namespace {

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
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
