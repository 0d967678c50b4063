#include "profile_service/profile_file.h"

#include <utility>

#include "profile_service/file_access.h"
#include "profile_service/file_identity.h"
#include "profile_service/journal.h"
#include "profile_service/platform_functions.h"

namespace profile_service {

struct ProfileFile::Use {
  Use(const AnsiText& name, LockMode mode) : names(name) {
    if (!names.refusal) lock = std::make_unique<FileLock>(names, mode);
  }

  bool Journaled() const { return lock->JournalFile() && !MappedToRegistry(names.LongPath()); }

  // The file as the write lock found it, read once in the use, for its journal: a writer
  // that keeps one tells the file's encoding from these bytes too.
  const std::optional<FileAsFound>& AsFound() {
    if (!asFoundRead) asFound = ReadFileAsFound(names.LongPath()), asFoundRead = true;
    return asFound;
  }

  // Saves the file in its journal at the use's first change; journal.h, 5 says when not.
  bool BeginJournal(bool removes) {
    if (Journaled()) {
      if (!AsFound()) return false;
      if (!lock->KnownEncoding()) lock->KnownEncoding() = EncodingOfBytes(asFound->bytes.value_or(""));
      if (WriteJournal(lock->JournalFile(), names.LongPath(), *asFound)) {
        journal.emplace(lock->JournalFile(), names.LongPath(), asFound->bytes);
        lastWritten = asFound->bytes.value_or("");
      } else if (const DWORD failure = GetLastError();
                 failure != ERROR_ALREADY_EXISTS &&
                 !(removes && (failure == ERROR_DISK_FULL || failure == ERROR_HANDLE_DISK_FULL))) {
        return false;
      }
    }
    journalTried = true;
    return true;
  }

  // After a write that reported success: whether the file is as written. The file stays
  // open until the next write, or the journal's commit, which flushes it through this
  // handle; it is never held open while the platform writes.
  bool LeftWhole(const WriteShape& shape) {
    written = OpenWritableElseReadable(names.LongPath());
    std::optional<std::string> after = written.Valid() ? ReadWhole(written.Get(), lastWritten.size()) : std::nullopt;
    if (!written.Valid() && IsMissingFile(GetLastError())) after.emplace();  // the write made no file
    if (!after || !profile_service::LeftWhole(lastWritten, *after, shape)) return false;
    lastWritten = std::move(*after);
    return true;
  }

  const FileNames names;
  std::unique_ptr<FileLock> lock;  // none for a name the service refuses
  bool asFoundRead = false;
  std::optional<FileAsFound> asFound;  // once read; nullopt when it could not be read
  bool journalTried = false;
  std::optional<Journal> journal;
  std::string lastWritten;          // the file after the last write, as the journal's check saw it
  com_types::UniqueHandle written;  // the file as the check opened it
  bool changesRefused = false;      // a write left the file cut: it was put back
  int changesInProgress = 0;
  Use* outer = nullptr;  // the use further up this thread's call
};

namespace {

// The innermost use of a file on this thread, each naming the one further up. The chain
// owns them: a use is freed as it ends.
thread_local ProfileFile::Use* innermostUse = nullptr;

void EndInnermostUse() {
  const std::unique_ptr<ProfileFile::Use> use(std::exchange(innermostUse, innermostUse->outer));
  if (use->journal) {
    if (use->changesInProgress > 0) {
      use->journal->RollBack();
    } else {
      use->journal->Commit(use->written.Get());
    }
  }
  if (use->lock) use->lock->Release();
}

}  // namespace

ProfileFile::ProfileFile(const AnsiText& name, LockMode mode) {
  for (Use* use = innermostUse; use; use = use->outer) {
    const AnsiText& given = use->names.given;
    if (given.IsAbsent() == name.IsAbsent() && given.View() == name.View()) {
      use_ = use;
      return;
    }
  }
  auto use = std::make_unique<Use>(name, mode);
  use->outer = innermostUse;
  use_ = innermostUse = use.release();
  took_ = true;
}

bool ProfileFile::Usable() const { return !use_->lock || use_->lock->Held(); }
const FileLock* ProfileFile::Lock() const { return use_->lock.get(); }
const FileNames& ProfileFile::Names() const { return use_->names; }

bool ProfileFile::EncodingKnown() const { return !use_->lock || use_->lock->KnownEncoding().has_value(); }

Encoding ProfileFile::TextEncoding() {
  if (!use_->lock) return Encoding::Ansi;  // a refused name: nothing is read or written
  std::optional<Encoding>& known = use_->lock->KnownEncoding();
  if (known) return *known;
  bool empty = false;
  if (use_->Journaled() && use_->AsFound()) {
    known = EncodingOfBytes(use_->asFound->bytes.value_or(""));
    empty = use_->asFound->bytes && use_->asFound->bytes->empty();
  } else {
    const com_types::UniqueHandle file = OpenShared(use_->names.LongPath(), GENERIC_READ);
    known = file.Valid() ? EncodingOfFile(file.Get(), &empty) : Encoding::Ansi;
  }
  // An empty file is ANSI, also to a platform that read it as Unicode before it was emptied.
  if (empty && use_->lock->Mode() != LockMode::Read) ForgetPlatformCopy(use_->names.forWideCalls);
  return *known;
}

bool ProfileFile::BeforeChange(WriteShape::Kind kind) {
  if (use_->names.refusal) return true;  // the write is refused before it reaches the platform
  if (use_->changesRefused) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  use_->written.Reset();
  using Kind = WriteShape::Kind;
  return use_->journalTried || use_->BeginJournal(kind == Kind::DeleteKey || kind == Kind::DeleteSection);
}

void ProfileFile::ChangeStarts() { ++use_->changesInProgress; }

BOOL ProfileFile::ChangeEnded(BOOL written, const WriteShape& shape) {
  --use_->changesInProgress;
  if (!written || !use_->journal || use_->LeftWhole(shape)) return written;
  use_->journal->RollBack();
  use_->journal.reset();
  use_->changesRefused = true;
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

// Uses end in the order they began: a member's inner calls have ended when it closes.
void ProfileFile::Close() {
  if (std::exchange(use_, nullptr) && took_) EndInnermostUse();
}

void EndProfileFilesOfThisThread() {
  while (innermostUse) EndInnermostUse();
}

}  // namespace profile_service
