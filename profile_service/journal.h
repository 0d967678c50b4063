// The rollback journal of an INI file: its bytes before a change, kept in its lock file
// (file_lock.h) until the change is on disk, so that a writer stopped in the platform's
// rewrite (killed, its thread terminated, a power cut) never leaves the file cut short.
//   1. The journal is written whole and flushed to disk before the file is first changed.
//      It records the file's identity (volume serial number and file index) and name.
//   2. The file is flushed before the journal is emptied, and the journal emptied before
//      the member returns. The emptying is not flushed: a power cut right after a change
//      may bring its journal back, which then undoes the change whole, never half.
//   3. The hot-journal rule. A holder of the write lock (no live writer anywhere is then
//      mid-change) that finds a whole journal empties it, first putting it back into the
//      file it names beside the lock file if, and only if, that file has the recorded
//      identity (a previous release's journal, which records none, by name alone). A
//      different file there (a replacement, a copied lock file) or none is left alone. A
//      journal recording no file never removes the file there: another program may have
//      made it since, and losing the dead writer's own key is the lesser harm. A journal
//      cut short, stopped before the file was touched (1), is emptied.
//   4. A whole journal that cannot be put back now (the file held without sharing) stays,
//      and every member of the file fails with the system's message until it can be: no
//      change is made while a journal waits.
//   5. Bytes in the lock file that are no journal are never overwritten, emptied or put
//      back: a change then goes ahead without a journal, as does a change that only
//      removes, on a disk without room for the journal.
// Clocks and name comparisons decide nothing. A program that changes the file without
// this component while a journal waits may see its change undone. The file is only ever
// written in place, so hard links, access lists, attributes and open handles stay.
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

  // The change is done: the file flushed (via `file` if writable), the journal emptied.
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

// Whether the lock file `lockFile` at `lockPath` holds a journal, whole or not (other
// bytes do not count); its size is asked by path, the cheapest way under Wine.
bool JournalWaiting(HANDLE lockFile, const std::wstring& lockPath);

// Rules 3 and 4, under the write lock, for the lock file of the file at `path`: 0 when it
// no longer holds a journal, else the system's code for why it could not be put back.
DWORD PutBackWaitingJournal(HANDLE lockFile, const std::wstring& path);

}  // namespace profile_service
