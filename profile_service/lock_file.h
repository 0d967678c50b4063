// Where a file's lock lives (file_lock.cpp states the lock): its lock file, made by a
// writer with the INI file's access list, or else the INI file itself.
#pragma once

#include <windows.h>

#include <string>

#include "profile_service/file_lock.h"
#include "profile_service/lock_handle.h"

namespace profile_service {

enum class Opened {
  LockFile,      // the lock file, open in handle.file
  MadeLockFile,  // just made by this thread: wait for those locking through the INI file
  ThroughFile,   // the INI file itself (handle.throughFile); file_lock.cpp says when
  NoFile,        // neither: there is nothing to read or change, nor a file to keep whole,
                 // or the platform writes the registry instead
  Refused,       // the lock file is there but this caller may not open it (last error set):
                 // one lock must serve all who use the file
};

// Opens the handle's lock file, or what stands in for it, into handle.file.
Opened OpenLockFile(LockHandle& handle, LockMode mode);

// Opens `path` into handle.file for reading and writing, or else for reading (a reader's
// INI file: for reading only); false when neither is allowed.
bool OpenForLocking(LockHandle& handle, const std::wstring& path, DWORD disposition, LockMode mode);

// A file at `path`, not a folder (a folder of a lock file's name is none, and never can be one).
bool FileThere(const std::wstring& path);

}  // namespace profile_service
