// The DLL's resources as Windows reads them: the version block (French, id 1) through
// VerQueryValue, and the embedded type library.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/owners.h"
#include "tests/server/server_dll.h"

namespace {

constexpr WORD kFrench = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);  // 0x040C

// The bytes of one resource of the DLL; empty when it is missing.
std::vector<char> ResourceBytes(HMODULE module, LPCWSTR type, WORD id, WORD language) {
  HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!data) return {};
  return std::vector<char>(data, data + SizeofResource(module, found));
}

class ServerResources : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Module()) << "cannot load " << testing::PrintToString(server_tests::ServerDllPath());
    // VerQueryValue may write into the block, so it works on a copy.
    version_ = ResourceBytes(server_.Module(), RT_VERSION, 1, kFrench);
    ASSERT_FALSE(version_.empty()) << "no version resource 1 in language 0x040C";
  }

  // Nullopt when the block has no such value; the text stops at its first NUL.
  std::optional<std::wstring> Value(const std::wstring& path) {
    void* data = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(version_.data(), path.c_str(), &data, &length)) return std::nullopt;
    if (!data || length == 0) return std::wstring();
    const auto* text = static_cast<const wchar_t*>(data);
    return std::wstring(text, wcsnlen(text, length));
  }
  std::optional<std::wstring> String(const std::wstring& name) { return Value(L"\\StringFileInfo\\040C04B0\\" + name); }

  server_tests::LoadedServer server_;
  std::vector<char> version_;
};

TEST_F(ServerResources, FixedVersionIs1500ForAWindowsDll) {
  void* data = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(version_.data(), L"\\", &data, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
  EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(5, 1));  // 1.5
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);              // .0.0
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(5, 1));
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(ServerResources, StringTableNamesTheModuleAndItsVersion) {
  EXPECT_EQ(String(L"FileVersion"), L"1.05");
  EXPECT_EQ(String(L"ProductVersion"), L"1.05");
  EXPECT_EQ(String(L"InternalName"), L"VoskTolvane");
  EXPECT_EQ(String(L"OriginalFilename"), L"VoskTolvane.dll");
  for (const wchar_t* name :
       {L"CompanyName", L"FileDescription", L"LegalCopyright", L"LegalTrademarks", L"ProductName"}) {
    const std::optional<std::wstring> value = String(name);
    ASSERT_TRUE(value) << testing::PrintToString(std::wstring(name));
    EXPECT_FALSE(value->empty()) << testing::PrintToString(std::wstring(name));
  }
  EXPECT_EQ(String(L"NoSuchEntry"), std::nullopt);  // an absent entry does read as absent
}

TEST_F(ServerResources, IsMarkedSelfRegisteringWithAnEmptyValue) { EXPECT_EQ(String(L"OLESelfRegister"), L""); }

TEST_F(ServerResources, TranslationIsFrenchInUnicode) {
  void* data = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(version_.data(), L"\\VarFileInfo\\Translation", &data, &length));
  ASSERT_EQ(length, 2 * sizeof(WORD));
  const auto* translation = static_cast<const WORD*>(data);
  EXPECT_EQ(translation[0], 0x040C);
  EXPECT_EQ(translation[1], 0x04B0);
}

TEST_F(ServerResources, TypeLibraryIsResourceOneInTheNeutralLanguage) {
  const std::vector<char> library =
      ResourceBytes(server_.Module(), L"TYPELIB", 1, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_GE(library.size(), 4u);
  EXPECT_EQ(std::string(library.data(), 4), "MSFT");

  com_types::ComPtr<ITypeLib> loaded;
  ASSERT_EQ(LoadTypeLibEx(server_tests::ServerDllPath().c_str(), REGKIND_NONE, loaded.Put()), S_OK);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(loaded->GetLibAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->guid, com_types::kLibraryId);
  EXPECT_EQ(attributes->wMajorVerNum, 6);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, 0u);
  loaded->ReleaseTLibAttr(attributes);
}

}  // namespace
