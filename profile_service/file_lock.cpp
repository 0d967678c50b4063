// How the lock works. A thread holds the file while `holder`, in memory that the
// processes using the file share, names it. Uncontended, taking and giving back the lock
// is one compare-and-swap and one store on that memory: a wait on a kernel object costs a
// round trip into the system on every call (under Wine, to its server), which on a busy
// machine came to as much as half a cached read.
//
// A thread is named by its id and its creation time, which together never come back: a
// new thread that gets the id of an ended holder is not taken for it.
//
// A thread that finds the file held enters its name in one of the `waiting` slots and
// waits for `released`, an auto-reset event, looking every tenth of a second whether the
// holder still runs (one that has ended is taken over). A holder that gives the file back
// while threads wait hands it over: it leaves `holder` marked as handed over and sets
// `released`, and only a thread woken by it, or any waiter once the mark is a tenth of a
// second old, may take the file from the mark. So a thread that calls again at once waits
// behind those that were waiting, and no waiter has to be alive for the others to go on:
// one that dies, or is suspended, while it waits or just after it was woken holds no one
// up for longer than a tenth of a second. Newcomers take the fast path only while no slot
// is taken; a slot whose thread has ended is cleared by the next thread that finds it.
#include "profile_service/file_lock.h"

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "profile_service/file_identity.h"
#include "profile_service/unique_handle.h"

namespace profile_service {

constexpr int kWaitingSlots = 16;

// Laid out alike in 32-bit and 64-bit processes. New memory is all zero, which reads as
// free, nobody waiting, and recovery pending.
struct LockState {
  alignas(8) volatile LONG64 holder;  // the holding thread's name, a handover mark, or 0
  alignas(8) volatile LONG64 waiting[kWaitingSlots];  // names of waiting threads, or 0
  volatile LONG waitingSince[kWaitingSlots];          // GetTickCount when last seen waiting
  volatile LONG recoveryChecked;  // 0 until the file's journal was looked for since the state was new or a holder died
};

struct FileLock::Shared {
  Shared() = default;
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() {
    if (state) UnmapViewOfFile(state);
    for (HANDLE handle : {mapping, released}) {
      if (handle) CloseHandle(handle);
    }
  }
  HANDLE mapping = nullptr;
  LockState* state = nullptr;
  HANDLE released = nullptr;  // auto-reset event: the holder let go while others wait
};

namespace {

using Shared = FileLock::Shared;

constinit std::atomic<DWORD> lockWait{kFileLockWaitMilliseconds};
// How often a waiter looks whether the holder still runs, and how old a handover may get
// before any waiter may take it.
constexpr DWORD kPollMilliseconds = 100;
// How long a waiting slot stays unquestioned before its thread is looked at.
constexpr DWORD kWaiterCheckMilliseconds = 1000;

DWORD LastErrorOrFailure() {
  const DWORD code = GetLastError();
  return code != 0 ? code : ERROR_GEN_FAILURE;
}

// ---- Names of threads --------------------------------------------------------------------

// A thread's id in the low half, the low half of its creation time in the high half.
LONG64 NameOf(DWORD threadId, const FILETIME& created) {
  return (static_cast<LONG64>(created.dwLowDateTime) << 32) | threadId;
}

// Asking the system for the creation time is a round trip to it, so each thread asks once.
LONG64 ThisThread() {
  static thread_local LONG64 name = [] {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return NameOf(GetCurrentThreadId(), created);
  }();
  return name;
}

// A handover mark names no thread (thread id 0) and holds the tick count of the handover.
LONG64 HandoverMark() { return static_cast<LONG64>(GetTickCount() | 1) << 32; }
bool IsHandover(LONG64 holder) { return holder != 0 && static_cast<DWORD>(holder) == 0; }
DWORD AgeOf(LONG64 handover) {
  return (GetTickCount() | 1) - static_cast<DWORD>(static_cast<ULONG64>(handover) >> 32);
}

// What is known of the thread a name names.
struct ThreadState {
  bool ended;
  bool inThisProcess;
};

// A thread that cannot be opened for want of access counts as running: a wrong guess
// only makes the waiter wait, where the opposite one would let two threads hold the file.
ThreadState StateOf(LONG64 name) {
  const UniqueHandle thread(
      OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(name)));
  if (!thread.Valid()) return {GetLastError() == ERROR_INVALID_PARAMETER, false};  // no such thread
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool sameThread = GetThreadTimes(thread.Get(), &created, &exited, &kernel, &user) &&
                          NameOf(static_cast<DWORD>(name), created) == name;
  const bool ended = !sameThread || WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0;
  const bool inThisProcess = sameThread && GetProcessIdOfThread(thread.Get()) == GetCurrentProcessId();
  return {ended, inThisProcess};
}

// ---- The shared state ----------------------------------------------------------------------

// An atomic read, also in a 32-bit process.
LONG64 Read(volatile LONG64& value) { return InterlockedCompareExchange64(&value, 0, 0); }

int WaitingCount(const LockState& state) {
  return static_cast<int>(std::count_if(std::begin(state.waiting), std::end(state.waiting),
                                        [](const volatile LONG64& slot) { return slot != 0; }));
}

bool AnyoneWaiting(const LockState& state) { return WaitingCount(state) != 0; }

// The slot this thread waits in, or -1 when all are taken (it then waits unseen, which
// costs others only their place in line).
int EnterWaiting(LockState& state, LONG64 self) {
  for (int i = 0; i < kWaitingSlots; ++i) {
    if (InterlockedCompareExchange64(&state.waiting[i], self, 0) == 0) {
      InterlockedExchange(&state.waitingSince[i], static_cast<LONG>(GetTickCount()));
      return i;
    }
  }
  return -1;
}

void LeaveWaiting(LockState& state, int slot, LONG64 self) {
  if (slot >= 0) InterlockedCompareExchange64(&state.waiting[slot], 0, self);
}

// Clears the slots of waiters that have ended (killed while they waited). A slot is
// looked at once it is a second old, and then at most once a second while its thread runs.
void ClearEndedWaiters(LockState& state, LONG64 self) {
  const DWORD now = GetTickCount();
  for (int i = 0; i < kWaitingSlots; ++i) {
    const LONG64 waiter = Read(state.waiting[i]);
    if (waiter == 0 || waiter == self || now - static_cast<DWORD>(state.waitingSince[i]) < kWaiterCheckMilliseconds) {
      continue;
    }
    if (StateOf(waiter).ended) {
      InterlockedCompareExchange64(&state.waiting[i], 0, waiter);
    } else {
      InterlockedExchange(&state.waitingSince[i], static_cast<LONG>(now));
    }
  }
}

// A lock made by one process must admit the others of the logon session, including those
// running under another token of it (an elevated one beside a standard one), and no one
// else: the creator's default access list would let in only itself, or only
// administrators, and a wider one would let any user of the machine write the state.
// Using the objects is all that is granted: waiting, signalling, mapping for reading and
// writing.
class LogonSessionAccess {
 public:
  LogonSessionAccess() {
    const std::wstring sid = LogonSid();
    if (sid.empty()) return;
    const std::wstring acl = L"D:(A;;0x00100007;;;" + sid + L")";
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(acl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
      attributes_ = {sizeof attributes_, descriptor_, FALSE};
    }
  }
  ~LogonSessionAccess() { LocalFree(descriptor_); }
  LogonSessionAccess(const LogonSessionAccess&) = delete;
  LogonSessionAccess& operator=(const LogonSessionAccess&) = delete;
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  // The logon session's SID ("S-1-5-5-x-y") from the process's token; its user's SID when
  // the token has none.
  static std::wstring LogonSid() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return {};
    const UniqueHandle token(opened);
    const std::vector<BYTE> groups = TokenInformation(token.Get(), TokenGroups);
    const std::vector<BYTE> user = TokenInformation(token.Get(), TokenUser);
    PSID sid = user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    if (!groups.empty()) {
      const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
      for (DWORD i = 0; i < list->GroupCount; ++i) {
        if (list->Groups[i].Attributes & SE_GROUP_LOGON_ID) sid = list->Groups[i].Sid;
      }
    }
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return {};
    std::wstring found = text;
    LocalFree(text);
    return found;
  }

  // The token's information of one kind, as the system lays it out; empty when there is none.
  static std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> information(size);
    if (size == 0 || !GetTokenInformation(token, kind, information.data(), size, &size)) information.clear();
    return information;
  }

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

// The lock's objects for the file at `resolvedPath`; nullptr, with the last error set,
// when one cannot be had.
std::shared_ptr<const Shared> OpenShared(const std::wstring& resolvedPath) {
  static LogonSessionAccess access;  // thread-safe first use
  const std::wstring name = LockNameOf(resolvedPath);
  auto shared = std::make_shared<Shared>();
  auto open = [&](Shared& objects) {
    objects.mapping = OpenOrCreateMapping(name + L".state", access.Attributes());
    if (!objects.mapping) return false;
    objects.state = static_cast<LockState*>(
        MapViewOfFile(objects.mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LockState)));
    if (!objects.state) return false;
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

// Opening the objects costs several calls into the system, so each process keeps those of
// the files it used, by full path. Paths that may hold short names are not kept: what they
// name changes as files come and go. The cache is bounded; a lock in use keeps its
// objects open after the cache has let go of them.
class SharedCache {
 public:
  // The objects of the file at `resolvedPath`; nullptr, with the last error set, when
  // they cannot be opened.
  std::shared_ptr<const Shared> For(const std::wstring& resolvedPath) {
    {
      std::lock_guard<std::mutex> guard(guard_);
      if (auto found = byPath_.find(resolvedPath); found != byPath_.end()) return found->second;
    }
    std::shared_ptr<const Shared> shared = OpenShared(resolvedPath);
    if (!shared || MayHoldShortNames(resolvedPath)) return shared;
    std::lock_guard<std::mutex> guard(guard_);
    if (byPath_.size() >= kMostFiles) byPath_.clear();
    byPath_.emplace(resolvedPath, shared);
    return shared;
  }

 private:
  static constexpr size_t kMostFiles = 64;
  std::mutex guard_;
  std::unordered_map<std::wstring, std::shared_ptr<const Shared>> byPath_;
};

// Waits in line until this thread holds the file. Returns 0, or why the file could not
// be had. `heldWithinThisProcess` tells, after a timeout, where the holder was.
DWORD WaitInLine(const Shared& shared, LONG64 self, bool& heldWithinThisProcess) {
  LockState& state = *shared.state;
  const ULONGLONG deadline = GetTickCount64() + lockWait.load();
  ClearEndedWaiters(state, self);
  const int slot = EnterWaiting(state, self);
  DWORD failure = 0;
  for (bool woken = false, looked = false;;) {
    const LONG64 holder = Read(state.holder);
    if (holder == 0) {
      if (InterlockedCompareExchange64(&state.holder, self, 0) == 0) break;
    } else if (IsHandover(holder)) {
      if ((woken || AgeOf(holder) >= kPollMilliseconds) &&
          InterlockedCompareExchange64(&state.holder, self, holder) == holder) {
        break;
      }
    } else if (looked) {
      const ThreadState holding = StateOf(holder);
      heldWithinThisProcess = holding.inThisProcess;
      if (holding.ended && InterlockedCompareExchange64(&state.holder, self, holder) == holder) {
        InterlockedExchange(&state.recoveryChecked, 0);  // it may have died in the middle of a write
        break;
      }
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      failure = ERROR_TIMEOUT;
      break;
    }
    const DWORD woke = WaitForSingleObject(shared.released, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kPollMilliseconds)));
    if (woke == WAIT_FAILED) {
      failure = LastErrorOrFailure();
      break;
    }
    woken = woke == WAIT_OBJECT_0;
    looked = woke == WAIT_TIMEOUT;
    if (looked) ClearEndedWaiters(state, self);
  }
  LeaveWaiting(state, slot, self);
  return failure;
}

}  // namespace

FileLock::FileLock(const std::wstring& resolvedPath) {
  static SharedCache cache;  // thread-safe first use
  std::shared_ptr<const Shared> shared = cache.For(resolvedPath);
  if (!shared) {
    failure_ = LastErrorOrFailure();
    return;
  }
  LockState& state = *shared->state;
  const LONG64 self = ThisThread();
  if (Read(state.holder) == self) return;  // taken further up this thread's call: given back there
  const bool fast = !AnyoneWaiting(state) && InterlockedCompareExchange64(&state.holder, self, 0) == 0;
  if (!fast) {
    failure_ = WaitInLine(*shared, self, heldWithinThisProcess_);
    if (failure_ != 0) return;
  }
  shared_ = std::move(shared);
}

bool FileLock::RecoveryPending() const { return shared_ && shared_->state->recoveryChecked == 0; }

void FileLock::RecoveryDone() {
  if (shared_) InterlockedExchange(&shared_->state->recoveryChecked, 1);
}

void FileLock::Release() {
  if (!shared_) return;
  LockState& state = *shared_->state;
  if (AnyoneWaiting(state)) {
    InterlockedExchange64(&state.holder, HandoverMark());
    SetEvent(shared_->released);
  } else {
    InterlockedExchange64(&state.holder, 0);
    if (AnyoneWaiting(state)) SetEvent(shared_->released);  // one came in meanwhile
  }
  shared_.reset();
}

void SetFileLockWaitForTesting(DWORD milliseconds) { lockWait.store(milliseconds); }

int FileLockWaitersForTesting(const std::wstring& resolvedPath) {
  const std::shared_ptr<const Shared> shared = OpenShared(resolvedPath);
  return shared ? WaitingCount(*shared->state) : -1;
}

}  // namespace profile_service
