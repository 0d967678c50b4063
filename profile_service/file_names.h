// How the profile functions turn a file name into the file they open.
#pragma once

#include <string_view>

namespace profile_service {

// A name without a folder, a drive or a separator is opened in the Windows folder, not
// in the current one.
inline bool ResolvesIntoWindowsFolder(std::string_view name) {
  return name.find_first_of("\\/:") == std::string_view::npos;
}

}  // namespace profile_service
