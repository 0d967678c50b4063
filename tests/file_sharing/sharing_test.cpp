// Several processes on one file at once, each through its own object: writers into
// sections of their own, a renamer, a reader, and processes killed while they hold the
// file's lock. Every process is waited for within a bound and killed past it.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "automation/tolvane_object.h"
#include "profile_service/file_lock.h"
#include "profile_service/profile_service.h"
#include "tests/file_sharing/workload.h"
#include "tests/support/program_folder.h"
#include "tests/support/test_support.h"

namespace file_sharing {
namespace {

using test_support::WideOfAscii;

constexpr DWORD kProcessBound = 120000;  // milliseconds for any one wait on the workers

// A worker process, killed if it is still running when this goes.
class WorkerProcess {
 public:
  explicit WorkerProcess(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + test_support::FolderOfThisProgram() + L"file_sharing_worker.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process_)) {
      CloseHandle(process_.hThread);
    }
  }
  ~WorkerProcess() {
    if (!process_.hProcess) return;
    Kill();
    CloseHandle(process_.hProcess);
  }
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;

  bool Started() const { return process_.hProcess != nullptr; }
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
  // The exit code, or -1 when the process did not end within `milliseconds`.
  long ExitCode(DWORD milliseconds = kProcessBound) const {
    DWORD code = 0;
    if (WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
  }
  void Kill() const {
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, kProcessBound);
  }

 private:
  PROCESS_INFORMATION process_{};
};

class NamedEvent {
 public:
  explicit NamedEvent(const std::wstring& role)
      : name_(L"Local\\tolvane-sharing-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + role),
        handle_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())) {}
  ~NamedEvent() { CloseHandle(handle_); }
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  const std::wstring& Name() const { return name_; }
  HANDLE Handle() const { return handle_; }

 private:
  std::wstring name_;
  HANDLE handle_;
};

void ExpectFileHolds(const std::wstring& file, const Sections& expected) {
  const std::vector<std::string> departures = Departures(test_support::ReadBytes(file).value_or(""), expected);
  for (size_t i = 0; i < std::min<size_t>(departures.size(), 10); ++i) ADD_FAILURE() << departures[i];
  EXPECT_EQ(departures.size(), 0u);
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Gives `file` the write time of `reference` plus `seconds`.
// The tests that call the object themselves do so in this process's apartment.
class FileSharing : public test_support::ComApartment {
 protected:
  static test_support::ComPtr<_Tolvane> ObjectOn(const std::wstring& file) {
    test_support::ComPtr<_Tolvane> object(automation::CreateTolvaneObject());
    test_support::UniqueBstr name = test_support::Bstr(file);
    object->put_IniFileName(name.InOut());
    return object;
  }
};

TEST_F(FileSharing, WritersARenamerAndAReaderInProcessesOfTheirOwnLoseNothing) {
  constexpr int kWriters = 4, kKeys = 100;
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"shared.ini");
  test_support::WriteBytes(file, InitialFile());
  NamedEvent go(L"go"), stop(L"stop");

  const std::wstring common = Quoted(file) + L" " + go.Name();
  WorkerProcess reader(L"reader " + common + L" " + stop.Name());
  WorkerProcess renamer(L"renamer " + common);
  std::vector<std::unique_ptr<WorkerProcess>> writers;
  for (int n = 0; n < kWriters; ++n) {
    // The last writer names the file by a device path, which locks the same file.
    const std::wstring spelling = n == kWriters - 1 ? Quoted(L"\\\\?\\" + file) + L" " + go.Name() : common;
    writers.push_back(std::make_unique<WorkerProcess>(L"writer " + spelling + L" " + std::to_wstring(n) + L" " +
                                                      std::to_wstring(kKeys)));
  }
  ASSERT_TRUE(reader.Started() && renamer.Started());
  SetEvent(go.Handle());

  for (const auto& writer : writers) EXPECT_EQ(writer->ExitCode(), 0) << "failed calls of a writer";
  EXPECT_EQ(renamer.ExitCode(), 0) << "failed calls of the renamer";
  SetEvent(stop.Handle());
  EXPECT_EQ(reader.ExitCode(), 0) << "reads of the untouched key that found it missing";
  ExpectFileHolds(file, ExpectedFile(kWriters, kKeys, true));
}

// The first holder takes the lock at once; the second waits for it in turn, takes it over
// from the killed first, and is killed in its turn. Writers waiting behind both finish.
TEST_F(FileSharing, ProcessesKilledWhileHoldingTheLockDoNotStopTheOthers) {
  constexpr int kWriters = 2, kKeys = 10;
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"shared.ini");
  test_support::WriteBytes(file, InitialFile());
  NamedEvent go(L"go"), firstHolding(L"first"), secondHolding(L"second");
  SetEvent(go.Handle());

  WorkerProcess first(L"holder " + Quoted(file) + L" " + firstHolding.Name());
  ASSERT_EQ(WaitForSingleObject(firstHolding.Handle(), kProcessBound), WAIT_OBJECT_0);
  WorkerProcess second(L"holder " + Quoted(file) + L" " + secondHolding.Name());
  Sleep(500);  // the second is in line before the writers
  std::vector<std::unique_ptr<WorkerProcess>> writers;
  for (int n = 0; n < kWriters; ++n) {
    writers.push_back(std::make_unique<WorkerProcess>(L"writer " + Quoted(file) + L" " + go.Name() + L" " +
                                                      std::to_wstring(n) + L" " + std::to_wstring(kKeys)));
  }
  Sleep(1000);
  EXPECT_EQ(WaitForSingleObject(secondHolding.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  for (const auto& writer : writers) EXPECT_TRUE(writer->Running()) << "a writer did not wait for the lock";

  first.Kill();
  ASSERT_EQ(WaitForSingleObject(secondHolding.Handle(), kProcessBound), WAIT_OBJECT_0);
  Sleep(500);
  for (const auto& writer : writers) EXPECT_TRUE(writer->Running()) << "a writer did not wait for the lock";
  second.Kill();

  for (const auto& writer : writers) EXPECT_EQ(writer->ExitCode(), 0) << "failed calls of a writer";
  ExpectFileHolds(file, ExpectedFile(kWriters, kKeys, false));
}

// A process killed in the middle of a write or of a rename leaves the file as it was
// before that call, or as the call leaves it: the next call puts back what was cut short.
TEST_F(FileSharing, ProcessesKilledInTheMiddleOfAChangeLeaveTheFileWhole) {
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"churned.ini");
  const std::string initial = ChurnedFile();
  test_support::WriteBytes(file, initial);
  const ini_reader::IniFile before = ini_reader::ReadIni(initial);
  const test_support::ComPtr<_Tolvane> object = ObjectOn(file);
  std::srand(GetTickCount());
  for (const wchar_t* role : {L"write", L"rename"}) {
    for (int kill = 0; kill < 20; ++kill) {
      SCOPED_TRACE(testing::Message() << "churner " << role << ", kill " << kill);
      WorkerProcess churner(L"churner " + Quoted(file) + L" " + role);
      Sleep(200 + std::rand() % 400);
      churner.Kill();
      LONG sections = 0;
      ASSERT_EQ(object->get_SectionsCount(&sections), S_OK);  // puts back what the churner cut short
      const ini_reader::IniFile after = ini_reader::ReadIni(test_support::ReadBytes(file).value_or(""));
      EXPECT_EQ(after.misread.size(), 0u);
      ASSERT_EQ(after.sections.size(), 3u);
      EXPECT_EQ(after.Find("big")->lines, before.Find("big")->lines);
      const ini_reader::IniSection* counter = after.Find("counter");
      ASSERT_TRUE(counter && counter->lines.size() == 1);
      EXPECT_EQ(counter->lines[0].find_first_not_of("0123456789", 2), std::string::npos) << counter->lines[0];
      const ini_reader::IniSection* moved = after.Find("moving") ? after.Find("moving") : after.Find("moved");
      ASSERT_TRUE(moved);
      EXPECT_EQ(moved->lines, before.Find("moving")->lines);
    }
  }
}

// A journal as the previous release wrote it: without the file's identity.
std::string PreviousReleaseJournal(const std::wstring& name, const std::string& bytes) {
  struct {
    char mark[8] = {'T', 'o', 'l', 'v', 'J', 'r', 'n', '3'};
    std::uint32_t flags = 1, nameUnits;
    std::uint64_t length, checksum = 0;
  } header{.nameUnits = static_cast<std::uint32_t>(name.size()), .length = bytes.size()};
  std::string journal = std::string(reinterpret_cast<const char*>(&header), sizeof header) +
                        std::string(reinterpret_cast<const char*>(name.data()), name.size() * 2) + bytes;
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : journal) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  std::memcpy(journal.data() + 24, &hash, sizeof hash);
  return journal;
}

// The hot-journal rule: what the next call makes of a journal that a dead writer left. The
// file as it was before the change, whatever name of it the writer or the next caller
// used, when the file there is the one the journal names; anything else at the name is
// left alone: a file that replaced it, none, a file made where there was none. A journal
// cut short, or a copy of it in another file's lock file, is emptied and changes nothing.
TEST_F(FileSharing, TheNextCallPutsBackWhatADeadWriterLeft) {
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"Abandoned Settings.ini"), other = folder.PathOf(L"other.ini"),
                     sibling = folder.PathOf(L"sibling.ini"), replacement = folder.PathOf(L"new.tmp");
  const std::string before = "[s]\r\nk=v\r\n", later = "[s]\r\nk=later\r\n", damaged = "damaged";
  enum class Then { Nothing, Replaced, WrittenInPlace, Removed, SiblingReadFirst, HeldWithoutSharing, OldRelease };
  struct Case {
    const wchar_t* how;
    bool existed;
    bool shortName;  // the writer named the file by its 8.3 name
    Then then;       // what happened to the file after the writer stopped
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {L"damage", true, false, Then::Nothing, before},
      {L"damage", false, false, Then::Nothing, damaged},
      {L"tear", true, false, Then::Nothing, before},
      {L"damage", true, true, Then::Nothing, before},
      {L"damage", true, false, Then::Replaced, later},
      {L"damage", false, false, Then::WrittenInPlace, later},
      {L"damage", true, false, Then::Removed, std::nullopt},
      {L"damage", true, false, Then::SiblingReadFirst, before},
      {L"damage", true, false, Then::HeldWithoutSharing, before},
      {L"damage", true, false, Then::OldRelease, before},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.how << (c.existed ? " an existing file" : " a new file")
                                    << (c.shortName ? ", by its short name" : "") << ", then " << int(c.then));
    DeleteFileW(file.c_str());
    DeleteFileW((sibling + L"-lock").c_str());
    if (c.existed) test_support::WriteBytes(file, before);
    const std::wstring name = c.shortName ? test_support::ShortPathOf(file) : file;
    EXPECT_EQ(WorkerProcess(L"abandoner " + Quoted(name) + L" " + c.how).ExitCode(), 99);
    const std::string journal = test_support::ReadBytes(file + L"-lock").value_or("");
    ASSERT_NE(journal, "");
    if (c.then == Then::Replaced) {
      test_support::WriteBytes(replacement, later);
      MoveFileExW(replacement.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    if (c.then == Then::WrittenInPlace) test_support::WriteBytes(file, later);
    if (c.then == Then::Removed) DeleteFileW(file.c_str());
    if (c.then == Then::OldRelease)
      test_support::WriteBytes(file + L"-lock", PreviousReleaseJournal(L"Abandoned Settings.ini", before));
    LONG sections = 0;
    // A sibling whose lock file is the file's, as "a.ini" reaches the lock file of "A.ini"
    // where names are looked up without regard to case.
    if (c.then == Then::SiblingReadFirst) {
      test_support::WriteBytes(sibling, later);
      ASSERT_TRUE(CreateHardLinkW((sibling + L"-lock").c_str(), (file + L"-lock").c_str(), nullptr));
      EXPECT_EQ(ObjectOn(sibling)->get_SectionsCount(&sections), S_OK);
      EXPECT_EQ(test_support::ReadBytes(sibling), later);
    }
    // While the journal cannot be put back, every member fails, and changes nothing.
    if (c.then == Then::HeldWithoutSharing) {
      HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      test_support::UniqueBstr s = test_support::Bstr(L"s"), k = test_support::Bstr(L"k"), v = test_support::Bstr(L"w"),
                               message;
      VARIANT_BOOL written = VARIANT_TRUE;
      const test_support::ComPtr<_Tolvane> object = ObjectOn(file);
      EXPECT_EQ(object->WriteValue(s.InOut(), k.InOut(), v.InOut(), &written), S_OK);
      EXPECT_EQ(written, VARIANT_FALSE);
      EXPECT_EQ(object->get_LastErrorA(message.InOut()), S_OK);
      const std::string expected = profile_service::MessageFor(ERROR_SHARING_VIOLATION);
      EXPECT_EQ(test_support::TextOf(message.Get()), std::wstring(expected.begin(), expected.end()));
      EXPECT_EQ(test_support::ReadBytes(file + L"-lock"), journal);
      CloseHandle(held);
    }
    test_support::WriteBytes(other, "[o]\r\nx=1\r\n");
    test_support::WriteBytes(other + L"-lock", journal);
    EXPECT_EQ(ObjectOn(other)->get_SectionsCount(&sections), S_OK);
    EXPECT_EQ(test_support::ReadBytes(other), "[o]\r\nx=1\r\n");
    EXPECT_EQ(test_support::ReadBytes(other + L"-lock"), "");
    EXPECT_EQ(ObjectOn(file)->get_SectionsCount(&sections), S_OK);
    EXPECT_EQ(test_support::ReadBytes(file), c.expected);
    EXPECT_EQ(test_support::ReadBytes(file + L"-lock").value_or(""), "");
  }
}

// A writer thread terminated in the middle of a change, in a process that lives on: its
// process puts the file back and lets it go, and the others go on.
TEST_F(FileSharing, AWriterThreadEndedHalfWayIsPutBackWhileItsProcessLivesOn) {
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"ended.ini");
  test_support::WriteBytes(file, InitialFile());
  NamedEvent holding(L"holding");
  WorkerProcess ended(L"ended " + Quoted(file) + L" " + holding.Name());
  ASSERT_EQ(WaitForSingleObject(holding.Handle(), kProcessBound), WAIT_OBJECT_0);
  test_support::UniqueBstr section = test_support::Bstr(WideOfAscii(kReaderSection)),
                           key = test_support::Bstr(WideOfAscii(kReaderKey)), read;
  EXPECT_EQ(ObjectOn(file)->ReadValue(section.InOut(), key.InOut(), read.InOut()), S_OK);
  EXPECT_EQ(test_support::TextOf(read.Get()), WideOfAscii(kReaderValue));
  EXPECT_EQ(test_support::ReadBytes(file), InitialFile());
  EXPECT_TRUE(ended.Running());
}

// Processes killed while they wait in line leave no place in it behind: the next call
// finds them gone, and later ones take the fast way again.
TEST_F(FileSharing, WaitersKilledInLineAreForgotten) {
  test_support::IniFolder folder;
  const std::wstring file = folder.PathOf(L"shared.ini");
  test_support::WriteBytes(file, InitialFile());
  const test_support::ComPtr<_Tolvane> object = ObjectOn(file);
  test_support::UniqueBstr section = test_support::Bstr(WideOfAscii(kReaderSection)),
                           key = test_support::Bstr(WideOfAscii(kReaderKey));
  auto readsTheKey = [&] {  // the first read keeps the lock's shared state open in this process
    test_support::UniqueBstr read;
    return object->ReadValue(section.InOut(), key.InOut(), read.InOut()) == S_OK &&
           test_support::TextOf(read.Get()) == WideOfAscii(kReaderValue);
  };
  EXPECT_TRUE(readsTheKey());

  NamedEvent holding(L"holding"), neverSet(L"waiting");
  WorkerProcess holder(L"holder " + Quoted(file) + L" " + holding.Name());
  ASSERT_EQ(WaitForSingleObject(holding.Handle(), kProcessBound), WAIT_OBJECT_0);
  std::vector<std::unique_ptr<WorkerProcess>> waiters;
  for (int n = 0; n < 3; ++n) {
    waiters.push_back(std::make_unique<WorkerProcess>(L"holder " + Quoted(file) + L" " + neverSet.Name()));
  }
  Sleep(1000);
  EXPECT_TRUE(profile_service::FileLockHasWaitersForTesting(file));
  for (const auto& waiter : waiters) waiter->Kill();
  holder.Kill();
  Sleep(1100);  // a place in line is looked at once it is a second old
  EXPECT_TRUE(readsTheKey());
  EXPECT_FALSE(profile_service::FileLockHasWaitersForTesting(file));
}

}  // namespace
}  // namespace file_sharing
