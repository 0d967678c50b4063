// One member's use of one INI file, from its first service call to its last:
// - the file's names, worked out once (profile_service/file_identity.h);
// - the file's lock (profile_service/file_lock.h), shared by members that only read, held
//   alone by one that writes;
// - the recovery of a change that a writer left unfinished, before the member reads or
//   writes (the lock applies the hot-journal rule of profile_service/journal.h);
// - the file's encoding, read from the file itself under the lock, once: the member reads
//   and writes through the same functions;
// - the journal that makes the member's changes all or nothing: saved before its first
//   change, emptied once its last one is on disk;
// - a look at the file after each write that reported success, which the platform does
//   not make (it reports success with the file cut short on a full disk): a file left
//   other than written is put back, and the write fails (profile_service/write_check.h).
// The inner calls of a composite member, made on its thread through the object's own
// interface with the same file name, join the member's use: one resolution, one lock, one
// journal around them all.
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
  // `name` is the object's file name as the service takes it; `mode` says whether the
  // member may change the file.
  explicit ProfileFile(const AnsiText& name, LockMode mode = LockMode::Write);
  ~ProfileFile() { Close(); }
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  // False when the file's lock could not be had: the member must then not touch the file
  // and fails, with LockFailure() saying why (ERROR_TIMEOUT when the wait ran out).
  bool Usable() const;
  DWORD LockFailure() const;
  // After a timeout: whether the holder was a thread of this process.
  bool HeldWithinThisProcess() const;
  // Whether LockFailure() is why a journal of the file, which waits, could not be put back.
  bool JournalWaits() const;

  // The file's names (profile_service/file_identity.h), worked out when the use began.
  const FileNames& Names() const;

  // The file's encoding (profile_service/file_encoding.h), from the file itself, the same
  // for the whole member (for a read: for the lock's read window).
  Encoding TextEncoding();
  bool EncodingKnown() const;

  // The service's side of a change, around each platform write. BeforeChange: false,
  // with the last error set, when the write must not be made (the first one of the use
  // saves the file in its journal, and fails when it cannot). ChangeEnded: what the write
  // returned, or FALSE with ERROR_DISK_FULL when it reported success but left the file
  // other than `shape` says (the file is then put back, and the use makes no more
  // changes). A use that ends in the middle of a write (a fault in the platform) puts the
  // file back instead of keeping what was half written.
  bool BeforeChange(WriteShape::Kind kind);
  void ChangeStarts();
  BOOL ChangeEnded(BOOL written, const WriteShape& shape);

  // Ends the member's use: the use that took the lock commits its journal (the file is
  // flushed, then the journal emptied) and gives the lock back. Once; the destructor does
  // it when the member has not.
  void Close();

  struct Use;

 private:
  Use* use_ = nullptr;
  bool took_ = false;  // this one began the use, rather than joining one further up
};

// Ends every use of a file on this thread, in the way Close does (a change in progress is
// put back): for a fault that leaves a member without running its destructors (a
// structured exception).
void EndProfileFilesOfThisThread();

}  // namespace profile_service
