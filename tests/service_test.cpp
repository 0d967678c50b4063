// The profile-service layer: binding, the refused empty file name, growing list reads,
// the conversion to the ANSI code page.
#include <thread>

#include "profile_service/profile_service.h"
#include "tests/support/test_support.h"

namespace service = profile_service;
using service::AnsiText;
using test_support::IniFolder;

namespace {

AnsiText Ansi(const std::string& text) { return AnsiText(text); }

TEST(ProfileService, BindsTheProfileFunctionsOnceAcrossThreads) {
  const service::Functions* seen[2] = {};
  std::thread first([&] { seen[0] = &service::PlatformFunctions(); });
  std::thread second([&] { seen[1] = &service::PlatformFunctions(); });
  first.join();
  second.join();
  ASSERT_EQ(seen[0], seen[1]);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  EXPECT_EQ(reinterpret_cast<void*>(seen[0]->getString),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "GetPrivateProfileStringA")));
  EXPECT_EQ(reinterpret_cast<void*>(seen[0]->writeSection),
            reinterpret_cast<void*>(GetProcAddress(kernel32, "WritePrivateProfileSectionA")));
}

TEST(ProfileService, RefusesAnEmptyOrAbsentFileNameWithoutTouchingTheWindowsFolder) {
  for (const AnsiText& file : {AnsiText(), Ansi("")}) {
    SetLastError(0);
    EXPECT_FALSE(service::WriteString(Ansi("s"), Ansi("k"), Ansi("v"), file));
    EXPECT_EQ(service::LastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    service::Buffer buffer = service::MakeBuffer(service::kValueBufferSize);
    EXPECT_EQ(service::ReadString(Ansi("s"), Ansi("k"), "", buffer, file), 0u);
    EXPECT_EQ(service::LastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  }
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(GetFileAttributesW((std::wstring(windows) + L"\\.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ProfileService, ReadsASectionLongerThanOneListBufferWhole) {
  IniFolder folder;
  const std::wstring path = folder.PathOf(L"long.ini");
  std::string file = "[big]\r\n", expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string line = "key" + std::to_string(i) + "=" + std::string(20, 'v');
    file += line + "\r\n";
    expected += line + '\0';
  }
  test_support::WriteBytes(path, file);
  std::string entries;
  ASSERT_TRUE(service::ReadWholeSection(Ansi("big"), entries, AnsiText::FromBstr(test_support::Bstr(path).Get())));
  EXPECT_GT(entries.size(), service::kListBufferSize);
  EXPECT_EQ(entries, expected);
}

// The platform's nearest match (code page 1252 here), as other programs convert, except
// where the match would carry meaning in the file or in a path.
TEST(ProfileService, TextCrossesAsItsNearestMatchUnlessThatCarriesMeaning) {
  struct Case {
    std::wstring text;
    std::string ansi;
  };
  const Case cases[] = {
      {L"a = [b]; \"c\" \\/:*?<>|.", "a = [b]; \"c\" \\/:*?<>|."},  // ASCII as it is
      {L"\u0141\u00f3d\u017a \u0151", "L\xf3" "dz o"},
      {L"\u4e00", "?"},                                         // no match at all
      {L"k\uff1dq\u2261", "k?q?"},                               // "="
      {L"\uff3b\uff3d\u301a\u301b\uff1b\u037e", "??????"},       // "[", "]", ";"
      {L"\uff3c\u2216\uff0f\u2044\uff1a\u2236", "??????"},       // separators and the drive colon
      {L"\uff0e\uff0e", "??"},                                   // the dots of a parent folder
      {L"\uff02\u02ba\uff5c\u01c0\u2329\u232a\uff0a", "???????"},  // quotes and what names may not hold
      {L"\u3000;\u2002[", "?;?["},                                // blanks that would hide ";" or "["
      {L"\uff01\u2010\uff21", "!-A"},                            // harmless look-alikes keep their match
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(AnsiText::FromBstr(test_support::Bstr(c.text).Get()).View(), c.ansi);
  }
}

TEST(ProfileService, SystemMessagesAreKeptAsTheSystemGivesThem) {
  const std::string message = service::MessageFor(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.back(), '\n');
  EXPECT_EQ(service::MessageFor(0xDEADBEEF), "");
}

}  // namespace
