// The rollback journal of an INI file: the file's bytes as they were before a change,
// kept in the file's lock file (profile_service/file_lock.h) until the change is on disk,
// so that a writer stopped in the middle of the change (killed, its thread terminated, or
// a power cut) never leaves the file cut short. The lock file is empty between changes.
//
// The platform rewrites the whole file in place for every write: it empties the file,
// then writes it out. What keeps that safe:
//   1. The journal is written whole and flushed to disk before the file is first changed.
//   2. The file is flushed to disk before the journal is emptied, and the journal is
//      emptied before the member returns. (The emptying is not flushed: a power cut right
//      after a change may bring its journal back, which then puts the file back as it was
//      before that change: undone, never half done.)
//   3. A journal is put back only by a holder of the file's write lock: then no live
//      writer can be in the middle of a change, in any process, session or machine.
//   4. A journal is put back only over the file it names (by its long name), and only when
//      that file has not plainly changed since: it was last written no later than
//      kJournalBoundSeconds after the journal, which its writer touches again at least every
//      kJournalStampSeconds while it writes. A journal of a file that changed since is
//      emptied instead.
//   5. A journal is never put back twice: once the file is put back, it is emptied; one that
//      could not be emptied is not put back at all.
//   6. Bytes in the lock file that are not a journal (nor the start of one) are never
//      overwritten, emptied or put back: a change then goes ahead without a journal.
// The file keeps its identity: it is never replaced by another file, only written in
// place, so hard links, access lists, attributes and other programs' open handles stay.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace profile_service {

inline constexpr ULONGLONG kJournalStampSeconds = 1;
inline constexpr ULONGLONG kJournalBoundSeconds = 10;

class Journal {
 public:
  // Writes the journal of the file at `path` (its long path) into the empty lock file
  // `lockFile`: `saved` holds the file's bytes, or nothing when there is no file. nullopt,
  // with the last error set, when it could not be written (the lock file is then as
  // empty as it was).
  static std::optional<Journal> Begin(HANDLE lockFile, const std::wstring& path, std::optional<std::string> saved);

  Journal(Journal&& other) noexcept;
  Journal& operator=(Journal&&) = delete;
  Journal(const Journal&) = delete;
  ~Journal();  // a journal neither committed nor rolled back is rolled back

  // Before each platform write: touches the journal when its time is due (invariant 4).
  void BeforeWrite();
  // The change is complete: flushes the file, then empties the journal.
  void Commit();
  // The change did not complete: puts the saved bytes back, flushed, then empties the journal.
  void RollBack();

 private:
  Journal(HANDLE lockFile, std::wstring path, std::optional<std::string> saved);
  void Empty();

  HANDLE lockFile_;  // the lock's, open for the member's length
  std::wstring path_;
  std::optional<std::string> saved_;
  ULONGLONG stamped_;  // GetTickCount64 of the last write to the journal
  bool open_ = false;
};

// Whether the lock file holds something recovery has not yet judged in this process.
bool JournalWaiting(HANDLE lockFile);

// Under the write lock: puts back the journal that a writer left in `lockFile` when it is
// a whole journal of the file at `path` and the file has not changed since (then empties
// it); empties a journal that is cut short or stale; leaves alone what is not a journal
// of this file, and remembers it as judged.
void RecoverAbandonedJournal(HANDLE lockFile, const std::wstring& path);

// Whether writes to the file at `path` go to the registry instead (the platform maps some
// file names of the Windows folder there): such a file gets no journal.
bool MappedToRegistry(const std::wstring& path);

}  // namespace profile_service
