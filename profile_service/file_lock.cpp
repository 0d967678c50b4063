// How the lock works. A thread holds the file while `holder`, in memory that the
// processes using the file share, names it. Uncontended, taking and giving back the lock
// is one compare-and-swap and one exchange on that memory: a wait on a kernel object
// costs a round trip into the system on every call (under Wine, to its server), which on
// a busy machine came to as much as half a cached read.
//
// A thread that finds the file held, or others waiting, joins the slow lane: it counts
// itself in `slowLane`, waits for `turn` (a mutex, so waiters are served in the order
// they came), and, its turn come, takes `holder` as soon as it is free. A holder that
// gives the file back while others wait sets `released`, waking the one whose turn it
// is. While anyone waits, no newcomer takes the fast path, so none is overtaken.
//
// A holder that dies never gives the file back. The waiter whose turn it is looks each
// time its wait on `released` runs out whether the holding thread still runs, and takes
// the file over from one that has ended. A waiter that dies during its turn leaves
// `turn` abandoned and its count in `slowLane`, which the next one takes back. (One that
// dies before its turn leaves its count: newcomers then all take the slow lane, which
// costs time but nothing else.)
#include "profile_service/file_lock.h"

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "profile_service/file_identity.h"

namespace profile_service {

// Laid out alike in 32-bit and 64-bit processes.
struct LockState {
  alignas(8) volatile LONG64 holder;  // (process id << 32) | thread id of the holder; 0 when free
  volatile LONG slowLane;             // threads waiting in turn, the one whose turn it is included
};

struct FileLock::Shared {
  Shared() = default;
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() {
    if (state) UnmapViewOfFile(state);
    for (HANDLE handle : {mapping, turn, released}) {
      if (handle) CloseHandle(handle);
    }
  }
  HANDLE mapping = nullptr;
  LockState* state = nullptr;
  HANDLE turn = nullptr;      // mutex: the slow lane's order
  HANDLE released = nullptr;  // auto-reset event: the holder let go while others wait
};

namespace {

using Shared = FileLock::Shared;

constinit std::atomic<DWORD> lockWait{kFileLockWaitMilliseconds};
// How often the waiter whose turn it is looks whether the holder still runs.
constexpr DWORD kHolderCheckMilliseconds = 100;

DWORD LastErrorOrFailure() {
  const DWORD code = GetLastError();
  return code != 0 ? code : ERROR_GEN_FAILURE;
}

// A lock made by one process must admit the others of the session, including those
// running under another token (an elevated one beside a standard one): the creator's
// default access list would let in only itself, or only administrators. Using the
// objects is all that is granted: waiting, signalling, mapping for reading and writing.
class SessionWideAccess {
 public:
  SessionWideAccess() {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100007;;;AU)(A;;0x00100007;;;SY)",
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

// Creating a mapping that exists opens it asking for more than the access list grants,
// so an existing one is opened for what is used, before and after trying to create it
// (another process may create it in between).
HANDLE OpenOrCreateMapping(const std::wstring& name, SECURITY_ATTRIBUTES* access) {
  if (HANDLE opened = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str())) return opened;
  if (HANDLE created = CreateFileMappingW(INVALID_HANDLE_VALUE, access, PAGE_READWRITE, 0, sizeof(LockState),
                                          name.c_str())) {
    return created;
  }
  return OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str());
}

// The lock's objects for the file at `openedPath`; nullptr, with the last error set,
// when one cannot be had.
std::shared_ptr<const Shared> OpenShared(const std::wstring& openedPath) {
  static SessionWideAccess access;  // thread-safe first use
  const std::wstring name = LockNameOf(openedPath);
  auto shared = std::make_shared<Shared>();
  auto open = [&](Shared& objects) {
    objects.mapping = OpenOrCreateMapping(name + L".state", access.Attributes());
    if (!objects.mapping) return false;
    objects.state = static_cast<LockState*>(
        MapViewOfFile(objects.mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LockState)));
    if (!objects.state) return false;
    objects.turn =
        CreateMutexExW(access.Attributes(), (name + L".turn").c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    if (!objects.turn) return false;
    objects.released = CreateEventExW(access.Attributes(), (name + L".released").c_str(), 0,
                                      SYNCHRONIZE | EVENT_MODIFY_STATE);  // auto-reset, not set
    return objects.released != nullptr;
  };
  if (open(*shared)) return shared;
  const DWORD failure = LastErrorOrFailure();
  shared.reset();  // closes what was opened
  SetLastError(failure);
  return nullptr;
}

// Opening the objects costs several calls into the system, and resolving a name to its
// full path a microsecond, so each process keeps the objects of the files it used: by
// the name as given when the name resolves alike from any folder (a full path, or a name
// without a folder), otherwise by full path (which holds the current folder that a
// relative name depends on). Names that may hold short names are not kept: what they
// name changes as files come and go. The cache is bounded; a lock in use keeps its
// objects open after the cache has let go of them.
class SharedCache {
 public:
  // The objects of a name kept by name; nullptr when there are none.
  std::shared_ptr<const Shared> KeptFor(std::string_view name) {
    if (!KeptByName(name)) return nullptr;
    std::lock_guard<std::mutex> guard(guard_);
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
  }

  // The objects of `name`, which reaches the file at `openedPath`; nullptr, with the
  // last error set, when they cannot be opened.
  std::shared_ptr<const Shared> For(std::string_view name, const std::wstring& openedPath) {
    const bool byName = KeptByName(name);
    if (!byName) {
      std::lock_guard<std::mutex> guard(guard_);
      if (auto found = byPath_.find(openedPath); found != byPath_.end()) return found->second;
    }
    std::shared_ptr<const Shared> shared = OpenShared(openedPath);
    if (!shared || MayHoldShortNames(openedPath)) return shared;
    std::lock_guard<std::mutex> guard(guard_);
    if (byName_.size() + byPath_.size() >= kMostFiles) {
      byName_.clear();
      byPath_.clear();
    }
    if (byName) {
      byName_.emplace(std::string(name), shared);
    } else {
      byPath_.emplace(openedPath, shared);
    }
    return shared;
  }

 private:
  static bool KeptByName(std::string_view name) {
    return (IsAbsolutePath(name) || ResolvesIntoWindowsFolder(name)) && name.find('~') == std::string_view::npos;
  }

  // Looks a name up without copying it.
  struct NameHash : std::hash<std::string_view> {
    using is_transparent = void;
  };

  static constexpr size_t kMostFiles = 64;
  std::mutex guard_;
  std::unordered_map<std::string, std::shared_ptr<const Shared>, NameHash, std::equal_to<>> byName_;
  std::unordered_map<std::wstring, std::shared_ptr<const Shared>> byPath_;
};

LONG64 ThisThread() { return (static_cast<LONG64>(GetCurrentProcessId()) << 32) | GetCurrentThreadId(); }

// An atomic read, also in a 32-bit process.
LONG64 Read(volatile LONG64& value) { return InterlockedCompareExchange64(&value, 0, 0); }

// Whether the thread that `holder` names has ended. Thread ids are unique among running
// threads, so one now running in another process means that the holder's has ended. A
// thread that cannot be opened for want of access counts as running: a wrong guess only
// makes the waiter wait, where the opposite one would let two threads hold the file.
bool HolderEnded(LONG64 holder) {
  const DWORD process = static_cast<DWORD>(static_cast<ULONG64>(holder) >> 32);
  const HANDLE thread =
      OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(holder));
  if (!thread) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such thread
  const DWORD owner = GetProcessIdOfThread(thread);
  const bool ended = (owner != 0 && owner != process) || WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return ended;
}

// Waits in the slow lane until this thread holds the file, leaving it holding `turn`
// too. Returns 0, or why the file could not be had (then it holds nothing).
DWORD WaitInTurn(const Shared& shared, LONG64 self) {
  LockState& state = *shared.state;
  const ULONGLONG deadline = GetTickCount64() + lockWait.load();
  auto remaining = [deadline] {
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : DWORD{0};
  };
  InterlockedIncrement(&state.slowLane);
  DWORD failure = ERROR_TIMEOUT;
  switch (WaitForSingleObject(shared.turn, remaining())) {
    case WAIT_OBJECT_0:
      break;
    case WAIT_ABANDONED:  // a waiter died during its turn, its count still in the lane
      InterlockedDecrement(&state.slowLane);
      break;
    case WAIT_TIMEOUT:
      InterlockedDecrement(&state.slowLane);
      return ERROR_TIMEOUT;
    default:
      failure = LastErrorOrFailure();
      InterlockedDecrement(&state.slowLane);
      return failure;
  }
  for (bool lookAtHolder = false;;) {
    const LONG64 holder = InterlockedCompareExchange64(&state.holder, self, 0);
    if (holder == 0) return 0;
    if (lookAtHolder && HolderEnded(holder) && InterlockedCompareExchange64(&state.holder, self, holder) == holder) {
      return 0;
    }
    const DWORD left = remaining();
    if (left == 0) break;
    const DWORD woken = WaitForSingleObject(shared.released, std::min(left, kHolderCheckMilliseconds));
    if (woken == WAIT_FAILED) {
      failure = LastErrorOrFailure();
      break;
    }
    lookAtHolder = woken == WAIT_TIMEOUT;
  }
  ReleaseMutex(shared.turn);
  InterlockedDecrement(&state.slowLane);
  return failure;
}

}  // namespace

std::wstring FileLockName(const AnsiText& file) {
  const std::wstring path = OpenedPath(file.View());
  return path.empty() ? std::wstring() : LockNameOf(path);
}

FileLock::FileLock(const AnsiText& file) {
  static SharedCache cache;  // thread-safe first use
  std::shared_ptr<const Shared> shared = cache.KeptFor(file.View());
  if (!shared) {
    const std::wstring path = OpenedPath(file.View());
    if (path.empty()) return;  // the service refuses the name without touching a file
    shared = cache.For(file.View(), path);
    if (!shared) {
      failure_ = LastErrorOrFailure();
      return;
    }
  }
  LockState& state = *shared->state;
  const LONG64 self = ThisThread();
  if (Read(state.holder) == self) return;  // taken further up this thread's call: given back there
  if (state.slowLane <= 0 && InterlockedCompareExchange64(&state.holder, self, 0) == 0) {
    held_ = std::move(shared);
    return;
  }
  failure_ = WaitInTurn(*shared, self);
  if (failure_ != 0) return;
  held_ = std::move(shared);
  ownsTurn_ = true;
}

FileLock::~FileLock() {
  if (!held_) return;
  LockState& state = *held_->state;
  InterlockedExchange64(&state.holder, 0);
  if (ownsTurn_) {  // the next in turn takes the file as soon as it has the turn
    ReleaseMutex(held_->turn);
    InterlockedDecrement(&state.slowLane);
  } else if (state.slowLane > 0) {
    SetEvent(held_->released);
  }
}

void SetFileLockWaitForTesting(DWORD milliseconds) { lockWait.store(milliseconds); }

}  // namespace profile_service
