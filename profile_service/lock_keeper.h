// The handles of this process's threads on the locks of files, and the keeper: a thread
// of the process that tends them while any of them holds something, so that read windows
// end when no member comes back to end them, and a write lock whose thread ended (the
// thread was terminated in the middle of a change) is put back and let go. It runs only
// while there is something to tend, and a little after.
#pragma once

#include <string>

#include "profile_service/lock_handle.h"

namespace profile_service {

// This thread's handle on the lock of the file `names` name (by their lockKey), made and
// registered at its first use.
LockHandle& HandleOfThisThread(const FileNames& names);

// Tells the keeper that a handle took something to tend; starts it when it is not running.
void WakeKeeper();

// Whether another thread of this process holds the lock of `lockKey` (for the message
// after a wait ran out).
bool HeldByAnotherThread(const std::wstring& lockKey);

// Closes every handle, letting go of what they hold: when the module is unloaded.
void CloseLockHandles();

}  // namespace profile_service
