// Which file a name reaches, as the profile functions open it, and the name of the lock
// that every spelling of that file shares.
//
// Names are judged on their characters as the profile functions see them: an ANSI file
// name converted to UTF-16, never its bytes (under a double-byte code page the second byte
// of a character may be the byte of "\").
#pragma once

#include <string>
#include <string_view>

namespace profile_service {

// A name without a folder, a drive or a separator is opened in the Windows folder, not
// in the current one.
inline bool ResolvesIntoWindowsFolder(std::wstring_view name) {
  return name.find_first_of(L"\\/:") == std::wstring_view::npos;
}

// A path from a drive's root or a network share, or a device path (\\?\, \\.\): it
// resolves alike from any folder, and never longer than it is written.
inline bool IsAbsolutePath(std::wstring_view name) {
  return (name.size() >= 3 && name[1] == L':' && (name[2] == L'\\' || name[2] == L'/')) || name.starts_with(L"\\\\") ||
         name.starts_with(L"//");
}

// A name that depends on the current folder: neither absolute nor resolved into the
// Windows folder.
inline bool DependsOnCurrentFolder(std::wstring_view name) {
  return !name.empty() && !IsAbsolutePath(name) && !ResolvesIntoWindowsFolder(name);
}

// The full path of the file that the profile functions open for `name`, as written
// there ("." and ".." resolved; relative names from the current folder); empty when the
// name reaches no file.
std::wstring ResolvedPath(std::wstring_view name);

// Short 8.3 names always hold a "~". A path without one names its file by its text
// alone; what a path with one names changes as files come and go.
inline bool MayHoldShortNames(std::wstring_view path) { return path.find(L'~') != std::wstring_view::npos; }

// The name, in the session's own namespace, of the lock of the file at `resolvedPath`:
// the same for every spelling of one path (case, "/" against "\", the device-path
// prefixes "\\?\" and "\\.\", "\\?\UNC\" against "\\", the "::$DATA" stream suffix, short
// names of files and folders that exist), and the same in 32-bit and 64-bit processes. It carries the
// version of the lock's protocol: builds that fold or lay out the lock differently never
// meet in one lock.
std::wstring LockNameOf(const std::wstring& resolvedPath);

}  // namespace profile_service
