#include "profile_service/profile_file.h"

#include <utility>

#include "profile_service/file_identity.h"
#include "profile_service/journal.h"
#include "profile_service/profile_service.h"
#include "profile_service/unique_handle.h"

namespace profile_service {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Room kept free beyond what a change is known to need: the last, partly used, cluster of
// the journal and of the file.
constexpr ULONGLONG kRoomMargin = 8192;

// `path` in the ANSI code page, when it crosses there and back unchanged.
std::optional<std::string> ExactAnsiOf(const std::wstring& path) {
  const int length = static_cast<int>(path.size());
  std::string ansi(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, path.data(), length, nullptr, 0, nullptr, nullptr)),
                   '\0');
  WideCharToMultiByte(CP_ACP, 0, path.data(), length, ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr);
  if (WideOf(ansi) != path) return std::nullopt;
  return ansi;
}

UINT WindowsFolderLength() {
  wchar_t windows[MAX_PATH] = {};
  return GetWindowsDirectoryW(windows, MAX_PATH);
}

// The platform resolves a name into a MAX_PATH buffer: a name without a folder is
// appended to the Windows folder's path as it is, any other resolved to its full path.
bool TooLong(const std::wstring& wideName, const std::wstring& resolved) {
  if (resolved.empty()) return true;
  if (ResolvesIntoWindowsFolder(wideName)) return WindowsFolderLength() + 1 + wideName.size() >= MAX_PATH;
  return resolved.size() >= MAX_PATH;
}

UniqueHandle OpenToRead(const std::wstring& path) {
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
}

// The whole file into `bytes` (nothing when there is no file); false when it cannot be read.
bool ReadWhole(const std::wstring& path, std::optional<std::string>& bytes) {
  const UniqueHandle file = OpenToRead(path);
  if (!file.Valid()) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x40000000) return false;
  bytes.emplace(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  return bytes->empty() ||
         (ReadFile(file.Get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) && read == bytes->size());
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
    if (lock->Held() && lock->TakenAnew()) RecoverWhatAWriterLeft();
  }

  // A writer that stopped in the middle of a change left its journal: it is put back
  // under the write lock, which a reader takes for the while.
  void RecoverWhatAWriterLeft() {
    const LockMode mode = lock->Mode();
    for (int round = 0; round < 3 && lock->Held(); ++round) {
      if (!lock->JournalFile() || !JournalWaiting(lock->JournalFile())) return;
      if (mode == LockMode::Read) lock->Retake(LockMode::Write);
      if (lock->JournalFile()) RecoverAbandonedJournal(lock->JournalFile(), longPath);
      if (mode == LockMode::Write) return;
      lock->Retake(LockMode::Read);
    }
  }

  bool HasRoomFor(ULONGLONG bytes) const {
    const std::wstring folder = longPath.substr(0, longPath.find_last_of(L'\\') + 1);
    const std::optional<ULONGLONG> free = FreeDiskBytes(folder);
    return !free || *free >= bytes + kRoomMargin;
  }

  bool Journaled() const { return lock->JournalFile() && !MappedToRegistry(longPath); }

  // The whole file, read once in the use, for its journal: a writer that will keep one
  // tells the file's encoding from these bytes too. False when it cannot be read.
  bool ReadAsFound() {
    if (!asFoundWhole) asFoundWhole = ReadWhole(longPath, asFound);
    return *asFoundWhole;
  }

  // The first change of the use saves the file in its journal, where it has one.
  bool BeginJournal(ULONGLONG growth) {
    const bool journaled = Journaled() && ReadAsFound();
    const ULONGLONG journalBytes = journaled ? (asFound ? asFound->size() : 0) + 2 * longPath.size() + 64 : 0;
    if (!HasRoomFor(journalBytes + growth)) return false;
    if (journaled) {
      if (!lock->KnownEncoding()) lock->KnownEncoding() = EncodingOfBytes(asFound.value_or(""));
      std::optional<Journal> begun = Journal::Begin(lock->JournalFile(), longPath, std::move(asFound));
      const DWORD failure = begun ? 0 : GetLastError();
      if (begun) journal.emplace(std::move(*begun));
      if (failure == ERROR_DISK_FULL || failure == ERROR_HANDLE_DISK_FULL) return false;
    }
    journalTried = true;  // begun, or the change goes ahead without one
    return true;
  }

  AnsiText given;
  std::optional<AnsiText> ansiService;
  std::wstring wideService;
  std::wstring longPath;
  DWORD refusal = 0;
  std::unique_ptr<FileLock> lock;  // none for a name the service refuses
  std::optional<bool> asFoundWhole;    // once read: whether it could be read whole
  std::optional<std::string> asFound;  // the file as the write lock found it; nothing when there is none
  bool journalTried = false;
  std::optional<Journal> journal;
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
      use->journal->Commit();
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
  if (use_->lock->Mode() == LockMode::Write && use_->Journaled() && use_->ReadAsFound()) {
    known = EncodingOfBytes(use_->asFound.value_or(""));
    empty = use_->asFound && use_->asFound->empty();
  } else {
    const UniqueHandle file = OpenToRead(use_->longPath);
    known = file.Valid() ? EncodingOfFile(file.Get(), &empty) : Encoding::Ansi;
  }
  // An empty file is ANSI, also to a platform that read it as Unicode before it was emptied.
  if (empty && use_->lock->Mode() == LockMode::Write) ForgetPlatformCopy(use_->wideService);
  return *known;
}

bool ProfileFile::BeforeChange(ULONGLONG growth) {
  if (use_->refusal) return true;  // the write is refused before it reaches the platform
  const bool room = use_->journalTried ? use_->HasRoomFor(growth) : use_->BeginJournal(growth);
  if (!room) {
    SetLastError(ERROR_DISK_FULL);
    return false;
  }
  if (use_->journal) use_->journal->BeforeWrite();
  return true;
}

void ProfileFile::ChangeStarts() { ++use_->changesInProgress; }
void ProfileFile::ChangeEnded() { --use_->changesInProgress; }

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
