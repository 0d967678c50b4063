// One process of the file-sharing test, in one role, on the shared file:
//   file_sharing_worker writer  <file> <go event> <writer number> <keys>
//   file_sharing_worker renamer <file> <go event> [<first renamed section> <sections>]
//   file_sharing_worker reader  <file> <go event> <stop event>
//   file_sharing_worker holder  <file> <holding event>
//   file_sharing_worker ended   <file> <holding event>      its writing thread terminated half way; the process lives
//   on file_sharing_worker churner <file> write|rename file_sharing_worker abandoner <file> damage|tear
//   file_sharing_worker init    <file>                      writes the file the workers start from
//   file_sharing_worker verify  <file> <writers> <keys>     checks it after them (every section renamed)
// The workers start together when the test sets the go event ("-": at once, for workers
// in other Wine prefixes, which share no events). The exit code counts the calls that
// failed or read wrongly, or the lines of the file that departed from what was expected
// (at most 100); the holder and the churner never end by themselves.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "automation/tolvane_object.h"
#include "profile_service/profile_file.h"
#include "profile_service/profile_service.h"
#include "tests/file_sharing/workload.h"
#include "tests/support/test_support.h"

namespace file_sharing {
namespace {

using test_support::Bstr;
using test_support::UniqueBstr;
using test_support::WideOfAscii;

UniqueBstr Text(const std::string& ascii) { return Bstr(WideOfAscii(ascii)); }

class Worker {
 public:
  explicit Worker(const wchar_t* file) : object_(automation::CreateTolvaneObject()) {
    UniqueBstr name = Bstr(std::wstring(file));
    object_->put_IniFileName(name.InOut());
  }

  void Write(const Write& write) {
    if (write.member == Member::SectionWriteAtOnce) {
      std::vector<test_support::Text> keys, values;
      for (const auto& [key, value] : write.pairs)
        keys.push_back(WideOfAscii(key)), values.push_back(WideOfAscii(value));
      test_support::UniqueSafeArray keyArray = test_support::TextArray(keys),
                                    valueArray = test_support::TextArray(values);
      SAFEARRAY* keySlot = keyArray.Get();
      SAFEARRAY* valueSlot = valueArray.Get();
      UniqueBstr section = Text(write.section);
      LONG last = -2;
      Check(object_->SectionWriteAtOnce(section.InOut(), &keySlot, &valueSlot, &last) == S_OK &&
                last == static_cast<LONG>(keys.size()) - 1,
            "SectionWriteAtOnce", write.section);
      return;
    }
    UniqueBstr section = Text(write.section), key = Text(write.pairs[0].first), value = Text(write.pairs[0].second);
    VARIANT_BOOL written = VARIANT_FALSE;
    const HRESULT status = write.member == Member::WriteValue
                               ? object_->WriteValue(section.InOut(), key.InOut(), value.InOut(), &written)
                               : object_->CreateKeyAndValue(section.Get(), key.Get(), value.Get(), &written);
    Check(status == S_OK && written == VARIANT_TRUE, "a single-key write", write.section);
  }

  void Rename(int j) {
    UniqueBstr section = Text(RenamedSection(j)), old = Text("old"), renamed = Text("new");
    UniqueBstr moved = Text(MovedSection(j));
    Check(object_->RenameKey(section.Get(), old.Get(), renamed.Get()) == S_OK, "RenameKey", RenamedSection(j));
    Check(object_->RenameSection(section.Get(), moved.Get()) == S_OK, "RenameSection", RenamedSection(j));
  }

  void Read() {
    UniqueBstr section = Text(kReaderSection), key = Text(kReaderKey);
    BSTR read = nullptr;
    const HRESULT status = object_->ReadValue(section.InOut(), key.InOut(), &read);
    UniqueBstr value(read);
    Check(status == S_OK && test_support::TextOf(value.Get()) == WideOfAscii(kReaderValue), "ReadValue",
          kReaderSection);
  }

  // See ChurnedFile().
  void Churn(bool write) {
    UniqueBstr section = Text("counter"), key = Text("c"), moving = Text("moving"), moved = Text("moved");
    for (int i = 1;; ++i) {
      if (write) {
        UniqueBstr value = Text(std::to_string(i));
        VARIANT_BOOL written = VARIANT_FALSE;
        object_->WriteValue(section.InOut(), key.InOut(), value.InOut(), &written);
      } else {
        object_->RenameSection(moving.Get(), moved.Get());
        object_->RenameSection(moved.Get(), moving.Get());
      }
    }
  }

  int Failures() const { return std::min(failures_, 100); }

 private:
  void Check(bool worked, const char* what, const std::string& section) {
    if (worked) return;
    if (++failures_ <= 3) {
      BSTR text = nullptr;
      object_->get_LastErrorA(&text);
      UniqueBstr lastError(text);
      std::fprintf(stderr, "worker %lu: %s in [%s] failed: %ls\n", GetCurrentProcessId(), what, section.c_str(),
                   lastError.Get() ? lastError.Get() : L"");
    }
  }

  test_support::ComPtr<_Tolvane> object_;
  int failures_ = 0;
};

HANDLE holding = nullptr;

// Stands in for the profile service's write: says that the lock is held, and waits to be killed.
BOOL WINAPI HoldForever(LPCSTR, LPCSTR, LPCSTR, LPCSTR) {
  SetEvent(holding);
  Sleep(INFINITE);
  return FALSE;
}

// The same, after emptying the file as the platform's write does first.
BOOL WINAPI EmptyThenHoldForever(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  CloseHandle(
      CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, TRUNCATE_EXISTING, 0, nullptr));
  return HoldForever(section, key, value, file);
}

DWORD WINAPI WriteOnce(void* worker) {
  static_cast<Worker*>(worker)->Write({Member::WriteValue, "holder", {{"key", "never written"}}});
  return 0;
}

// Writes on a thread of its own that is terminated in the middle of the platform's write,
// and lives on.
[[noreturn]] void EndAWriterHalfWay(Worker& worker) {
  profile_service::Functions functions = profile_service::PlatformFunctions();
  functions.ansi.writeString = EmptyThenHoldForever;
  profile_service::ReplaceFunctionsForTesting(&functions);
  const HANDLE writer = CreateThread(nullptr, 0, &WriteOnce, &worker, 0, nullptr);
  WaitForSingleObject(holding, INFINITE);
  TerminateThread(writer, 99);
  for (;;) Sleep(INFINITE);
}

bool AwaitEvent(const wchar_t* name) {
  if (std::wstring(name) == L"-") return true;
  HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name);
  const bool set = event && WaitForSingleObject(event, 60000) == WAIT_OBJECT_0;
  if (event) CloseHandle(event);
  return set;
}

// Checks the file after `writers` writers of `keys` keys and the renamers of every section.
int Verify(const wchar_t* file, int writers, int keys) {
  const std::vector<std::string> departures =
      Departures(test_support::ReadBytes(file).value_or(""), ExpectedFile(writers, keys, true));
  for (size_t i = 0; i < std::min<size_t>(departures.size(), 10); ++i)
    std::fprintf(stderr, "%s\n", departures[i].c_str());
  return static_cast<int>(std::min<size_t>(departures.size(), 100));
}

int Run(int argc, wchar_t** argv) {
  const std::wstring role = argc > 1 ? argv[1] : L"";
  if (role == L"init" && argc == 3) return test_support::WriteBytes(argv[2], InitialFile()), 0;
  if (role == L"verify" && argc == 5) return Verify(argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
  if (argc < 4) return 100;
  Worker worker(argv[2]);
  if (role == L"ended") {
    holding = OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, argv[3]);
    EndAWriterHalfWay(worker);
  }
  if (role == L"holder") {
    holding = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    profile_service::Functions functions = profile_service::PlatformFunctions();
    functions.ansi.writeString = HoldForever;
    profile_service::ReplaceFunctionsForTesting(&functions);
    worker.Write({Member::WriteValue, "holder", {{"key", "never written"}}});
    return 100;
  }
  if (role == L"churner") worker.Churn(std::wstring(argv[3]) == L"write");
  if (role == L"abandoner") {  // dies in the middle of a change, as if killed there
    profile_service::ProfileFile file(
        profile_service::AnsiText::FromBstr(Bstr(std::wstring(argv[2])).Get(), profile_service::TextRole::FileName));
    file.BeforeChange(profile_service::WriteShape::Kind::SetKey);
    if (std::wstring(argv[3]) == L"damage") {
      test_support::WriteBytes(argv[2], "damaged");  // the file half written
    } else {                                         // the journal half written
      HANDLE journal = CreateFileW((std::wstring(argv[2]) + L"-lock").c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
      SetFilePointer(journal, 40, nullptr, FILE_BEGIN);
      SetEndOfFile(journal);
      CloseHandle(journal);
    }
    TerminateProcess(GetCurrentProcess(), 99);
  }
  if (!AwaitEvent(argv[3])) return 100;
  if (role == L"writer" && argc == 6) {
    for (const Write& write : WritesOf(_wtoi(argv[4]), _wtoi(argv[5]))) worker.Write(write);
  } else if (role == L"renamer") {
    const int first = argc == 6 ? _wtoi(argv[4]) : 0, count = argc == 6 ? _wtoi(argv[5]) : kRenamedSections;
    for (int j = first; j < first + count; ++j) worker.Rename(j);
  } else if (role == L"reader" && argc == 5) {
    HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (!stop) return 100;
    do worker.Read();
    while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT);
    CloseHandle(stop);
  } else {
    return 100;
  }
  return worker.Failures();
}

}  // namespace
}  // namespace file_sharing

int wmain(int argc, wchar_t** argv) {
  if (FAILED(CoInitialize(nullptr))) return 100;
  const int failures = file_sharing::Run(argc, argv);
  CoUninitialize();
  return failures;
}
