// One thread's handle on one file's lock (file_lock.cpp states the lock): the lock file
// as the thread opened it, or for one member the INI file where no lock file can be had,
// and what it holds through it. The keeper (lock_keeper.h) ends what members left held.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "com_types/owners.h"
#include "profile_service/file_encoding.h"
#include "profile_service/file_identity.h"

namespace profile_service {

using com_types::UniqueHandle;

struct LockHandle {
  // What the handle holds (file_lock.cpp's chart names the byte ranges).
  enum class Held {
    Nothing,         // the file closed
    Opened,          // the file open, in line for the lock or about to be
    Entering,        // pending and shared, shared: a reader that just came in
    Reading,         // shared: a reader, in a member or in its read window
    Writing,         // pending and shared, exclusive, taken at once
    WritingInSteps,  // pending, then shared, exclusive, taken one after the other
  };

  // The lock's names worked out first, so that the keeper's thread only reads them.
  explicit LockHandle(const FileNames& names) : names((names.LockKey(), names)) {}
  LockHandle(const LockHandle&) = delete;
  LockHandle& operator=(const LockHandle&) = delete;

  const FileNames names;  // of the file as a member first found it: its lock file, its key
  std::wstring foundAs;   // the resolved path by which a member of the thread last found it
  UniqueHandle owner;     // the thread whose handle this is, to see whether it ended
  DWORD ownerId = 0;
  SRWLOCK guard = SRWLOCK_INIT;    // what follows, between that thread and the keeper
  UniqueHandle file;               // open only while something is held or waited for
  UniqueHandle madeLockFileAfter;  // the INI file, while its lockers are waited for
  bool throughFile = false;        // `file` is the INI file itself, open for one member
  bool writable = false;           // `file` is open for writing too
  Held held = Held::Nothing;
  bool inUse = false;  // a member of the owner holds the lock right now
  ULONGLONG windowEnd = 0;
  ULONGLONG nextLook = 0;                 // when the keeper next looks whether the owner still runs
  std::optional<Encoding> knownEncoding;  // learned while the lock is held
  LockHandle* nextOfThread = nullptr;
};

// Holds an SRW lock, taken alone, for its life: a handle's guard, or the registry's.
class Exclusive {
 public:
  explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;

 private:
  SRWLOCK& lock_;
};

// What the keeper's visit to a handle found.
struct Visit {
  ULONGLONG next;  // when to look again
  bool holds;      // the handle holds some of the lock
  bool done;       // its thread ended and it holds nothing: it can be closed
};

// The keeper's visit to `handle` at `now` (GetTickCount64), as file_lock.cpp charts it.
Visit Tend(LockHandle& handle, ULONGLONG now);

}  // namespace profile_service
