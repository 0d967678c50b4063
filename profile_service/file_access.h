// A file's bytes, read and written through a handle at offsets, as the lock, the journal
// and the look after a write use them.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "com_types/owners.h"

namespace profile_service {

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `path` shared with others as `share` says (by default for reading, writing and
// removal alike).
com_types::UniqueHandle OpenShared(const std::wstring& path, DWORD access, DWORD disposition = OPEN_EXISTING,
                                   DWORD share = kShareAll);
// The same for reading and writing, or, where writing is denied, for reading only;
// `writable`, when given, says which.
com_types::UniqueHandle OpenWritableElseReadable(const std::wstring& path, bool* writable = nullptr,
                                                 DWORD disposition = OPEN_EXISTING, DWORD share = kShareAll);

// Whether the system's `code` says there is no file at a path (nor perhaps its folder).
inline bool IsMissingFile(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// Where a read, a write or a byte-range lock starts.
inline OVERLAPPED At(ULONGLONG offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Exactly `size` bytes, or false.
bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size);
// All `size` bytes, or false with the last error set: a write cut short reports success
// under Wine, with the last error as it was, on a full disk (ERROR_DISK_FULL here).
bool WriteAt(HANDLE file, ULONGLONG offset, const void* data, DWORD size);
// Ends the file at `size`.
bool CutAt(HANDLE file, ULONGLONG size);
ULONGLONG SizeOf(HANDLE file);  // 0 when it cannot be told
// The whole file as it is now, expected to hold about `expected` bytes.
std::optional<std::string> ReadWhole(HANDLE file, size_t expected);

}  // namespace profile_service
