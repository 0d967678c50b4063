// The lock of one INI file, held by a member from its first service call to its last, so
// that members never interleave on a file (and lose each other's keys), in any process,
// session or machine, under every name of the file; the platform guards only within one.
// file_lock.cpp states the protocol. Readers share the lock and keep it for a moment after
// they return (a read window), so that a loop of reads costs one lock call in many.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "profile_service/file_encoding.h"
#include "profile_service/file_identity.h"

namespace profile_service {

// Read: the member only reads. Write: it changes the file, or makes it. WriteExisting: it
// changes the file only where it exists (deletes, renames): a missing file is left
// without a lock file.
enum class LockMode { Read, Write, WriteExisting };

// How long a member waits for others to let go of the file, in all (its retries, and the
// recovery of a journal, included): room for several of the slowest members (a rename of
// 1,000 keys into an existing section takes seconds) to finish ahead of it, and short
// enough that a stuck holder fails the waiting call instead of hanging it.
inline constexpr DWORD kFileLockWaitMilliseconds = 30000;

// How long a thread keeps a read lock after the member that took it returned.
inline constexpr DWORD kReadWindowMilliseconds = 20;

struct LockHandle;

class FileLock {
 public:
  // Waits for the lock of the file `names` name, up to the wait above (a waiting journal
  // put back first).
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

  // The lock file, open for reading and writing, in which the file's journal is kept;
  // null when there is none to write (the lock is taken through the INI file itself, or
  // its lock file could only be opened for reading).
  HANDLE JournalFile() const;
  // What the holder has learned of the file's encoding, forgotten when the lock is let go
  // (for a read lock: when its window ends).
  std::optional<Encoding>& KnownEncoding();

  // Gives the lock back before the end of its life (once): a write lock at once, a read
  // lock when its window ends.
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
