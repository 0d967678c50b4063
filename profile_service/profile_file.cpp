#include "profile_service/profile_file.h"

#include <utility>

#include "profile_service/file_identity.h"
#include "profile_service/journal.h"
#include "profile_service/platform_functions.h"
#include "profile_service/unique_handle.h"

namespace profile_service {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// `path` in the ANSI code page, when it crosses there and back unchanged.
std::optional<std::string> ExactAnsiOf(const std::wstring& path) {
  const int length = static_cast<int>(path.size());
  std::string ansi(
      static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, path.data(), length, nullptr, 0, nullptr, nullptr)), '\0');
  WideCharToMultiByte(CP_ACP, 0, path.data(), length, ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr);
  if (WideOf(ansi) != path) return std::nullopt;
  return ansi;
}

// The platform resolves a name into a MAX_PATH buffer: a name without a folder is
// appended to the Windows folder's path as it is, any other resolved to its full path.
bool TooLong(const std::wstring& wideName, const std::wstring& resolved) {
  if (resolved.empty()) return true;
  if (ResolvesIntoWindowsFolder(wideName)) return WindowsFolder().size() + 1 + wideName.size() >= MAX_PATH;
  return resolved.size() >= MAX_PATH;
}

}  // namespace

struct ProfileFile::Use {
  Use(const AnsiText& name, LockMode mode) : given(name), ansiService(name) {
    const std::string_view bytes = name.View();
    if (bytes.empty() || bytes.find('\0') != std::string_view::npos) {
      refusal = ERROR_INVALID_NAME;
      return;
    }
    const std::wstring wide = WideOf(bytes);
    const std::wstring resolved = ResolvedPath(wide);
    if (TooLong(wide, resolved)) {
      refusal = ERROR_FILENAME_EXCED_RANGE;
      return;
    }
    wideService = wide;
    if (DependsOnCurrentFolder(wide)) {
      wideService = resolved;
      std::optional<std::string> ansi = ExactAnsiOf(resolved);
      ansiService = ansi ? std::optional<AnsiText>(AnsiText(std::move(*ansi))) : std::nullopt;
    }
    lock = std::make_unique<FileLock>(resolved, mode);
    longPath = lock->FilePath();
  }

  bool Journaled() const { return lock->JournalFile() && !MappedToRegistry(longPath); }

  // The file as the write lock found it, read once in the use, for its journal: a writer
  // that keeps one tells the file's encoding from these bytes too.
  const std::optional<FileAsFound>& AsFound() {
    if (!asFoundRead) asFound = ReadFileAsFound(longPath), asFoundRead = true;
    return asFound;
  }

  // The first change of the use saves the file in its journal, where it has one. Only
  // bytes in the lock file that are no journal, or a disk without room for the journal
  // when the change only removes, let it go ahead without one.
  bool BeginJournal(bool removes) {
    if (Journaled()) {
      if (!AsFound()) return false;
      if (!lock->KnownEncoding()) lock->KnownEncoding() = EncodingOfBytes(asFound->bytes.value_or(""));
      if (WriteJournal(lock->JournalFile(), longPath, *asFound)) {
        journal.emplace(lock->JournalFile(), longPath, asFound->bytes);
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
    for (const DWORD access : {GENERIC_READ | GENERIC_WRITE, GENERIC_READ}) {
      written = UniqueHandle(CreateFileW(longPath.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
      if (written.Valid() || GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    std::optional<std::string> after = written.Valid() ? ReadWhole(written.Get(), lastWritten.size()) : std::nullopt;
    if (!written.Valid() && IsMissingFile(GetLastError())) after.emplace();  // the write made no file
    if (!after || !profile_service::LeftWhole(lastWritten, *after, shape)) return false;
    lastWritten = std::move(*after);
    return true;
  }

  AnsiText given;
  std::optional<AnsiText> ansiService;
  std::wstring wideService;
  std::wstring longPath;
  DWORD refusal = 0;
  std::unique_ptr<FileLock> lock;  // none for a name the service refuses
  bool asFoundRead = false;
  std::optional<FileAsFound> asFound;  // once read; nullopt when it could not be read
  bool journalTried = false;
  std::optional<Journal> journal;
  std::string lastWritten;      // the file after the last write, as the journal's check saw it
  UniqueHandle written;         // the file as the check opened it
  bool changesRefused = false;  // a write left the file cut: it was put back
  int changesInProgress = 0;
  Use* outer = nullptr;  // the use further up this thread's call
};

namespace {

// The innermost use of a file on this thread; each names the one further up.
thread_local ProfileFile::Use* innermostUse = nullptr;

// Ends the innermost use: its journal committed (put back when a write was cut short),
// its lock given back.
void EndInnermostUse() {
  ProfileFile::Use* use = innermostUse;
  if (use->journal) {
    if (use->changesInProgress > 0) {
      use->journal->RollBack();
    } else {
      use->journal->Commit(use->written.Get());
    }
  }
  if (use->lock) use->lock->Release();
  innermostUse = use->outer;
  delete use;
}

}  // namespace

ProfileFile::ProfileFile(const AnsiText& name, LockMode mode) {
  for (Use* use = innermostUse; use; use = use->outer) {
    if (use->given.IsAbsent() == name.IsAbsent() && use->given.View() == name.View()) {
      use_ = use;
      return;
    }
  }
  use_ = new Use(name, mode);
  use_->outer = innermostUse;
  innermostUse = use_;
  took_ = true;
}

bool ProfileFile::Usable() const { return !use_->lock || use_->lock->Held(); }
DWORD ProfileFile::LockFailure() const { return use_->lock ? use_->lock->Failure() : 0; }
bool ProfileFile::HeldWithinThisProcess() const { return use_->lock && use_->lock->HeldWithinThisProcess(); }
bool ProfileFile::JournalWaits() const { return use_->lock && use_->lock->JournalWaits(); }
const AnsiText& ProfileFile::GivenName() const { return use_->given; }
const AnsiText* ProfileFile::AnsiServiceName() const { return use_->ansiService ? &*use_->ansiService : nullptr; }
const std::wstring& ProfileFile::WideServiceName() const { return use_->wideService; }
DWORD ProfileFile::NameRefusal() const { return use_->refusal; }

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
    const UniqueHandle file(
        CreateFileW(use_->longPath.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    known = file.Valid() ? EncodingOfFile(file.Get(), &empty) : Encoding::Ansi;
  }
  // An empty file is ANSI, also to a platform that read it as Unicode before it was emptied.
  if (empty && use_->lock->Mode() != LockMode::Read) ForgetPlatformCopy(use_->wideService);
  return *known;
}

bool ProfileFile::BeforeChange(WriteShape::Kind kind) {
  if (use_->refusal) return true;  // the write is refused before it reaches the platform
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

std::wstring FileLockName(const AnsiText& name) {
  const std::wstring path = ResolvedPath(WideOf(name.View()));
  return path.empty() ? std::wstring() : FoldedPath(LockFilePathOf(path));
}

}  // namespace profile_service
