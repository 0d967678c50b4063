// Which file a name reaches, as the profile functions open it, and the one spelling of it
// under which its lock file and journal are found; which file a handle reaches, by the
// identity the system keeps for it.
//
// Names are judged on their characters as the profile functions see them: an ANSI file
// name converted to UTF-16, never its bytes (under a double-byte code page the second byte
// of a character may be the byte of "\").
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
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

// The file at `resolvedPath` under its long name, without what only spells it differently
// to the system: "/" for "\", the device-path prefixes "\\?\" and "\\.\" ("\\?\UNC\" for
// "\\"), the "::$DATA" stream suffix, short 8.3 names of the file and folders that exist.
// Names beside it made from this one (the lock file) are the same files whatever spelling
// a caller used, also through another drive letter, a share or a linked folder, which
// reach the same folder.
std::wstring LongPathOf(const std::wstring& resolvedPath);

// The Windows folder, without a closing "\\" (empty when the system cannot tell).
const std::wstring& WindowsFolder();

// Whether writes to the file at `path` (a long path) go to the registry instead: the
// platform maps some file names of the Windows folder there. Such a file gets no lock
// file and no journal.
bool MappedToRegistry(const std::wstring& path);

// Which file a handle reaches, as the system keeps it.
struct FileIdentity {
  std::uint32_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file open as `file`, at `path`. The file index comes from the file
// system (a few microseconds); the volume's serial number (0 where the system cannot
// tell, as for some shares under Wine), which takes a call to the volume (most of a
// millisecond under Wine), is kept per path and index when `remembered` (a writer's own
// file, once per change), asked afresh otherwise (what recovery judges by).
std::optional<FileIdentity> IdentityOf(HANDLE file, const std::wstring& path, bool remembered);

// Whether the system's `code` says there is no file at a path (nor perhaps its folder).
inline bool IsMissingFile(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// The lock file of a file is named after its long path with this suffix.
inline constexpr wchar_t kLockFileSuffix[] = L"-lock";

// Paths compare without regard to case.
std::wstring FoldedPath(std::wstring path);
bool SamePath(std::wstring_view one, std::wstring_view other);

}  // namespace profile_service
