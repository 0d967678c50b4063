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

#include "profile_service/ansi_text.h"

namespace profile_service {

// The lock file of a file is named after its long path with this suffix.
inline constexpr wchar_t kLockFileSuffix[] = L"-lock";

// The names of the file that a member uses, worked out once, from the name its caller
// gave: every layer takes the form it needs from here. Those of the lock, at first use.
struct FileNames {
  explicit FileNames(const AnsiText& name);

  AnsiText given;
  // 0, or why the service refuses the name without asking the platform: ERROR_INVALID_NAME
  // for an empty name or one holding a NUL (a name without a folder would otherwise reach
  // the Windows folder), ERROR_FILENAME_EXCED_RANGE for a full path that does not fit in
  // MAX_PATH (the platform resolves names into a MAX_PATH buffer, so a longer path reaches
  // some other file, or none while reporting success).
  DWORD refusal = 0;
  // The full path of the file the profile functions open ("." and ".." resolved; a name
  // without a folder, a drive or a separator in the Windows folder, any other relative
  // name from the current folder); empty when the name reaches no file.
  std::wstring resolved;
  // What each service call is given. A name that depends on the current folder reaches
  // every call as the full path it had when the member began, so that another thread
  // changing the folder meanwhile cannot make the member lock one file and write another.
  // The ANSI functions' is absent where that path does not cross to the code page: the
  // calls then take the wide-character functions, with their texts as the code page has them.
  std::wstring forWideCalls;
  std::optional<AnsiText> forAnsiCalls;
  // The file under its long name, without what only spells it differently to the system:
  // "/" for "\", the device-path prefixes "\\?\" and "\\.\" ("\\?\UNC\" for "\\"), the
  // "::$DATA" stream suffix, short 8.3 names of the file and folders that exist. Names
  // beside it made from this one (the lock file) are the same files whatever spelling a
  // caller used, also through another drive letter, a share or a linked folder, which
  // reach the same folder.
  const std::wstring& LongPath() const { return Lock().longPath; }
  const std::wstring& LockPath() const { return Lock().lockPath; }  // the long path and kLockFileSuffix
  const std::wstring& LockKey() const { return Lock().lockKey; }    // the lock path folded: one key a lock

 private:
  struct LockNames {
    std::wstring longPath, lockPath, lockKey;
  };
  const LockNames& Lock() const;
  mutable std::optional<LockNames> lock_;  // once asked (a copy holds what was asked before)
};

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

// Paths compare without regard to case.
bool SamePath(std::wstring_view one, std::wstring_view other);

}  // namespace profile_service
