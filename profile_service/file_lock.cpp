#include "profile_service/file_lock.h"

#include <sddl.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "profile_service/file_names.h"

namespace profile_service {

struct FileLock::Mutex {
  explicit Mutex(HANDLE opened) : handle(opened) {}
  ~Mutex() { CloseHandle(handle); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  const HANDLE handle;
};

namespace {

using Mutex = FileLock::Mutex;

constinit std::atomic<DWORD> lockWait{kFileLockWaitMilliseconds};

std::wstring Wide(std::string_view text) {
  const com_types::UniqueBstr converted = WideFromAnsi(text);
  return std::wstring(converted.Get(), converted.Length());
}

std::wstring FullPathOf(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return {};
  full.resize(length);
  return full;
}

// The full path of the file that the profile functions open for `name`, as written
// there; empty when the name reaches no file.
std::wstring OpenedPath(std::string_view name) {
  if (name.empty()) return {};
  std::wstring path = Wide(name);
  if (ResolvesIntoWindowsFolder(name)) {
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    path = std::wstring(windows, length) + L"\\" + path;
  }
  return FullPathOf(path);
}

// Short 8.3 names always hold a "~"; a path without one names its file by its text alone.
bool MayHoldShortNames(const std::wstring& path) { return path.find(L'~') != std::wstring::npos; }

std::optional<std::wstring> ExistingLongPath(const std::wstring& path) {
  const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring expanded(needed, L'\0');
  const DWORD length = GetLongPathNameW(path.c_str(), expanded.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  expanded.resize(length);
  return expanded;
}

// Only what exists can be expanded: the file, or else the folder that will hold it.
std::wstring LongForm(const std::wstring& path) {
  if (!MayHoldShortNames(path)) return path;
  if (std::optional<std::wstring> expanded = ExistingLongPath(path)) return *expanded;
  const size_t leaf = path.find_last_of(L"\\/");
  if (leaf == std::wstring::npos) return path;
  std::optional<std::wstring> folder = ExistingLongPath(path.substr(0, leaf + 1));
  if (!folder) return path;
  while (!folder->empty() && (folder->back() == L'\\' || folder->back() == L'/')) folder->pop_back();
  return *folder + L"\\" + path.substr(leaf + 1);
}

// File names compare without regard to case, and "/" and "\" separate alike.
std::wstring Folded(std::wstring path) {
  for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
  if (path.empty()) return path;
  std::wstring folded(path.size(), L'\0');
  const int length = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()),
                                  folded.data(), static_cast<int>(folded.size()));
  return length == static_cast<int>(path.size()) ? folded : path;
}

// Mutex names are limited in length and may not hold "\", so the path is hashed (FNV-1a,
// 64 bits, the same in 32-bit and 64-bit processes). A collision would only make two
// files share one lock.
std::wstring LockNameOf(const std::wstring& openedPath) {
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : Folded(LongForm(openedPath))) {
    const auto unit = static_cast<std::uint16_t>(c);
    for (int shift : {0, 8}) {
      hash ^= (unit >> shift) & 0xFF;
      hash *= 1099511628211ull;
    }
  }
  wchar_t digits[17] = {};
  for (int i = 15; i >= 0; --i, hash >>= 4) digits[i] = L"0123456789ABCDEF"[hash & 0xF];
  return std::wstring(L"Local\\VoskTolvane.IniFile.") + digits;
}

// A mutex created by one process must admit the others of the session, including those
// running under another token (an elevated one beside a standard one): the creator's
// default access list would let in only itself, or only administrators. Waiting and
// releasing is all that is granted.
class SessionWideAccess {
 public:
  SessionWideAccess() {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;AU)(A;;0x00100001;;;SY)",
                                                             SDDL_REVISION_1, &descriptor_, nullptr)) {
      attributes_ = {sizeof attributes_, descriptor_, FALSE};
    }
  }
  ~SessionWideAccess() { LocalFree(descriptor_); }
  SessionWideAccess(const SessionWideAccess&) = delete;
  SessionWideAccess& operator=(const SessionWideAccess&) = delete;
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

std::shared_ptr<const Mutex> CreateOrOpenMutex(const std::wstring& name) {
  static SessionWideAccess access;  // thread-safe first use
  const HANDLE handle = CreateMutexExW(access.Attributes(), name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
  if (!handle) return nullptr;
  return std::make_shared<const Mutex>(handle);
}

// Opening the mutex costs a server call and more than the wait itself, so each process
// keeps the mutexes of the paths it used, keyed by full path (which already holds the
// current folder that a relative name depends on). Paths that may hold short names are
// not kept: what they name changes as files come and go. The cache is bounded; a lock
// in use keeps its mutex open after the cache has let go of it.
class MutexCache {
 public:
  std::shared_ptr<const Mutex> MutexFor(const std::wstring& openedPath) {
    {
      std::lock_guard<std::mutex> guard(guard_);
      if (auto found = byPath_.find(openedPath); found != byPath_.end()) return found->second;
    }
    std::shared_ptr<const Mutex> mutex = CreateOrOpenMutex(LockNameOf(openedPath));
    if (!mutex || MayHoldShortNames(openedPath)) return mutex;
    std::lock_guard<std::mutex> guard(guard_);
    if (byPath_.size() >= kMostPaths) byPath_.clear();
    byPath_.emplace(openedPath, mutex);
    return mutex;
  }

 private:
  static constexpr size_t kMostPaths = 64;
  std::mutex guard_;
  std::unordered_map<std::wstring, std::shared_ptr<const Mutex>> byPath_;
};

DWORD LastErrorOrFailure() {
  const DWORD code = GetLastError();
  return code != 0 ? code : ERROR_GEN_FAILURE;
}

}  // namespace

std::wstring FileLockName(const AnsiText& file) {
  const std::wstring path = OpenedPath(file.View());
  return path.empty() ? std::wstring() : LockNameOf(path);
}

FileLock::FileLock(const AnsiText& file) {
  const std::wstring path = OpenedPath(file.View());
  if (path.empty()) return;  // the service refuses the name without touching a file
  static MutexCache cache;   // thread-safe first use
  std::shared_ptr<const Mutex> mutex = cache.MutexFor(path);
  if (!mutex) {
    failure_ = LastErrorOrFailure();
    return;
  }
  switch (WaitForSingleObject(mutex->handle, lockWait.load())) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder died: the file is as that process left it
      held_ = std::move(mutex);
      return;
    case WAIT_TIMEOUT:
      failure_ = ERROR_TIMEOUT;
      return;
    default:
      failure_ = LastErrorOrFailure();
  }
}

FileLock::~FileLock() {
  if (held_) ReleaseMutex(held_->handle);
}

void SetFileLockWaitForTesting(DWORD milliseconds) { lockWait.store(milliseconds); }

}  // namespace profile_service
