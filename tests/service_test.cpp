// The profile-service layer: binding, the refused empty file name, growing list reads,
// the conversion to the ANSI code page.
#include <thread>

#include "profile_service/file_identity.h"
#include "profile_service/profile_service.h"
#include "tests/support/test_support.h"

namespace service = profile_service;
using service::AnsiText;
using test_support::IniFolder;

namespace {

AnsiText Ansi(const std::string& text) { return AnsiText(text); }
service::ServiceText Text(const wchar_t* text) {
  return service::ServiceText(std::wstring_view(text), service::TextRole::Key);
}

TEST(ProfileService, BindsTheProfileFunctionsOnceAcrossThreads) {
  const service::Functions* seen[2] = {};
  std::thread first([&] { seen[0] = &service::PlatformFunctions(); });
  std::thread second([&] { seen[1] = &service::PlatformFunctions(); });
  first.join();
  second.join();
  ASSERT_EQ(seen[0], seen[1]);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  EXPECT_EQ(reinterpret_cast<void*>(seen[0]->ansi.getString),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "GetPrivateProfileStringA")));
  EXPECT_EQ(reinterpret_cast<void*>(seen[0]->ansi.writeSection),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "WritePrivateProfileSectionA")));
  EXPECT_EQ(reinterpret_cast<void*>(seen[0]->wide.getSectionNames),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "GetPrivateProfileSectionNamesW")));
}

// The owner template on the kernel's handles: what it holds is closed once, by the owner
// it was last moved to; neither null nor INVALID_HANDLE_VALUE is held; Release hands on.
TEST(Owners, CloseAHandleOnceAndHoldNeitherKindOfNone) {
  const auto open = [](HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
  };
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  {
    com_types::UniqueHandle first(event);
    const com_types::UniqueHandle second(std::move(first));
    EXPECT_FALSE(first.Valid());
    first.Reset();
    EXPECT_TRUE(open(event));
  }
  EXPECT_FALSE(open(event));
  EXPECT_FALSE(com_types::UniqueHandle(INVALID_HANDLE_VALUE).Valid());
  EXPECT_FALSE(com_types::UniqueHandle().Valid());
  com_types::UniqueHandle kept(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  const HANDLE handedOn = kept.Release();
  EXPECT_TRUE(open(handedOn));
  CloseHandle(handedOn);
}

TEST(ProfileService, RefusesAnEmptyOrAbsentFileNameWithoutTouchingTheWindowsFolder) {
  for (const AnsiText& name : {AnsiText(), Ansi("")}) {
    service::ProfileFile file(name);
    SetLastError(0);
    EXPECT_FALSE(service::WriteString(file, Text(L"s"), Text(L"k"), Text(L"v")));
    EXPECT_EQ(service::LastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    std::wstring value;
    EXPECT_EQ(service::ReadString(file, Text(L"s"), Text(L"k"), value), 0u);
    EXPECT_EQ(service::LastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  }
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(GetFileAttributesW((std::wstring(windows) + L"\\.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ProfileService, ReadsASectionLongerThanOneListBufferWhole) {
  IniFolder folder;
  const std::wstring path = folder.PathOf(L"long.ini");
  std::string file = "[big]\r\n";
  std::wstring expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string line = "key" + std::to_string(i) + "=" + std::string(20, 'v');
    file += line + "\r\n";
    expected += test_support::WideOfAscii(line) + L'\0';
  }
  test_support::WriteBytes(path, file);
  service::ProfileFile profile(AnsiText::FromBstr(test_support::Bstr(path).Get(), service::TextRole::FileName));
  std::wstring entries;
  ASSERT_TRUE(service::ReadWholeSection(profile, Text(L"big"), entries));
  EXPECT_GT(entries.size(), service::kListBufferSize);
  EXPECT_EQ(entries, expected);
}

// The platform's nearest match (code page 1252 here), as other programs convert, except
// where the match would carry meaning in the role the text plays.
TEST(ProfileService, TextCrossesAsItsNearestMatchUnlessThatCarriesMeaning) {
  using Role = service::TextRole;
  struct Case {
    std::wstring text;
    Role role;
    std::string ansi;
  };
  const Case cases[] = {
      {L"a = [b]; \"c\" \\/:*?<>|.", Role::FileName, "a = [b]; \"c\" \\/:*?<>|."},  // ASCII as it is
      {L"\u0141\u00f3d\u017a \u0151", Role::Value,
       "L\xf3"
       "dz o"},
      {L"\u4e00", Role::Key, "?"},                                                        // no match at all
      {L"\uff3c\u2216\uff0f\u2044\uff1a\u2236\uff0e\uff0e", Role::FileName, "????????"},  // separators, colon, dots
      {L"\uff02\u02ba\uff5c\u01c0\u2329\u232a\uff0a\u3000", Role::FileName, "????????"},  // what names may not hold
      {L"k\uff1dq\u2261", Role::Key, "k?q?"},                                             // "=" in a key
      {L"\u3000\uff1bk\uff1b\uff3b\uff3d", Role::Key, "??k;[]"},                          // a hidden or a leading ";"
      {L"\u3000;\u2002[", Role::Key, "?; ["},
      {L"\u2003s\uff3dx\uff3b\uff1b\u2003", Role::Section, "?s?x[;?"},  // "]" and end blanks in a section
      {L"\uff07abc\uff07", Role::Value, "?abc?"},                       // quotes that would be stripped
      {L"\u2002\uff02a\uff02b\uff07 ", Role::Value, "??a\"b? "},
      {L"3\uff0e5 12\uff1a30 a\uff1db\u3000c", Role::Value, "3.5 12:30 a=b c"},  // meaningless in a value
      {L"\uff01\u2010\uff21", Role::FileName, "!-A"},  // harmless look-alikes keep their match
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(AnsiText::FromBstr(test_support::Bstr(c.text).Get(), c.role).View(), c.ansi);
  }
}

// Files whose writes the platform maps to the registry get no journal.
TEST(ProfileService, KnowsTheFilesThatThePlatformMapsToTheRegistry) {
  EXPECT_TRUE(service::MappedToRegistry(test_support::WindowsFolder() + L"\\WIN.INI"));
  EXPECT_FALSE(service::MappedToRegistry(test_support::WindowsFolder() + L"\\tolvane.ini"));
  EXPECT_FALSE(service::MappedToRegistry(IniFolder().PathOf(L"win.ini")));
}

TEST(ProfileService, SystemMessagesAreKeptAsTheSystemGivesThem) {
  const std::string message = service::MessageFor(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.back(), '\n');
  EXPECT_EQ(service::MessageFor(0xDEADBEEF), "");
}

}  // namespace
