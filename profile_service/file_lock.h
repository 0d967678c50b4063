// The lock of one INI file, held by a member from its first service call to its last so
// that members never interleave on a file (losing each other's keys) in any process,
// session or machine, under any of its names; the platform guards only within one.
// Readers share it and keep it a moment after returning (a read window), so that a loop
// of reads costs one lock call in many. file_lock.cpp states the protocol.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "profile_service/file_encoding.h"
#include "profile_service/file_identity.h"

namespace profile_service {

// Read: the member only reads. Write: it changes or makes the file. WriteExisting: it
// changes only an existing file (deletes, renames); a missing one gets no lock file.
enum class LockMode { Read, Write, WriteExisting };

// How long a member waits for the file's lock, in all: room for several of the slowest
// members (a rename of 1,000 keys into an existing section takes seconds) to end first,
// and a call waiting on a stuck holder fails rather than hangs.
inline constexpr DWORD kFileLockWaitMilliseconds = 30000;

// How long a thread keeps a read lock after the member that took it returned.
inline constexpr DWORD kReadWindowMilliseconds = 20;

struct LockHandle;

class FileLock {
 public:
  // Waits for the file's lock (a waiting journal put back first), up to the wait above.
  FileLock(const FileNames& names, LockMode mode);
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return failure_ == 0; }
  // Why the lock could not be had: ERROR_TIMEOUT when the wait ran out, otherwise the
  // system's code for the call that failed, or for why a waiting journal stays.
  DWORD Failure() const { return failure_; }
  // After a timeout: whether a thread of this process held the file.
  bool HeldWithinThisProcess() const { return heldWithinThisProcess_; }
  // Whether the failure is the file's journal, which waits and could not be put back.
  bool JournalWaits() const { return journalWaits_; }
  LockMode Mode() const { return mode_; }

  // The lock file, read-write, which keeps the journal; null when there is none to write
  // (locked through the INI file itself, or the lock file only readable).
  HANDLE JournalFile() const;
  // What the holder has learned of the file's encoding, forgotten when the lock is let go
  // (for a read lock: when its window ends).
  std::optional<Encoding>& KnownEncoding();

  // Gives the lock back early (once): a write lock now, a read one when its window ends.
  void Release();

 private:
  void Take();

  LockHandle* handle_ = nullptr;                 // none when not held
  std::optional<Encoding> encodingWithoutLock_;  // where there is nothing to lock
  LockMode mode_;
  ULONGLONG deadline_;  // GetTickCount64 when the member stops waiting
  DWORD failure_ = 0;
  bool heldWithinThisProcess_ = false;
  bool journalWaits_ = false;
};

// Sets the wait of every lock taken from now on; kFileLockWaitMilliseconds restores it.
void SetFileLockWaitForTesting(DWORD milliseconds);
// Whether a thread or process waits for the lock of the file at `path`.
bool FileLockHasWaitersForTesting(const std::wstring& path);

}  // namespace profile_service
