// The cross-process lock of one INI file, which a member holds from its first service
// call to its last so that members of different processes never interleave on a file.
//
// The profile functions guard a file within one process only: each write reloads the
// file, truncates it and writes it out whole, so without this lock concurrent writers in
// other processes lose each other's keys and readers see the file empty.
//
// One file, one lock: the lock is named after the file as the profile functions reach
// it (profile_service/file_identity.h), in the session's own namespace ("Local\").
// Processes of one session, 32-bit and 64-bit alike, share it; it needs no privilege.
// Other names for one file (hard links, symbolic links, substituted or network drives)
// and programs that call the profile functions directly are not covered.
//
// The thread that holds the lock may take it again: a member's inner calls through the
// object's own interface pass. A holder that dies never blocks the others: the next
// waiter takes the lock over and proceeds. Waiters are served in the order they came.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "profile_service/ansi_text.h"

namespace profile_service {

// How long a member waits for another process to let go of the file: room for several
// of the slowest members (a rename of 1,000 keys into an existing section takes seconds)
// to finish ahead of it, and short enough that a stuck holder fails the waiting call
// instead of hanging it.
inline constexpr DWORD kFileLockWaitMilliseconds = 30000;

// The base name of the lock of `file`; empty when the name reaches no file (an empty
// name, or one that does not resolve), which needs no lock because the service refuses it.
std::wstring FileLockName(const AnsiText& file);

class FileLock {
 public:
  // Waits for the lock of `file`, up to the wait above.
  explicit FileLock(const AnsiText& file);
  ~FileLock();
  FileLock(FileLock&&) noexcept = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock& operator=(FileLock&&) = delete;

  // True when the file may be used: the lock is held, or the name needs none.
  bool Held() const { return failure_ == 0; }
  // Why the lock could not be had: ERROR_TIMEOUT when the wait ran out, otherwise the
  // system's code for the call that failed.
  DWORD Failure() const { return failure_; }

  struct Shared;  // what the processes using one file share

 private:
  std::shared_ptr<const Shared> held_;  // given back on destruction; empty when taken further up or not at all
  bool ownsTurn_ = false;               // taken after waiting in turn
  DWORD failure_ = 0;
};

// Sets the wait of every lock taken from now on; kFileLockWaitMilliseconds restores it.
void SetFileLockWaitForTesting(DWORD milliseconds);

}  // namespace profile_service
