// The rollback journal of an INI file: the file's bytes as they were before a change,
// kept beside it (as "<file>-journal") until the change is on disk, so that a writer
// killed in the middle of the change, or a power cut, never leaves the file cut short.
//
// The platform rewrites the whole file in place for every write: it empties the file,
// then writes it out. The order that makes this safe, also against a power cut:
//   1. the journal is written whole and flushed to disk before the file is first changed;
//   2. the change is made, by the profile functions as ever;
//   3. the file is flushed to disk before the journal goes.
// So whenever the file may be incomplete on disk, a whole journal is there to put it
// back; and a journal that is not whole (its writer stopped while writing it, before
// the file was touched) is never put back: it carries its length and a checksum.
//
// A journal names its writer: machine, process id and the process's start time. One whose
// writer still runs, or that was written on another machine, is left alone: the file's
// lock reaches one logon session only, so that writer may still be in the middle of its
// change.
//
// The file keeps its identity: it is never replaced by another file, only written in
// place, so hard links, access lists, attributes and other programs' open handles stay.
#pragma once

#include <optional>
#include <string>

namespace profile_service {

// The encoding a file's first bytes mark (as the profile functions read them).
enum class Encoding { Ansi, Unicode };
Encoding EncodingOfBytes(const std::string& firstBytes);

class Journal {
 public:
  // Saves the current bytes of the file at `path` (or that there is no such file) in its
  // journal, flushed. nullopt when no journal can be written, as in a folder where the
  // caller may not create files: the change then goes ahead unprotected. `encoding` is
  // set from the saved bytes either way.
  static std::optional<Journal> Begin(const std::wstring& path, Encoding& encoding);

  Journal(Journal&& other) noexcept;
  Journal& operator=(Journal&&) = delete;
  Journal(const Journal&) = delete;
  ~Journal();  // a journal neither committed nor rolled back is left for recovery

  // The change is complete: flushes the file, then removes the journal.
  void Commit();
  // The change did not complete: puts the saved bytes back, flushed, then removes the
  // journal.
  void RollBack();

 private:
  Journal(std::wstring path, std::string saved, bool existed);
  std::wstring path_;
  std::string saved_;
  bool existed_ = false;
  bool open_ = false;
};

// Looks for a journal that a writer left beside the file at `path` and, when its writer
// is gone, puts the file back as the journal saved it. False when a journal was left
// alone (its writer may still be at work), so that the caller looks again later.
bool RecoverAbandonedJournal(const std::wstring& path);

// Whether writes to the file at `path` go to the registry instead (the platform maps some
// file names of the Windows folder there): such a file gets no journal.
bool MappedToRegistry(const std::wstring& path);

}  // namespace profile_service
