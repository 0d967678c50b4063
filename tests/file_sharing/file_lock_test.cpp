// The file lock: every spelling of one file names one lock, and a member that cannot
// have the lock in time fails as a failed service call fails, leaving the file alone.
#include <functional>
#include <thread>

#include "automation/tolvane_object.h"
#include "profile_service/file_lock.h"
#include "profile_service/profile_file.h"
#include "tests/support/test_support.h"

namespace {

namespace service = profile_service;
using test_support::Text;

std::wstring LockNameOf(const std::wstring& path) {
  return service::FileLockName(service::AnsiText::FromBstr(test_support::Bstr(path).Get(), service::TextRole::FileName));
}

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring ShortPathOf(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(shortPath, length) : path;
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
      {file, ShortPathOf(file)},
      {folder.PathOf(L"Not Yet Written.ini"), ShortPathOf(folder.Path()) + L"\\Not Yet Written.ini"},
      {std::wstring(windows) + L"\\tolvane-lock-test.ini", L"tolvane-lock-test.ini"},
  };
  for (const auto& [one, other] : sameFile) {
    EXPECT_FALSE(LockNameOf(one).empty()) << one;
    EXPECT_EQ(LockNameOf(one), LockNameOf(other)) << one << " against " << other;
  }
  EXPECT_NE(LockNameOf(file), LockNameOf(folder.PathOf(L"Shared Settings 2.ini")));
  EXPECT_NE(LockNameOf(file), LockNameOf(L"Shared Settings.ini"));  // that one is in the Windows folder
  EXPECT_EQ(LockNameOf(L""), L"");
  SetCurrentDirectoryW(previous);
}

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
  HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr), release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {  // under another spelling of the file
    const service::ProfileFile lock(service::AnsiText::FromBstr(test_support::Bstr(Upper(file_)).Get(), service::TextRole::FileName));
    SetEvent(taken);
    WaitForSingleObject(release, INFINITE);
  });
  EXPECT_EQ(WaitForSingleObject(taken, 10000), WAIT_OBJECT_0);
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
    object_ = test_support::ComPtr<_Tolvane>(automation::TolvaneObject::Create());
    UseFile(file_);
    EXPECT_TRUE(failedAsExpected()) << member;
    EXPECT_EQ(LastError().value_or(L"").rfind(L"The file is in use", 0), 0u) << member;
    EXPECT_EQ(FileBytes(), before) << member;
  }

  SetEvent(release);
  holder.join();
  CloseHandle(taken);
  CloseHandle(release);
  EXPECT_EQ(ReadValue(L"s", L"k"), Text(L"v"));
}

}  // namespace
