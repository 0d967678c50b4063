// This process's threads' handles on the locks of files, and the keeper: a thread that,
// while any holds something and a little after, ends read windows no member returned to
// end, and puts back and lets go a write lock whose thread was terminated mid-change.
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
