// The protocol of the file lock.
//
// A file's lock is a set of byte-range locks in its lock file, "<file>-lock" beside it,
// named after the file's long name so every name of the file reaches it; writers make it
// (lock_file.h). The ranges lie far past any data, as Windows locks are mandatory: a
// locked range cannot be read or written through other handles. Without a lock file,
// readers lock the ranges in the INI file itself, as do writers where none can be made (a
// folder the caller may not create files in); the lock file's maker waits for those.
//
//   WAITING  kBase+0  shared by every thread that waits for the lock
//   PENDING  kBase+1  a writer's, alone, from when it waits for readers to leave until it
//                     lets go; a reader comes in only through it
//   SHARED   kBase+2  readers', shared; a writer's, alone
//
// One handle's states (LockHandle::Held), who moves it, and the steps between them. The
// handle's file is open in every state but NOTHING, and only then.
//
//   NOTHING  --member: opens the lock file (or the INI file); while it
//              cannot come in, it marks WAITING, shared-------------------->  OPENED
//   OPENED   --reader: PENDING+SHARED, shared---------------------------->  ENTERING
//   ENTERING --keeper, after the member: SHARED, shared; then
//              PENDING+SHARED let go------------------------------------->  READING
//   READING  --its window over: at the member's end, or by the keeper---->  NOTHING
//   ENTERING --through the INI file itself, which no window keeps open:
//              the member's end----------------------------------------->  NOTHING
//   OPENED   --writer: PENDING+SHARED alone at once, or in line PENDING
//              then SHARED (WRITING_IN_STEPS, let go range by range)----->  WRITING
//   WRITING  --the member's end------------------------------------------>  NOTHING
//   any      --keeper, once the handle's thread ended (terminated: a
//              journal in the lock file is put back by the hot-journal
//              rule first): the file closed, so every range is freed----->  NOTHING
//
// - A thread that cannot come in at once marks WAITING and retries every 2 ms, the keeper
//   watching it. A writer that finds WAITING marked first gives way for two of the
//   waiters' tries, so that a thread calling again at once cannot starve the others.
// - A writer holding PENDING keeps new readers out and waits for those in their windows
//   to leave (at most kReadWindowMilliseconds). A suspended holder (a debugger, a
//   sleeping machine) holds everyone up until the wait runs out.
// - The system frees a handle's ranges when the handle is closed or its process dies: a
//   holder or waiter that dies blocks no one.
// - A member waits kFileLockWaitMilliseconds in all from its first try, however often it
//   comes in again (a lock file made meanwhile, a reader that must put back a journal).
// - Whoever comes in applies the hot-journal rule (journal.h, 3 and 4) to the lock file
//   first, under the write lock, which a reader takes for the member.
#include "profile_service/file_lock.h"

#include <algorithm>
#include <atomic>

#include "profile_service/file_access.h"
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

constinit std::atomic<DWORD> lockWait{kFileLockWaitMilliseconds};

// Outcome of one try: taken, held by another (wait), or refused by the system.
enum class Try { Taken, Busy, Refused };

Try TryLock(HANDLE file, Range range, bool alone) {
  OVERLAPPED at = At(range.offset);
  if (LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY | (alone ? LOCKFILE_EXCLUSIVE_LOCK : 0), 0, range.length, 0, &at)) {
    return Try::Taken;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION ? Try::Busy : Try::Refused;
}

void Unlock(HANDLE file, Range range) {
  OVERLAPPED at = At(range.offset);
  UnlockFileEx(file, 0, range.length, 0, &at);
}

// Lets go of the ranges `held` through `file`, as they were taken.
void Unlock(HANDLE file, Held held) {
  if (held == Held::Entering || held == Held::Writing) Unlock(file, kPendingAndShared);
  if (held == Held::Reading || held == Held::WritingInSteps) Unlock(file, kShared);
  if (held == Held::WritingInSteps) Unlock(file, kPending);
}

// Lets go of what the handle holds, and closes its files, so that nothing keeps the lock
// file or its folder from being removed (its guard held, or its thread's alone).
void LetGoHeld(LockHandle& handle) {
  Unlock(handle.file.Get(), handle.held);
  handle.held = Held::Nothing;
  handle.knownEncoding.reset();
  handle.file.Reset();
  handle.madeLockFileAfter.Reset();
  handle.throughFile = false;
}

// ---- Waiting -----------------------------------------------------------------------

// The tries of one wait, until the member's deadline, as the chart's first note says.
class Wait {
 public:
  Wait(HANDLE file, ULONGLONG deadline) : file_(file), deadline_(deadline) {}
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
    if (marked_) return;
    WakeKeeper();
    marked_ = TryLock(file_, kWaiting, false) == Try::Taken;
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

Entry ComeInToRead(HANDLE file, ULONGLONG deadline) {
  Wait wait(file, deadline);
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

// Comes in as a writer: at once if none waits or holds, else PENDING, then SHARED.
Entry ComeInToWrite(HANDLE file, ULONGLONG deadline) {
  const bool othersWait = SomeoneWaits(file);
  if (!othersWait && TryLock(file, kPendingAndShared, true) == Try::Taken) return {0, Held::Writing};
  Wait wait(file, deadline);
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

Entry ComeIn(HANDLE file, LockMode mode, ULONGLONG deadline) {
  return mode == LockMode::Read ? ComeInToRead(file, deadline) : ComeInToWrite(file, deadline);
}

// ---- The lock file made -----------------------------------------------------------

// The lock file's maker takes the ranges in the INI file once, in its member's mode, to
// come in after those that locked through it (later ones find the lock file).
DWORD WaitForThoseLockingThroughTheFile(LockHandle& handle, LockMode mode, ULONGLONG deadline) {
  LockHandle throughFile(handle.names);
  if (!OpenForLocking(throughFile, handle.names.LongPath(), OPEN_EXISTING, LockMode::Write)) return 0;
  const HANDLE file = throughFile.file.Get();
  {
    Exclusive guarded(handle.guard);  // where the keeper finds it, should this thread end waiting
    handle.madeLockFileAfter = std::move(throughFile.file);
  }
  const Entry entry = ComeIn(file, mode, deadline);
  Exclusive guarded(handle.guard);
  Unlock(file, entry.held);
  handle.madeLockFileAfter.Reset();
  return entry.failure;
}

bool Reading(const LockHandle& handle) { return handle.held == Held::Entering || handle.held == Held::Reading; }
bool Writing(const LockHandle& handle) { return handle.held == Held::Writing || handle.held == Held::WritingInSteps; }

// ENTERING to READING: keeps SHARED, lets PENDING go (its guard held).
void NarrowToReading(LockHandle& handle) {
  if (TryLock(handle.file.Get(), kShared, false) != Try::Taken) return;
  Unlock(handle.file.Get(), kPendingAndShared);
  handle.held = Held::Reading;
}

// Records what the thread came in with. False when it came in through the INI file and a
// lock file was made meanwhile, which those after it use: it lets go to come in there.
bool Settle(LockHandle& handle, Held held) {
  Exclusive guarded(handle.guard);
  handle.held = held;
  if (handle.throughFile && FileThere(handle.names.LockPath())) {
    LetGoHeld(handle);
    return false;
  }
  handle.inUse = true;
  handle.windowEnd = GetTickCount64() + kReadWindowMilliseconds;
  return true;
}

}  // namespace

// ---- A member's lock -------------------------------------------------------------------

FileLock::FileLock(const FileNames& names, LockMode mode)
    : handle_(&HandleOfThisThread(names)), mode_(mode), deadline_(GetTickCount64() + lockWait.load()) {
  Take();
}

// Takes the lock: from the thread's read window while open, else anew until the deadline.
void FileLock::Take() {
  LockHandle& handle = *handle_;
  {
    Exclusive guarded(handle.guard);
    if (Reading(handle) && mode_ == LockMode::Read && GetTickCount64() < handle.windowEnd) {
      handle.inUse = true;
      return;
    }
    LetGoHeld(handle);
  }
  LockMode taking = mode_ == LockMode::Read ? LockMode::Read : LockMode::Write;
  for (;;) {
    Opened opened;
    {
      Exclusive guarded(handle.guard);
      opened = OpenLockFile(handle, mode_);
      if (handle.file.Valid()) handle.held = Held::Opened;
    }
    if (opened == Opened::NoFile) return;  // nothing to keep others from
    if (opened == Opened::Refused) {
      failure_ = LastErrorOrFailure();
      break;
    }
    if (opened == Opened::MadeLockFile) {
      failure_ = WaitForThoseLockingThroughTheFile(handle, taking, deadline_);
      if (failure_ != 0) break;
    }
    const Entry entry = ComeIn(handle.file.Get(), taking, deadline_);
    if (entry.failure == ERROR_NOT_SUPPORTED || entry.failure == ERROR_INVALID_FUNCTION) {
      return;  // a file system without byte-range locks, as a file server whose locks are off
    }
    failure_ = entry.failure;
    if (failure_ != 0) break;
    if (!Settle(handle, entry.held)) continue;
    if (!handle.throughFile && JournalWaiting(handle.file.Get(), handle.names.LockPath())) {
      if (taking == LockMode::Read) {  // a reader takes the write lock for the member
        Exclusive guarded(handle.guard);
        LetGoHeld(handle);
        taking = LockMode::Write;
        continue;
      }
      failure_ =
          handle.writable ? PutBackWaitingJournal(handle.file.Get(), handle.names.LongPath()) : ERROR_ACCESS_DENIED;
      journalWaits_ = failure_ != 0;
      if (journalWaits_) break;
    }
    // The keeper watches a writer's thread; a reader's window it is told of at the
    // member's end. (Outside the handle's guard: the keeper takes the registry's first.)
    if (taking == LockMode::Write) WakeKeeper();
    return;
  }
  if (failure_ == ERROR_TIMEOUT) heldWithinThisProcess_ = HeldByAnotherThread(handle.names.LockKey());
  {
    Exclusive guarded(handle.guard);
    handle.inUse = false;
    LetGoHeld(handle);
  }
  handle_ = nullptr;
}

HANDLE FileLock::JournalFile() const {
  return handle_ && !handle_->throughFile && handle_->writable && Writing(*handle_) ? handle_->file.Get() : nullptr;
}

std::optional<Encoding>& FileLock::KnownEncoding() {
  return handle_ && handle_->held != Held::Nothing ? handle_->knownEncoding : encodingWithoutLock_;
}

void FileLock::Release() {
  if (!handle_) return;
  LockHandle& handle = *std::exchange(handle_, nullptr);
  bool enteredNow = false;
  {
    Exclusive guarded(handle.guard);
    handle.inUse = false;
    // Through the INI file itself there is no window: no handle to it stays open, which
    // would keep other programs from opening it alone.
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
  Exclusive guarded(handle.guard);
  if (handle.held == Held::Entering && !handle.inUse) NarrowToReading(handle);
  if (Reading(handle) && !handle.inUse && now >= handle.windowEnd) LetGoHeld(handle);
  const bool open = handle.held != Held::Nothing;
  if (now >= handle.nextLook) {
    handle.nextLook = now + (open ? kOwnerLookInterval : 10 * kOwnerLookInterval);
    if (WaitForSingleObject(handle.owner.Get(), 0) == WAIT_OBJECT_0) {  // the thread ended
      if (Writing(handle) && !handle.throughFile && handle.writable) {
        PutBackWaitingJournal(handle.file.Get(), handle.names.LongPath());
      }
      LetGoHeld(handle);
      handle.inUse = false;
      return {now, false, true};
    }
  }
  const bool windowToEnd = Reading(handle) && !handle.inUse;
  return {windowToEnd ? std::min(handle.windowEnd, handle.nextLook) : handle.nextLook, open, false};
}

void SetFileLockWaitForTesting(DWORD milliseconds) { lockWait.store(milliseconds); }

bool FileLockHasWaitersForTesting(const std::wstring& path) {
  LockHandle looking{FileNames(AnsiText::Of(path, TextRole::FileName))};
  return OpenForLocking(looking, looking.names.LockPath(), OPEN_EXISTING, LockMode::Read) &&
         SomeoneWaits(looking.file.Get());
}

}  // namespace profile_service
