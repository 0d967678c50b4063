// One member's use of one INI file, from its first service call to its last: its names
// (file_identity.h), lock (file_lock.h), encoding (read once under the lock), journal
// (journal.h) and the look after each write (write_check.h). The inner calls of a
// composite member, made on its thread with the same file name, join the member's use.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "profile_service/ansi_text.h"
#include "profile_service/file_encoding.h"
#include "profile_service/file_identity.h"
#include "profile_service/file_lock.h"
#include "profile_service/write_check.h"

namespace profile_service {

class ProfileFile {
 public:
  explicit ProfileFile(const AnsiText& name, LockMode mode = LockMode::Write);
  ~ProfileFile() { Close(); }
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  // False when the lock could not be had (see Lock()): the member fails, file untouched.
  bool Usable() const;
  const FileLock* Lock() const;  // none for a name that the service refuses

  const FileNames& Names() const;  // worked out when the use began

  // The file's encoding, read from the file once for as long as the lock is held.
  Encoding TextEncoding();
  bool EncodingKnown() const;

  // Around each platform write. BeforeChange: false, last error set, when the write must
  // not be made (the use's first saves the file in its journal, or fails). ChangeEnded:
  // what the write returned, or FALSE with ERROR_DISK_FULL when it left the file other than
  // `shape` says (put back; the use changes nothing more). A use ended mid-write puts it back.
  bool BeforeChange(WriteShape::Kind kind);
  void ChangeStarts();
  BOOL ChangeEnded(BOOL written, const WriteShape& shape);

  // Ends the member's use, once (else the destructor does): the use that took the lock
  // commits its journal (journal.h, 2) and gives the lock back.
  void Close();

  struct Use;

 private:
  Use* use_ = nullptr;
  bool took_ = false;  // this one began the use, rather than joining one further up
};

// Ends every use of a file on this thread as Close does, for a fault that skips a
// member's destructors (a structured exception).
void EndProfileFilesOfThisThread();

}  // namespace profile_service
