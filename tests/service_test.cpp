// The profile-service layer: binding, the refused empty file name, growing list reads.
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

TEST(ProfileService, SystemMessagesAreKeptAsTheSystemGivesThem) {
  const std::string message = service::MessageFor(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.back(), '\n');
  EXPECT_EQ(service::MessageFor(0xDEADBEEF), "");
}

}  // namespace
