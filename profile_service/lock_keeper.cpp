#include "profile_service/lock_keeper.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "profile_service/file_identity.h"

namespace profile_service {
namespace {

// How long the keeper stays idle, so that a call a second later does not start it again.
constexpr ULONGLONG kKeeperIdleMilliseconds = 10000;
// How long a member waits for a keeper it started to begin running.
constexpr DWORD kKeeperStartWaitMilliseconds = 500;
// The handles one thread keeps; past that, its oldest idle one goes.
constexpr size_t kHandlesPerThread = 32;

// Every handle of the process, and the keeper's state. Never destroyed: at process exit
// the keeper may have been stopped anywhere.
struct Registry {
  SRWLOCK guard = SRWLOCK_INIT;  // the list, the keeper's state; taken before a handle's guard
  CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;
  std::vector<std::unique_ptr<LockHandle>> handles;
  bool keeperRunning = false;
  bool woken = false;
  // Set by each keeper as it begins, before it takes the guard.
  const UniqueHandle keeperStarted{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

Registry& Handles() {
  static Registry* registry = new Registry;  // thread-safe first use
  return *registry;
}

// This thread's handles, newest first (the registry owns them).
thread_local LockHandle* threadHandles = nullptr;

// Forgets the oldest of this thread's handles that holds nothing, when it keeps too many.
void CloseOldestIdle(Registry& registry) {
  LockHandle** oldestLink = nullptr;
  size_t count = 0;
  for (LockHandle** link = &threadHandles; *link; link = &(*link)->nextOfThread, ++count) {
    Exclusive guarded((*link)->guard);
    if ((*link)->held == LockHandle::Held::Nothing && !(*link)->inUse) oldestLink = link;
  }
  if (count < kHandlesPerThread || !oldestLink) return;
  LockHandle* oldest = *oldestLink;
  *oldestLink = oldest->nextOfThread;
  std::erase_if(registry.handles, [&](const auto& owned) { return owned.get() == oldest; });
}

DWORD WINAPI Keep(void* module) {
  Registry& registry = Handles();
  SetEvent(registry.keeperStarted.Get());
  AcquireSRWLockExclusive(&registry.guard);
  ULONGLONG lastHeld = GetTickCount64();
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    ULONGLONG next = now + kKeeperIdleMilliseconds;
    bool holding = false;
    for (size_t i = 0; i < registry.handles.size();) {
      const Visit visit = Tend(*registry.handles[i], now);
      if (visit.done) {
        registry.handles.erase(registry.handles.begin() + static_cast<ptrdiff_t>(i));
        continue;
      }
      holding = holding || visit.holds;
      next = std::min(next, visit.next);
      ++i;
    }
    if (holding) lastHeld = now;
    if (!holding && !registry.woken && now - lastHeld >= kKeeperIdleMilliseconds) break;
    if (!registry.woken) {
      const ULONGLONG wait = std::max<ULONGLONG>(next, now + 1) - now;
      SleepConditionVariableSRW(&registry.wake, &registry.guard,
                                static_cast<DWORD>(std::min<ULONGLONG>(wait, kKeeperIdleMilliseconds)), 0);
    }
    registry.woken = false;
  }
  registry.keeperRunning = false;
  ReleaseSRWLockExclusive(&registry.guard);
  FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

// Starts the keeper (registry guard held), which keeps its module loaded while it runs,
// and waits until it runs: under Wine a process ending as one of its threads starts may
// die of a segmentation fault (a few exits in a hundred when the starter was the last
// call). The wait is bounded: the caller may hold the loader lock threads need to start.
void StartKeeper(Registry& registry) {
  com_types::UniqueModule module;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Keep), module.Put())) {
    return;
  }
  ResetEvent(registry.keeperStarted.Get());  // left set by a keeper that began after its starter gave up waiting
  const UniqueHandle thread(CreateThread(nullptr, 0, &Keep, module.Get(), 0, nullptr));
  if (!thread.Valid()) return;
  module.Release();  // the keeper's now, which frees it as it ends
  registry.keeperRunning = true;
  WaitForSingleObject(registry.keeperStarted.Get(), kKeeperStartWaitMilliseconds);
}

}  // namespace

LockHandle& HandleOfThisThread(const FileNames& names) {
  // Found again by the path a member found it by, which costs no look at the long name;
  // what a path that may hold short names ("~") names changes as files come and go.
  const bool byPath = names.resolved.find(L'~') == std::wstring::npos;
  for (LockHandle* handle = threadHandles; handle; handle = handle->nextOfThread) {
    if (byPath && handle->foundAs == names.resolved) return *handle;
  }
  for (LockHandle* handle = threadHandles; handle; handle = handle->nextOfThread) {
    if (handle->names.LockKey() == names.LockKey()) {
      handle->foundAs = names.resolved;
      return *handle;
    }
  }
  auto handle = std::make_unique<LockHandle>(names);
  handle->foundAs = names.resolved;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), handle->owner.Put(), SYNCHRONIZE, FALSE,
                  0);
  handle->ownerId = GetCurrentThreadId();
  Registry& registry = Handles();
  Exclusive registered(registry.guard);
  CloseOldestIdle(registry);
  handle->nextOfThread = threadHandles;
  threadHandles = handle.get();
  registry.handles.push_back(std::move(handle));
  return *threadHandles;
}

void WakeKeeper() {
  Registry& registry = Handles();
  Exclusive registered(registry.guard);
  registry.woken = true;
  if (registry.keeperRunning) {
    WakeConditionVariable(&registry.wake);
  } else {
    StartKeeper(registry);
  }
}

bool HeldByAnotherThread(const std::wstring& lockKey) {
  Exclusive registered(Handles().guard);
  for (const auto& handle : Handles().handles) {
    if (handle->names.LockKey() != lockKey || handle->ownerId == GetCurrentThreadId()) continue;
    Exclusive guarded(handle->guard);
    if (handle->held != LockHandle::Held::Nothing && handle->held != LockHandle::Held::Opened) return true;
  }
  return false;
}

void CloseLockHandles() {
  Exclusive registered(Handles().guard);
  Handles().handles.clear();
  threadHandles = nullptr;
}

}  // namespace profile_service
