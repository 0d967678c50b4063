// The rollback journal of an INI file: the file's bytes as they were before a change,
// kept in its lock file (file_lock.h), empty between changes, until the change is on disk,
// so that a writer stopped in the middle of the platform's rewrite of the file (killed,
// its thread terminated, a power cut) never leaves the file cut short. What keeps it safe:
//   1. The journal is written whole and flushed to disk before the file is first changed.
//      It records the file's identity (volume serial number and file index) and its name.
//   2. The file is flushed to disk before the journal is emptied, and the journal is
//      emptied before the member returns. (The emptying is not flushed: a power cut right
//      after a change may bring its journal back, which then puts the file back as it was
//      before that change: undone, never half done.)
//   3. The hot-journal rule. A holder of the write lock that finds a whole journal puts it
//      back into the file it names, beside the lock file, when and only when the file
//      there now has the recorded identity; then it empties the journal. While it holds
//      the write lock no live writer is in the middle of a change, in any process, session
//      or machine. A different file at the name (a file that replaced it, a copied lock
//      file) or none is left alone, and the journal emptied. A journal that says there was
//      no file never removes the file there: another program may have made it since, and
//      losing the dead writer's own key is the lesser harm. A journal cut short was
//      stopped before the file was touched (1), and is emptied. A journal of the previous
//      release, which records no identity, is put back by its name, as that release did.
//   4. A whole journal that cannot be put back now (the file is held without sharing)
//      stays, and every member of the file fails with the system's message until it can
//      be: no change is made while a journal of the file waits.
//   5. Bytes in the lock file that are not a journal are never overwritten, emptied or put
//      back: a change then goes ahead without a journal. So does a change that only removes
//      when the disk has no room for the journal: it is never refused for want of room.
// Clocks and name comparisons decide nothing. A program that changes the file without
// this component while a journal waits is outside the lock's reach: its change may be
// undone. The file is only ever written in place, so hard links, access lists, attributes
// and open handles stay.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "profile_service/file_identity.h"

namespace profile_service {

// The file at `path` as a writer found it under the write lock: its bytes (nothing when
// there is no file) and identity. nullopt, with the last error set, when it cannot be read.
struct FileAsFound {
  std::optional<std::string> bytes;
  FileIdentity identity;
};
std::optional<FileAsFound> ReadFileAsFound(const std::wstring& path);

// Writes the journal of `found`, the file at `path`, into the empty lock file `lockFile`.
// False, with the last error set, when it could not be written (the lock file is then as
// it was: empty, or bytes that are no journal, ERROR_ALREADY_EXISTS).
bool WriteJournal(HANDLE lockFile, const std::wstring& path, const FileAsFound& found);

// A journal written, until its change is complete or undone.
class Journal {
 public:
  Journal(HANDLE lockFile, std::wstring path, std::optional<std::string> saved)
      : lockFile_(lockFile), path_(std::move(path)), saved_(std::move(saved)) {}
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal() { RollBack(); }  // a journal neither committed nor rolled back is rolled back

  // The change is complete: flushes the file (through `file` when it is open for writing),
  // then empties the journal.
  void Commit(HANDLE file);
  // The change did not complete: puts the saved bytes back, flushed, then empties the
  // journal. False when the file could not be put back: the journal then stays.
  bool RollBack();

 private:
  HANDLE lockFile_;  // the lock's, open for the member's length
  std::wstring path_;
  std::optional<std::string> saved_;
  bool open_ = true;
};

// Whether the lock file `lockFile`, at `lockPath` (its size is asked by its name, which
// costs the least under Wine), holds a journal, whole or not (bytes that are no journal do
// not count): the holder must then apply the hot-journal rule before anything else.
bool JournalWaiting(HANDLE lockFile, const std::wstring& lockPath);

// The hot-journal rule (3, 4 above), under the write lock, for the lock file of the file
// at `path`. 0 when the lock file no longer holds a journal; otherwise the system's code
// for why it could not be put back.
DWORD PutBackWaitingJournal(HANDLE lockFile, const std::wstring& path);

}  // namespace profile_service
