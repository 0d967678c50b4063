// The protocol of the file lock.
//
// A file's lock is a set of byte-range locks in its lock file, "<file>-lock" beside it
// (named after the file's long name, so every name of the file reaches the same lock
// file). The ranges lie far past any data, because locking on Windows is mandatory: a
// locked range cannot be read or written by other handles. Where no lock file exists and
// none can be made (a folder the caller may not create files in), the same ranges are
// locked in the INI file itself, opened for the one member; whoever makes the lock file
// later first waits for those members (profile_service/lock_file.h opens and makes it).
//
//   WAITING  kBase+0  shared by every thread that waits for the lock
//   PENDING  kBase+1  a writer's, alone, from when it waits for readers to leave until it
//                     lets go; a reader comes in only through it
//   SHARED   kBase+2  readers', shared; a writer's, alone
//
// One handle's states, and the steps between them:
//
//   NOTHING  --reader: PENDING+SHARED, shared---------------------->  ENTERING
//   ENTERING --keeper, after the member: SHARED, shared; then
//              PENDING+SHARED let go--------------------------------->  READING
//   READING  --its window over: at the member's end, or by the keeper->  NOTHING
//   NOTHING  --writer: PENDING+SHARED, alone------------------------->  WRITING
//   NOTHING  --writer that had to wait: PENDING, then SHARED, alone-->  WRITING_IN_STEPS
//   WRITING, WRITING_IN_STEPS --the member's end-------------------->  NOTHING
//
// - A thread that cannot come in at once marks WAITING while it tries again, every 2 ms.
//   A writer that finds WAITING marked gives way to those waiting for two of their tries
//   before it tries itself: a thread that calls again at once cannot starve the others.
// - A writer that holds PENDING keeps new readers out, and waits for those in their
//   windows to leave (at most kReadWindowMilliseconds).
// - The system frees a handle's ranges when the handle is closed or its process dies: a
//   holder that dies never blocks, and a waiter that dies leaves no mark. A thread that
//   ended holding a write lock (terminated in the middle of a change) is found by the
//   keeper of its process, which puts the file back and lets go.
// - A journal is put back only by a holder of the write lock: while one holds it, no live
//   writer can be in the middle of a change, in any process, session or machine.
#include "profile_service/file_lock.h"

#include <algorithm>
#include <atomic>

#include "profile_service/file_identity.h"
#include "profile_service/journal.h"
#include "profile_service/lock_file.h"
#include "profile_service/lock_keeper.h"

namespace profile_service {
namespace {

using Held = LockHandle::Held;

// The protocol's version. A protocol that means other things by its ranges moves them, so
// that two builds never mistake one another's locks.
constexpr ULONGLONG kProtocolVersion = 3;
constexpr ULONGLONG kBase = (1ull << 62) + kProtocolVersion * 16;

struct Range {
  ULONGLONG offset;
  DWORD length;
};
constexpr Range kWaiting{kBase, 1}, kPending{kBase + 1, 1}, kShared{kBase + 2, 1}, kPendingAndShared{kBase + 1, 2};

constexpr wchar_t kLockFileSuffix[] = L"-lock";

constinit std::atomic<DWORD> lockWait{kFileLockWaitMilliseconds};

OVERLAPPED At(Range range) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(range.offset);
  at.OffsetHigh = static_cast<DWORD>(range.offset >> 32);
  return at;
}

// Outcome of one try: taken, held by another (wait), or refused by the system.
enum class Try { Taken, Busy, Refused };

Try TryLock(HANDLE file, Range range, bool alone) {
  OVERLAPPED at = At(range);
  if (LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY | (alone ? LOCKFILE_EXCLUSIVE_LOCK : 0), 0, range.length, 0, &at)) {
    return Try::Taken;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION ? Try::Busy : Try::Refused;
}

void Unlock(HANDLE file, Range range) {
  OVERLAPPED at = At(range);
  UnlockFileEx(file, 0, range.length, 0, &at);
}

// Lets go of what the handle holds, and closes its file: a lock file is open only while
// its thread holds some of the lock, so that nothing keeps it, or its folder, from being
// removed once the lock is let go (its guard held, or its thread's alone).
void LetGoHeld(LockHandle& handle) {
  const HANDLE file = handle.file.Get();
  switch (handle.held) {
    case Held::Nothing:
      break;
    case Held::Entering:
    case Held::Writing:
      Unlock(file, kPendingAndShared);
      break;
    case Held::Reading:
      Unlock(file, kShared);
      break;
    case Held::WritingInSteps:
      Unlock(file, kShared);
      Unlock(file, kPending);
      break;
  }
  handle.held = Held::Nothing;
  handle.knownEncoding.reset();
  handle.file.Reset();
  handle.throughFile = false;
}

// Holds the handle's guard for its life.
class Guarded {
 public:
  explicit Guarded(LockHandle& handle) : guard_(handle.guard) { AcquireSRWLockExclusive(&guard_); }
  ~Guarded() { ReleaseSRWLockExclusive(&guard_); }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;

 private:
  SRWLOCK& guard_;
};

// ---- Waiting -----------------------------------------------------------------------

// The tries of one wait: until the deadline, every kPollMilliseconds, marked as waiting
// from the first try that failed. A writer that comes while others wait gives way first,
// for two intervals, so that each of them tries before it does: the lock goes to those
// that waited when it was given back, not to one that calls again at once.
class Wait {
 public:
  explicit Wait(HANDLE file) : file_(file), deadline_(GetTickCount64() + lockWait.load()) {}
  ~Wait() {
    if (marked_) Unlock(file_, kWaiting);
  }
  Wait(const Wait&) = delete;
  Wait& operator=(const Wait&) = delete;

  // Before the first try of a writer that found others waiting.
  void GiveWay() {
    Mark();
    Sleep(2 * kPollMilliseconds);
  }
  // After a try that failed: marks the wait, sleeps, and says whether to try again.
  bool Again() {
    Mark();
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline_) return false;
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(deadline_ - now, kPollMilliseconds)));
    return true;
  }

 private:
  static constexpr DWORD kPollMilliseconds = 2;
  void Mark() {
    if (!marked_) marked_ = TryLock(file_, kWaiting, false) == Try::Taken;
  }
  HANDLE file_;
  ULONGLONG deadline_;
  bool marked_ = false;
};

DWORD LastErrorOrFailure() {
  const DWORD code = GetLastError();
  return code != 0 ? code : ERROR_GEN_FAILURE;
}

DWORD Failure(Try outcome) { return outcome == Try::Busy ? ERROR_TIMEOUT : LastErrorOrFailure(); }

// What a thread that came in holds, or why it did not come in.
struct Entry {
  DWORD failure;
  Held held;
};

// Comes in as a reader: PENDING+SHARED, shared, which the keeper (or, through the INI
// file itself, this thread at once) narrows to SHARED.
Entry ComeInToRead(HANDLE file) {
  Wait wait(file);
  Try outcome;
  while ((outcome = TryLock(file, kPendingAndShared, false)) == Try::Busy && wait.Again()) {
  }
  if (outcome != Try::Taken) return {Failure(outcome), Held::Nothing};
  return {0, Held::Entering};
}

// Whether a thread waits: WAITING cannot be had alone.
bool SomeoneWaits(HANDLE file) {
  if (TryLock(file, kWaiting, true) != Try::Taken) return true;
  Unlock(file, kWaiting);
  return false;
}

// Comes in as a writer: at once when nobody waits and nobody holds the file, otherwise
// in line: PENDING first, which keeps new readers out, then SHARED once they left.
Entry ComeInToWrite(HANDLE file) {
  const bool othersWait = SomeoneWaits(file);
  if (!othersWait && TryLock(file, kPendingAndShared, true) == Try::Taken) return {0, Held::Writing};
  Wait wait(file);
  if (othersWait) wait.GiveWay();
  bool pending = false;
  Try outcome;
  do {
    outcome = pending ? Try::Taken : TryLock(file, kPending, true);
    pending = outcome == Try::Taken;
    if (pending) outcome = TryLock(file, kShared, true);
  } while (outcome == Try::Busy && wait.Again());
  if (outcome == Try::Taken) return {0, Held::WritingInSteps};
  if (pending) Unlock(file, kPending);
  return {Failure(outcome), Held::Nothing};
}

Entry ComeIn(HANDLE file, LockMode mode) {
  return mode == LockMode::Read ? ComeInToRead(file) : ComeInToWrite(file);
}

// ---- The lock file made -----------------------------------------------------------

// Members that locked through the INI file itself, before its lock file was made, hold
// the ranges there: the maker of the lock file takes them once, in its member's mode, so
// that it comes in only after them. (Those that come later find the lock file.)
DWORD WaitForThoseLockingThroughTheFile(LockHandle& handle, LockMode mode) {
  LockHandle throughFile(handle.key, handle.lockPath, handle.filePath);
  if (!OpenForLocking(throughFile, handle.filePath, OPEN_EXISTING)) return 0;
  const Entry entry = ComeIn(throughFile.file.Get(), mode);
  throughFile.held = entry.held;
  LetGoHeld(throughFile);
  return entry.failure;
}

bool Reading(const LockHandle& handle) { return handle.held == Held::Entering || handle.held == Held::Reading; }

// ENTERING to READING: keeps SHARED, lets PENDING go (its guard held).
void NarrowToReading(LockHandle& handle) {
  if (TryLock(handle.file.Get(), kShared, false) != Try::Taken) return;
  Unlock(handle.file.Get(), kPendingAndShared);
  handle.held = Held::Reading;
}

// Records what the thread came in with. False when it came in through the INI file itself
// and a lock file was made meanwhile: its maker waited for it, and those that come after
// use the lock file, so the thread lets go and comes in there.
bool Settle(LockHandle& handle, Held held) {
  Guarded guarded(handle);
  handle.held = held;
  if (handle.throughFile && FileThere(handle.lockPath)) {
    LetGoHeld(handle);
    return false;
  }
  if (handle.throughFile && handle.held == Held::Entering) NarrowToReading(handle);  // at once: no keeper tends it
  handle.inUse = true;
  handle.windowEnd = GetTickCount64() + kReadWindowMilliseconds;
  return true;
}

}  // namespace

// ---- A member's lock -------------------------------------------------------------------

FileLock::FileLock(const std::wstring& resolvedPath, LockMode mode) : mode_(mode) {
  handle_ = HandleFoundAs(resolvedPath);
  if (!handle_) {
    const std::wstring file = LongPathOf(resolvedPath);
    handle_ = &HandleOfThisThread(file + kLockFileSuffix, file, resolvedPath);
  }
  filePath_ = handle_->filePath;
  Take();
}

// Takes the lock in mode_: from the thread's read window while that is open, otherwise
// anew. The handle holds nothing while the thread waits, so the keeper leaves it alone.
void FileLock::Take() {
  LockHandle& handle = *handle_;
  {
    Guarded guarded(handle);
    if (Reading(handle) && mode_ == LockMode::Read && GetTickCount64() < handle.windowEnd) {
      handle.inUse = true;
      return;
    }
    LetGoHeld(handle);
  }
  takenAnew_ = true;
  for (int attempt = 0; attempt < 3; ++attempt) {
    failure_ = 0;
    const Opened opened = OpenLockFile(handle, mode_);
    if (opened == Opened::NoFile) return;  // nothing to keep others from
    if (opened == Opened::Refused) {
      failure_ = LastErrorOrFailure();
      break;
    }
    if (opened == Opened::MadeLockFile) {
      failure_ = WaitForThoseLockingThroughTheFile(handle, mode_);
      if (failure_ != 0) break;
    }
    const Entry entry = ComeIn(handle.file.Get(), mode_);
    if (entry.failure == ERROR_NOT_SUPPORTED || entry.failure == ERROR_INVALID_FUNCTION) {
      return;  // a file system without byte-range locks, as a file server whose locks are off
    }
    failure_ = entry.failure;
    if (failure_ != 0) break;
    if (Settle(handle, entry.held)) {
      // The keeper watches a writer's thread; a reader's window it is told of at the
      // member's end. (Outside the handle's guard: the keeper takes the registry's first.)
      if (mode_ == LockMode::Write) WakeKeeper();
      return;
    }
    failure_ = ERROR_LOCK_VIOLATION;  // should a lock file come and go three times over
  }
  if (failure_ == ERROR_TIMEOUT) heldWithinThisProcess_ = HeldByAnotherThread(handle.key);
  LetGoHeld(handle);
  handle_ = nullptr;
}

HANDLE FileLock::JournalFile() const {
  if (!handle_ || handle_->throughFile || !handle_->writable || handle_->held == Held::Nothing) return nullptr;
  return handle_->file.Get();
}

std::optional<Encoding>& FileLock::KnownEncoding() {
  return handle_ && handle_->held != Held::Nothing ? handle_->knownEncoding : encodingWithoutLock_;
}

void FileLock::Retake(LockMode mode) {
  if (!handle_) return;
  {
    Guarded guarded(*handle_);
    handle_->inUse = false;
    LetGoHeld(*handle_);
  }
  mode_ = mode;
  takenAnew_ = false;
  failure_ = 0;
  Take();
}

void FileLock::Release() {
  if (!handle_) return;
  LockHandle& handle = *std::exchange(handle_, nullptr);
  bool enteredNow = false;
  {
    Guarded guarded(handle);
    handle.inUse = false;
    // Through the INI file itself there is no window: no handle to it stays open.
    const bool windowOpen = Reading(handle) && !handle.throughFile && GetTickCount64() < handle.windowEnd;
    if (!windowOpen) LetGoHeld(handle);
    enteredNow = handle.held == Held::Entering;
  }
  // A reader that came in now: the keeper narrows its hold, then ends its window. (Not
  // during the member, whose calls it would hold up.)
  if (enteredNow) WakeKeeper();
}

// ---- The keeper's visits ---------------------------------------------------------------

Visit Tend(LockHandle& handle, ULONGLONG now) {
  constexpr ULONGLONG kOwnerLookInterval = 100;
  Guarded guarded(handle);
  if (handle.held == Held::Entering && !handle.inUse) NarrowToReading(handle);
  if (Reading(handle) && !handle.inUse && now >= handle.windowEnd) LetGoHeld(handle);
  if (now >= handle.nextLook) {
    handle.nextLook = now + (handle.held == Held::Nothing ? 10 * kOwnerLookInterval : kOwnerLookInterval);
    if (WaitForSingleObject(handle.owner.Get(), 0) == WAIT_OBJECT_0) {  // the thread ended
      const bool writing = handle.held == Held::Writing || handle.held == Held::WritingInSteps;
      if (writing && !handle.throughFile && handle.writable) RecoverAbandonedJournal(handle.file.Get(), handle.filePath);
      LetGoHeld(handle);
      handle.inUse = false;
      return {now, false, true};
    }
  }
  const bool windowToEnd = Reading(handle) && !handle.inUse;
  return {windowToEnd ? std::min(handle.windowEnd, handle.nextLook) : handle.nextLook, handle.held != Held::Nothing,
          false};
}

void SetFileLockWaitForTesting(DWORD milliseconds) { lockWait.store(milliseconds); }

bool FileLockHasWaitersForTesting(const std::wstring& resolvedPath) {
  LockHandle looking(L"", LockFilePathOf(resolvedPath), L"");
  return OpenForLocking(looking, looking.lockPath, OPEN_EXISTING) && SomeoneWaits(looking.file.Get());
}

std::wstring LockFilePathOf(const std::wstring& resolvedPath) { return LongPathOf(resolvedPath) + kLockFileSuffix; }

}  // namespace profile_service
