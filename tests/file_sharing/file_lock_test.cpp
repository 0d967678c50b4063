// The file lock: every spelling of one file names one lock, and a member that cannot
// have the lock in time fails as a failed service call fails, leaving the file alone.
#include <csetjmp>
#include <cstdlib>
#include <functional>
#include <thread>

#include "automation/tolvane_object.h"
#include "profile_service/file_lock.h"
#include "profile_service/platform_functions.h"
#include "profile_service/profile_file.h"
#include "tests/support/test_support.h"

namespace {

namespace service = profile_service;
using test_support::Text;

service::AnsiText Name(const std::wstring& path) {
  return service::AnsiText::FromBstr(test_support::Bstr(path).Get(), service::TextRole::FileName);
}

std::wstring LockNameOf(const std::wstring& path) { return service::FileNames(Name(path)).LockKey(); }

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

TEST(FileLock, EverySpellingOfOneFileNamesOneLock) {
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"Shared Settings.ini");
  test_support::WriteBytes(file, "[s]\r\n");
  std::wstring slashed = file;
  for (wchar_t& c : slashed) c = c == L'\\' ? L'/' : c;
  const std::wstring folderName = folder.Path().substr(folder.Path().find_last_of(L'\\') + 1);
  wchar_t windows[MAX_PATH] = {}, previous[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));

  const std::wstring sameFile[][2] = {
      {file, Upper(file)},
      {file, slashed},
      {file, folder.Path() + L"\\missing\\..\\.\\Shared Settings.ini"},
      {file, L".\\shared settings.INI"},
      {file, L"..\\" + folderName + L"\\Shared Settings.ini"},
      {file, test_support::ShortPathOf(file)},
      {folder.PathOf(L"Not Yet Written.ini"), test_support::ShortPathOf(folder.Path()) + L"\\Not Yet Written.ini"},
      {std::wstring(windows) + L"\\tolvane-lock-test.ini", L"tolvane-lock-test.ini"},
      {file, L"\\\\?\\" + file},
      {file, L"\\\\.\\" + Upper(file)},
      {file, file + L"::$DATA"},
      {L"\\\\server\\share\\f.ini", L"\\\\?\\UNC\\server\\share\\f.ini"},
      // Under a double-byte code page the second byte of this character is that of "\".
      {std::wstring(windows) + L"\\\u8868.ini", L"\u8868.ini"},
  };
  for (const auto& [one, other] : sameFile) {
    EXPECT_FALSE(LockNameOf(one).empty()) << one;
    EXPECT_EQ(LockNameOf(one), LockNameOf(other)) << one << " against " << other;
  }
  EXPECT_NE(LockNameOf(file), LockNameOf(folder.PathOf(L"Shared Settings 2.ini")));
  EXPECT_NE(LockNameOf(file), LockNameOf(L"Shared Settings.ini"));  // that one is in the Windows folder
  EXPECT_EQ(LockNameOf(L""), L"");
  // Not too long for the platform: its characters fit in MAX_PATH, if not its bytes.
  EXPECT_EQ(service::ProfileFile(Name(folder.PathOf(std::wstring(120, L'\u8868') + L".ini"))).Names().refusal, 0u);
  const char* locale = std::getenv("LC_ALL");
  if (locale && std::string(locale).starts_with("ja_JP")) {
    EXPECT_EQ(GetACP(), 932u);
  }
  SetCurrentDirectoryW(previous);
}

// Holds the lock of the file at `path` in a thread of its own, from when it is made until
// Release() or its end.
class HeldInAnotherThread {
 public:
  explicit HeldInAnotherThread(const std::wstring& path)
      : thread_([this, path] {
          const service::ProfileFile lock(Name(path));
          SetEvent(taken_);
          WaitForSingleObject(released_, INFINITE);
        }) {
    EXPECT_EQ(WaitForSingleObject(taken_, 10000), WAIT_OBJECT_0);
  }
  ~HeldInAnotherThread() {
    Release();
    CloseHandle(taken_);
    CloseHandle(released_);
  }
  HeldInAnotherThread(const HeldInAnotherThread&) = delete;
  HeldInAnotherThread& operator=(const HeldInAnotherThread&) = delete;
  void Release() {
    SetEvent(released_);
    if (thread_.joinable()) thread_.join();
  }

 private:
  HANDLE taken_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE released_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread thread_;
};

class LockHeldElsewhereTest : public test_support::TolvaneTest {
 protected:
  void TearDown() override {
    service::SetFileLockWaitForTesting(service::kFileLockWaitMilliseconds);
    TolvaneTest::TearDown();
  }
};

TEST_F(LockHeldElsewhereTest, EveryMemberFailsWithoutTouchingTheFileWhenTheWaitRunsOut) {
  const std::string before = "[s]\r\nk=v\r\n[t]\r\nj=w\r\n";
  GivenFile(before);
  HeldInAnotherThread holder(Upper(file_));  // under another spelling of the file
  service::SetFileLockWaitForTesting(50);

  test_support::UniqueSafeArray keys = test_support::TextArray({L"x"}), values = test_support::TextArray({L"y"});
  const std::pair<const char*, std::function<bool()>> failsAsExpected[] = {
      {"ReadValue", [&] { return !ReadValue(L"s", L"k"); }},
      {"WriteValue", [&] { return !WriteValue(L"s", L"k", L"new"); }},
      {"CreateKeyAndValue", [&] { return !CreateKeyAndValue(L"s", L"n", L"new"); }},
      {"DeleteKey", [&] { return DeleteKey(L"s", L"k"), true; }},
      {"RenameKey", [&] { return RenameKey(L"s", L"k", L"n"), true; }},
      {"SectionsCount", [&] { return SectionsCount() == 0; }},
      {"ReadSection",
       [&] {
         const test_support::ReadSectionOutcome call = ReadSection(L"s", keys, values);
         return call.status == S_OK && V_VT(call.result.Get()) == VT_BOOL && !V_BOOL(call.result.Get()) &&
                test_support::Elements(keys.Get()) == std::vector<Text>{L"x"};
       }},
      {"SectionAdd", [&] { return !SectionAdd(L"u"); }},
      {"SectionWriteAtOnce", [&] { return SectionWriteAtOnce(L"u", keys.Get(), values.Get()).result == 0; }},
      {"DeleteSection", [&] { return DeleteSection(L"t"), true; }},
      {"RenameSection", [&] { return RenameSection(L"s", L"u"), true; }},
  };
  for (const auto& [member, failedAsExpected] : failsAsExpected) {
    object_ = test_support::ComPtr<_Tolvane>(automation::CreateTolvaneObject());
    UseFile(file_);
    EXPECT_TRUE(failedAsExpected()) << member;
    EXPECT_EQ(LastError().value_or(L"").rfind(L"The file is in use: another thread of this process", 0), 0u) << member;
    EXPECT_EQ(FileBytes(), before) << member;
  }

  holder.Release();
  EXPECT_EQ(ReadValue(L"s", L"k"), Text(L"v"));
}

// A thread suspended while it waits in line holds no one up once the file is free.
TEST_F(LockHeldElsewhereTest, ASuspendedWaiterHoldsNoOneUp) {
  GivenFile("[s]\r\nk=v\r\n");
  service::SetFileLockWaitForTesting(5000);
  HeldInAnotherThread holder(file_);
  DWORD waiterId = 0;
  std::thread waiter([&] {
    waiterId = GetCurrentThreadId();
    const service::ProfileFile lock(Name(file_));
  });
  Sleep(300);  // in line
  HANDLE suspended = OpenThread(THREAD_SUSPEND_RESUME, FALSE, waiterId);
  SuspendThread(suspended);
  holder.Release();
  EXPECT_EQ(ReadValue(L"s", L"k"), Text(L"v")) << LastError().value_or(L"");
  ResumeThread(suspended);
  waiter.join();
  CloseHandle(suspended);
}

// A thread ended while it waits in line (terminated) leaves no place in it: its process's
// keeper closes what it held within a fraction of a second, long before the wait would end.
DWORD WINAPI WaitForTheLock(void* path) {
  const service::ProfileFile lock(Name(*static_cast<const std::wstring*>(path)));
  return 0;
}

TEST_F(LockHeldElsewhereTest, AWaiterEndedInLineHoldsNoOneUp) {
  GivenFile("[s]\r\nk=v\r\n");
  service::SetFileLockWaitForTesting(5000);
  HeldInAnotherThread holder(file_);
  HANDLE waiter = CreateThread(nullptr, 0, &WaitForTheLock, &file_, 0, nullptr);
  Sleep(300);  // in line
  EXPECT_TRUE(service::FileLockHasWaitersForTesting(file_));
  TerminateThread(waiter, 1);
  CloseHandle(waiter);
  Sleep(500);
  EXPECT_FALSE(service::FileLockHasWaitersForTesting(file_));
}

// A lock file is made only by a change of a file that is there, or that the change makes:
// reads, changes that find no file, and a read of a file in the Windows folder leave none.
TEST_F(LockHeldElsewhereTest, OnlyAChangeMakesALockFile) {
  const std::wstring lockFile = file_ + L"-lock", windowsIniLock = test_support::WindowsFolder() + L"\\win.ini-lock";
  const std::pair<const char*, std::function<void()>> calls[] = {
      {"ReadValue", [&] { ReadValue(L"s", L"k"); }},
      {"SectionsCount", [&] { SectionsCount(); }},
      {"DeleteKey of a missing file", [&] { DeleteFileW(file_.c_str()), DeleteKey(L"s", L"k"); }},
      {"RenameKey of a missing file", [&] { DeleteFileW(file_.c_str()), RenameKey(L"s", L"k", L"n"); }},
      {"RenameSection of a missing file", [&] { DeleteFileW(file_.c_str()), RenameSection(L"s", L"u"); }},
      {"DeleteSection of a missing file", [&] { DeleteFileW(file_.c_str()), DeleteSection(L"s"); }},
      {"ReadValue of win.ini", [&] { UseFile(L"win.ini"), ReadValue(L"windows", L"x"), UseFile(file_); }},
  };
  for (const auto& [call, make] : calls) {
    GivenFile("[s]\r\nk=v\r\n");
    DeleteFileW(lockFile.c_str());
    make();
    EXPECT_EQ(GetFileAttributesW(lockFile.c_str()), INVALID_FILE_ATTRIBUTES) << call;
    EXPECT_EQ(GetFileAttributesW(windowsIniLock.c_str()), INVALID_FILE_ATTRIBUTES) << call;
  }
  EXPECT_TRUE(WriteValue(L"s", L"k", L"w"));
  EXPECT_NE(GetFileAttributesW(lockFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A thread that ended holding the file (its member never returned) is taken over, also
// when a new thread gets its id (Wine gives an id back once it has used up its free ones):
// that thread takes the file over, and gives it back, while it still runs.
TEST_F(LockHeldElsewhereTest, AThreadIdThatComesBackIsNotTakenForTheHolder) {
  GivenFile("[s]\r\nk=v\r\n");
  service::SetFileLockWaitForTesting(5000);
  DWORD endedId = 0;
  std::thread([&] {
    endedId = GetCurrentThreadId();
    new service::ProfileFile(Name(file_));  // never closed
  }).join();
  HANDLE checked = CreateEventW(nullptr, FALSE, FALSE, nullptr), read = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool reused = false;
  for (int i = 0; i < 5000 && !reused; ++i) {
    std::thread candidate([&] {
      reused = GetCurrentThreadId() == endedId;
      if (reused) {
        EXPECT_TRUE(service::ProfileFile(Name(file_)).Usable());
      }
      SetEvent(checked);
      if (reused) WaitForSingleObject(read, 10000);
    });
    WaitForSingleObject(checked, INFINITE);
    if (reused) {
      EXPECT_EQ(ReadValue(L"s", L"k"), Text(L"v")) << LastError().value_or(L"");
      SetEvent(read);
    }
    candidate.join();
  }
  CloseHandle(checked);
  CloseHandle(read);
  if (!reused) GTEST_SKIP() << "no new thread got the ended thread's id";
}

// A name that depends on the current folder reaches every call of a member as one path:
// here the folder changes between a rename's read and its write. Also where the path does
// not cross to the code page (the calls then take the wide-character functions).
const wchar_t* folderAfterFirstWrite = nullptr;
template <typename Char>
BOOL WINAPI ChangeFolderThenWrite(const Char* section, const Char* key, const Char* value, const Char* file) {
  if (folderAfterFirstWrite) SetCurrentDirectoryW(std::exchange(folderAfterFirstWrite, nullptr));
  return service::PlatformFunctions().Of<Char>().writeString(section, key, value, file);
}

TEST_F(LockHeldElsewhereTest, ARelativeNameIsResolvedOncePerCall) {
  const std::pair<const wchar_t*, const wchar_t*> folderNames[] = {
      {L"here", L"there"}, {L"\u0437\u0434\u0435\u0441\u044c", L"\u0442\u0430\u043c"}};
  for (const auto& [hereName, thereName] : folderNames) {
    const std::wstring here = folder_.PathOf(hereName), there = folder_.PathOf(thereName);
    for (const std::wstring& folder : {here, there}) {
      CreateDirectoryW(folder.c_str(), nullptr);
      test_support::WriteBytes(folder + L"\\x.ini", "[s]\r\nk=1\r\n");
    }
    const std::wstring previous = test_support::CurrentFolder();
    SetCurrentDirectoryW(here.c_str());
    UseFile(L".\\x.ini");
    service::Functions changing = service::PlatformFunctions();
    changing.ansi.writeString = &ChangeFolderThenWrite<char>;
    changing.wide.writeString = &ChangeFolderThenWrite<wchar_t>;
    folderAfterFirstWrite = there.c_str();
    service::ReplaceFunctionsForTesting(&changing);
    RenameKey(L"s", L"k", L"n");
    service::ReplaceFunctionsForTesting(nullptr);
    SetCurrentDirectoryW(previous.c_str());
    EXPECT_EQ(test_support::ReadBytes(here + L"\\x.ini"), "[s]\r\nn=1\r\n") << hereName;
    EXPECT_EQ(test_support::ReadBytes(there + L"\\x.ini"), "[s]\r\nk=1\r\n") << thereName;
  }
}

// A host that calls a member under a handler of its own for structured exceptions, and
// goes on after one: the stack is unwound past the member without its destructors. (The
// handler unwinds the frames in between, then resumes in its own.)
#if defined(__i386__)
struct CatchingFrame {
  struct {
    void* previous;
    EXCEPTION_DISPOSITION(__cdecl* handler)(EXCEPTION_RECORD*, void*, CONTEXT*, void*);
  } record;
  void* jump[5];
};

EXCEPTION_DISPOSITION __cdecl CatchAndJumpBack(EXCEPTION_RECORD* exception, void* frame, CONTEXT*, void*) {
  if (exception->ExceptionFlags & EXCEPTION_UNWINDING) return ExceptionContinueSearch;
  RtlUnwind(frame, nullptr, exception, nullptr);
  __builtin_longjmp(static_cast<CatchingFrame*>(frame)->jump, 1);
}

bool CaughtStructuredException(const std::function<void()>& call) {
  CatchingFrame frame{{reinterpret_cast<void*>(__readfsdword(0)), &CatchAndJumpBack}, {}};
  __writefsdword(0, reinterpret_cast<DWORD>(&frame.record));
  const bool caught = __builtin_setjmp(frame.jump) != 0;
  if (!caught) call();
  __writefsdword(0, reinterpret_cast<DWORD>(frame.record.previous));
  return caught;
}
#else
// CatchStructured(call, context) returns 0 after call(context), 1 when its handler caught
// a structured exception, as a compiler's __try/__except does.
extern "C" int CatchStructured(void (*call)(void*), void* context);
extern "C" void CatchStructuredResume();
extern "C" EXCEPTION_DISPOSITION CatchAndResume(EXCEPTION_RECORD* exception, void* frame, CONTEXT*,
                                                DISPATCHER_CONTEXT* dispatch) {
  if (exception->ExceptionFlags & EXCEPTION_UNWINDING) return ExceptionContinueSearch;
  RtlUnwindEx(frame, reinterpret_cast<void*>(&CatchStructuredResume), exception, reinterpret_cast<void*>(1),
              dispatch->ContextRecord, dispatch->HistoryTable);
  return ExceptionContinueSearch;
}
asm(R"(
    .text
    .globl CatchStructured
    .globl CatchStructuredResume
    .def CatchStructured; .scl 2; .type 32; .endef
    .seh_proc CatchStructured
CatchStructured:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler CatchAndResume, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    xorl %eax, %eax
CatchStructuredResume:
    addq $40, %rsp
    ret
    .seh_endproc
)");

bool CaughtStructuredException(const std::function<void()>& call) {
  return CatchStructured([](void* context) { (*static_cast<const std::function<void()>*>(context))(); },
                         const_cast<std::function<void()>*>(&call)) != 0;
}
#endif

// The platform's write faults half way, after emptying the file.
BOOL WINAPI EmptyTheFileThenFault(LPCSTR, LPCSTR, LPCSTR, LPCSTR file) {
  CloseHandle(CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING, 0, nullptr));
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  return FALSE;
}

TEST_F(LockHeldElsewhereTest, AFaultInTheMiddleOfAWriteLeavesTheFileWholeAndFree) {
  GivenFile("[s]\r\nk=v\r\n");
  service::Functions faulting = service::PlatformFunctions();
  faulting.ansi.writeString = &EmptyTheFileThenFault;
  service::ReplaceFunctionsForTesting(&faulting);
  EXPECT_TRUE(CaughtStructuredException([&] { WriteValue(L"s", L"k", L"new"); }));
  service::ReplaceFunctionsForTesting(nullptr);
  EXPECT_EQ(FileBytes(), "[s]\r\nk=v\r\n");
  service::SetFileLockWaitForTesting(2000);
  std::thread([&] { EXPECT_TRUE(service::ProfileFile(Name(file_)).Usable()); }).join();
}

}  // namespace
