// Which file a name reaches, as the profile functions open it, and the one spelling of it
// under which its lock file and journal are found; which file a handle reaches, by the
// identity the system keeps. Names are judged in UTF-16, never by their ANSI bytes (under
// a double-byte code page a character's second byte may be that of "\").
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

// The names of the file a member uses, worked out once from the name its caller gave
// (those of the lock at first use): every layer takes the form it needs from here.
struct FileNames {
  explicit FileNames(const AnsiText& name);

  AnsiText given;
  // 0, or why the service refuses the name unasked: ERROR_INVALID_NAME for an empty name or
  // one holding a NUL (else it would reach the Windows folder), ERROR_FILENAME_EXCED_RANGE
  // past the platform's MAX_PATH buffer (else another file, or none while reporting success).
  DWORD refusal = 0;
  // The full path of the file the profile functions open (a name without a folder, drive
  // or separator in the Windows folder); empty when the name reaches no file.
  std::wstring resolved;
  // What each call is given: a name that depends on the current folder as the full path it
  // had when the member began (another thread may change the folder). The ANSI functions'
  // is absent where that path does not cross to the code page (see WidenedAnsiCalls).
  std::wstring forWideCalls;
  std::optional<AnsiText> forAnsiCalls;
  // The file under its long name, without what only spells it differently to the system
  // ("/" for "\", the prefixes "\\?\" and "\\.\", "\\?\UNC\" for "\\", a "::$DATA" suffix, short
  // names of what exists), so that the lock file beside it is one for every spelling,
  // drive letter, share or linked folder that reaches the same folder.
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

// Whether writes to the file at `path` (a long path) go to the registry instead, as the
// platform maps some names in the Windows folder: such a file gets no lock file or journal.
bool MappedToRegistry(const std::wstring& path);

// Which file a handle reaches, as the system keeps it.
struct FileIdentity {
  std::uint32_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file open as `file`, at `path`. The volume's serial number (0 where
// the system cannot tell, as on some shares under Wine) costs most of a millisecond under
// Wine: it is kept per path and index when `remembered` (a writer's own file), else asked
// afresh (what recovery judges by).
std::optional<FileIdentity> IdentityOf(HANDLE file, const std::wstring& path, bool remembered);

// Paths compare without regard to case.
bool SamePath(std::wstring_view one, std::wstring_view other);

}  // namespace profile_service
