// The cross-process lock of one INI file, which a member holds from its first service
// call to its last so that members of different processes never interleave on a file.
//
// The profile functions guard a file within one process only: each write reloads the
// file, truncates it and writes it out whole, so without this lock concurrent writers in
// other processes lose each other's keys and readers see the file empty.
//
// One file, one lock: the lock is named after the file as the profile functions reach
// it (profile_service/file_identity.h), in the session's own namespace ("Local\"), and
// admits the processes of the caller's logon session only. Processes of that session,
// 32-bit and 64-bit alike, share it; it needs no privilege. Other names for one file (hard
// links, symbolic links, substituted or network drives) and programs that call the
// profile functions directly are not covered.
//
// A holder that dies never blocks the others: the next waiter takes the lock over. A
// waiter that dies, or is suspended, blocks no one. Waiters are served about in the order
// they came: one that was waiting when the lock was given back goes before newcomers.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace profile_service {

// How long a member waits for another thread to let go of the file: room for several of
// the slowest members (a rename of 1,000 keys into an existing section takes seconds) to
// finish ahead of it, and short enough that a stuck holder fails the waiting call instead
// of hanging it.
inline constexpr DWORD kFileLockWaitMilliseconds = 30000;

class FileLock {
 public:
  // Waits for the lock of the file at `resolvedPath` (profile_service/file_identity.h),
  // up to the wait above.
  explicit FileLock(const std::wstring& resolvedPath);
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return failure_ == 0; }
  // Why the lock could not be had: ERROR_TIMEOUT when the wait ran out, otherwise the
  // system's code for the call that failed.
  DWORD Failure() const { return failure_; }
  // After a timeout: whether the thread that held the file belongs to this process.
  bool HeldWithinThisProcess() const { return heldWithinThisProcess_; }

  // Whether a writer may have left the file unfinished: the lock's shared state is new
  // (no process had it open: first use since the machine started, or since a crash), or
  // its holder died. The holder then looks for the file's journal, and says when it is
  // done with it; until then the next holder looks again.
  bool RecoveryPending() const;
  void RecoveryDone();

  // Gives the lock back before the end of its life (once).
  void Release();

  struct Shared;  // what the processes using one file share

 private:
  std::shared_ptr<const Shared> shared_;  // empty when not held
  DWORD failure_ = 0;
  bool heldWithinThisProcess_ = false;
};

// Sets the wait of every lock taken from now on; kFileLockWaitMilliseconds restores it.
void SetFileLockWaitForTesting(DWORD milliseconds);
// How many threads the shared state of the file's lock counts as waiting in line.
int FileLockWaitersForTesting(const std::wstring& resolvedPath);

}  // namespace profile_service
