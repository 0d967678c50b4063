#include "profile_service/profile_file.h"

#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "profile_service/file_identity.h"
#include "profile_service/file_lock.h"
#include "profile_service/unique_handle.h"

namespace profile_service {
namespace {

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

// A file's encoding, known without reading it while its write time and size stay: asking
// for those costs a few per cent of a cached read, reading the first bytes several times
// as much. Each process keeps those of up to 64 files.
class EncodingCache {
 public:
  Encoding Of(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return Encoding::Ansi;
    const Stamp stamp{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime, data.nFileSizeLow,
                      data.nFileSizeHigh};
    {
      std::lock_guard<std::mutex> guard(guard_);
      if (auto found = known_.find(path); found != known_.end() && found->second.stamp == stamp) {
        return found->second.encoding;
      }
    }
    const Encoding encoding = EncodingOfBytes(FirstBytes(path));
    std::lock_guard<std::mutex> guard(guard_);
    if (known_.size() >= 64) known_.clear();
    known_[path] = {stamp, encoding};
    return encoding;
  }

 private:
  struct Stamp {
    DWORD timeLow, timeHigh, sizeLow, sizeHigh;
    bool operator==(const Stamp&) const = default;
  };
  struct Known {
    Stamp stamp;
    Encoding encoding;
  };

  static std::string FirstBytes(const std::wstring& path) {
    const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    char bytes[3] = {};  // the longest mark, UTF-8's
    DWORD read = 0;
    if (!file.Valid() || !ReadFile(file.Get(), bytes, sizeof bytes, &read, nullptr)) return {};
    return std::string(bytes, read);
  }

  std::mutex guard_;
  std::unordered_map<std::wstring, Known> known_;
};

EncodingCache& Encodings() {
  static EncodingCache cache;  // thread-safe first use
  return cache;
}

}  // namespace

struct ProfileFile::Use {
  explicit Use(const AnsiText& name) : given(name), service(name) {
    const std::string_view bytes = name.View();
    if (bytes.empty() || bytes.find('\0') != std::string_view::npos) {
      refusal = ERROR_INVALID_NAME;
      return;
    }
    const std::wstring wide = WideOf(bytes);
    resolved = profile_service::ResolvedPath(wide);
    if (TooLong(wide, resolved)) {
      refusal = ERROR_FILENAME_EXCED_RANGE;
      return;
    }
    wideService = wide;
    if (DependsOnCurrentFolder(wide)) {
      // Where the path does not cross into the code page, the name goes as given, as ever.
      if (std::optional<std::string> ansi = ExactAnsiOf(resolved)) {
        service = AnsiText(std::move(*ansi));
        wideService = resolved;
      }
    }
    lock = std::make_unique<FileLock>(resolved);
    if (lock->Held() && lock->RecoveryPending() && RecoverAbandonedJournal(resolved)) lock->RecoveryDone();
  }

  AnsiText given;
  AnsiText service;
  std::wstring wideService;
  std::wstring resolved;
  DWORD refusal = 0;
  std::unique_ptr<FileLock> lock;  // none for a name the service refuses
  std::optional<Encoding> encoding;
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

ProfileFile::ProfileFile(const AnsiText& name) {
  for (Use* use = innermostUse; use; use = use->outer) {
    if (use->given.IsAbsent() == name.IsAbsent() && use->given.View() == name.View()) {
      use_ = use;
      return;
    }
  }
  use_ = new Use(name);
  use_->outer = innermostUse;
  innermostUse = use_;
  took_ = true;
}

bool ProfileFile::Usable() const { return !use_->lock || use_->lock->Held(); }
DWORD ProfileFile::LockFailure() const { return use_->lock ? use_->lock->Failure() : 0; }
bool ProfileFile::HeldWithinThisProcess() const { return use_->lock && use_->lock->HeldWithinThisProcess(); }
const AnsiText& ProfileFile::GivenName() const { return use_->given; }
const AnsiText& ProfileFile::ServiceName() const { return use_->service; }
const std::wstring& ProfileFile::WideServiceName() const { return use_->wideService; }
const std::wstring& ProfileFile::ResolvedPath() const { return use_->resolved; }
DWORD ProfileFile::NameRefusal() const { return use_->refusal; }

bool ProfileFile::EncodingKnown() const { return use_->encoding.has_value(); }

Encoding ProfileFile::TextEncoding() {
  if (!use_->encoding) use_->encoding = use_->refusal ? Encoding::Ansi : Encodings().Of(use_->resolved);
  return *use_->encoding;
}

void ProfileFile::BeforeChange() {
  if (use_->journalTried || use_->refusal) return;
  use_->journalTried = true;
  Encoding encoding = Encoding::Ansi;
  std::optional<Journal> begun = Journal::Begin(use_->resolved, encoding);
  if (begun) use_->journal.emplace(std::move(*begun));
  use_->encoding = encoding;
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
  return path.empty() ? std::wstring() : LockNameOf(path);
}

}  // namespace profile_service
