// Which file a name reaches, as the profile functions open it, and the name of the lock
// that every spelling of that file shares.
#pragma once

#include <string>
#include <string_view>

namespace profile_service {

// A name without a folder, a drive or a separator is opened in the Windows folder, not
// in the current one.
inline bool ResolvesIntoWindowsFolder(std::string_view name) {
  return name.find_first_of("\\/:") == std::string_view::npos;
}

// A path from a drive's root or a network share: it resolves alike from any folder,
// and never longer than it is written.
inline bool IsAbsolutePath(std::string_view name) {
  return (name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/')) || name.starts_with("\\\\") ||
         name.starts_with("//");
}

// The full path of the file that the profile functions open for the ANSI file name
// `name`, as written there ("." and ".." resolved; relative names from the current
// folder); empty when the name reaches no file.
std::wstring OpenedPath(std::string_view name);

// Short 8.3 names always hold a "~". A path without one names its file by its text
// alone; what a path with one names changes as files come and go.
inline bool MayHoldShortNames(const std::wstring& path) { return path.find(L'~') != std::wstring::npos; }

// The name, in the session's own namespace, of the lock of the file at `openedPath`:
// the same for every spelling of one path (case, "/" against "\", short names of files
// and folders that exist), and the same in 32-bit and 64-bit processes.
std::wstring LockNameOf(const std::wstring& openedPath);

}  // namespace profile_service
