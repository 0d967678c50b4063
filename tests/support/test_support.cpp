#include "tests/support/test_support.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <new>

#include "automation/tolvane_object.h"

namespace test_support {

UniqueBstr Bstr(const Text& text) {
  return text ? UniqueBstr::Copy(text->data(), static_cast<UINT>(text->size())) : UniqueBstr();
}

Text TextOf(BSTR text) { return text ? Text(std::wstring(text, SysStringLen(text))) : std::nullopt; }

UniqueSafeArray TextArray(const std::vector<Text>& elements, LONG lowerBound) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(elements.size()), lowerBound};
  UniqueSafeArray array(SafeArrayCreate(VT_BSTR, 1, &bound));
  if (!array.Get()) throw std::bad_alloc();
  if (!elements.empty()) {
    com_types::SafeArrayData<BSTR> data(array.Get());
    for (size_t i = 0; i < elements.size(); ++i) data[i] = Bstr(elements[i]).Release();
  }
  return array;
}

Bounds BoundsOf(SAFEARRAY* array, UINT dimension) {
  Bounds bounds{};
  SafeArrayGetLBound(array, dimension, &bounds.lower);
  SafeArrayGetUBound(array, dimension, &bounds.upper);
  return bounds;
}

std::vector<Text> Elements(SAFEARRAY* array) {
  std::vector<Text> elements;
  const Bounds bounds = BoundsOf(array);
  for (LONG i = bounds.lower; i <= bounds.upper; ++i) {
    UniqueBstr element;
    SafeArrayGetElement(array, &i, element.InOut());
    elements.push_back(TextOf(element.Get()));
  }
  return elements;
}

namespace {

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

// Process ids come back (under Wine, soon): what a killed test left under the same name
// goes first.
IniFolder::IniFolder() {
  static std::atomic<int> serial{0};
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  folder_ =
      std::wstring(temp) + L"tolvane-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
  RemoveTree(folder_);
  CreateDirectoryW(folder_.c_str(), nullptr);
}

IniFolder::~IniFolder() { RemoveTree(folder_); }

Listing ListFiles(const std::wstring& folder, const std::wstring& pattern) {
  Listing listing;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return listing;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    listing[found.cFileName] = {size, found.ftLastWriteTime};
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return listing;
}

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return folder;
}

std::wstring ShortPathOf(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = {};
  const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(shortPath, length) : path;
}

std::wstring CurrentFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void TolvaneTest::SetUp() {
  ASSERT_NO_FATAL_FAILURE(ComApartment::SetUp());
  object_ = ComPtr<_Tolvane>(automation::CreateTolvaneObject());
  ASSERT_TRUE(object_);
  file_ = folder_.PathOf(L"test.ini");
}

void TolvaneTest::TearDown() {
  object_ = {};
  ComApartment::TearDown();
}

void TolvaneTest::UseFile(const std::wstring& path) {
  UniqueBstr name = Bstr(path);
  ASSERT_EQ(object_->put_IniFileName(name.InOut()), S_OK);
}

void TolvaneTest::GivenFile(const std::string& bytes) {
  WriteBytes(file_, bytes);
  UseFile(file_);
}

Text TolvaneTest::LastError() {
  BSTR text = nullptr;
  EXPECT_EQ(object_->get_LastErrorA(&text), S_OK);
  return TextOf(UniqueBstr(text).Get());
}

Text TolvaneTest::ReadValue(const Text& section, const Text& key) {
  UniqueBstr s = Bstr(section), k = Bstr(key);
  BSTR result = nullptr;
  EXPECT_EQ(object_->ReadValue(s.InOut(), k.InOut(), &result), S_OK);
  return TextOf(UniqueBstr(result).Get());
}

bool TolvaneTest::WriteValue(const Text& section, const Text& key, const Text& value) {
  UniqueBstr s = Bstr(section), k = Bstr(key), v = Bstr(value);
  VARIANT_BOOL result = 1;
  EXPECT_EQ(object_->WriteValue(s.InOut(), k.InOut(), v.InOut(), &result), S_OK);
  EXPECT_TRUE(result == VARIANT_TRUE || result == VARIANT_FALSE);
  return result == VARIANT_TRUE;
}

bool TolvaneTest::CreateKeyAndValue(const Text& section, const Text& key, const Text& value) {
  UniqueBstr s = Bstr(section), k = Bstr(key), v = Bstr(value);
  VARIANT_BOOL result = 1;
  EXPECT_EQ(object_->CreateKeyAndValue(s.Get(), k.Get(), v.Get(), &result), S_OK);
  return result == VARIANT_TRUE;
}

void TolvaneTest::DeleteKey(const Text& section, const Text& key) {
  UniqueBstr s = Bstr(section), k = Bstr(key);
  EXPECT_EQ(object_->DeleteKey(s.Get(), k.Get()), S_OK);
}

void TolvaneTest::RenameKey(const Text& section, const Text& current, const Text& renamed) {
  UniqueBstr s = Bstr(section), c = Bstr(current), r = Bstr(renamed);
  EXPECT_EQ(object_->RenameKey(s.Get(), c.Get(), r.Get()), S_OK);
}

LONG TolvaneTest::SectionsCount() {
  LONG result = 12345;
  EXPECT_EQ(object_->get_SectionsCount(&result), S_OK);
  return result;
}

bool TolvaneTest::SectionAdd(const Text& section) {
  UniqueBstr s = Bstr(section);
  VARIANT_BOOL result = 1;
  EXPECT_EQ(object_->SectionAdd(s.Get(), &result), S_OK);
  return result == VARIANT_TRUE;
}

void TolvaneTest::DeleteSection(const Text& section) {
  UniqueBstr s = Bstr(section);
  EXPECT_EQ(object_->DeleteSection(s.Get()), S_OK);
}

void TolvaneTest::RenameSection(const Text& current, const Text& renamed) {
  UniqueBstr c = Bstr(current), r = Bstr(renamed);
  EXPECT_EQ(object_->RenameSection(c.Get(), r.Get()), S_OK);
}

ReadSectionOutcome TolvaneTest::ReadSection(const Text& section, UniqueSafeArray& keys, UniqueSafeArray& values) {
  UniqueBstr s = Bstr(section);
  SAFEARRAY* keySlot = keys.Release();
  SAFEARRAY* valueSlot = values.Release();
  ReadSectionOutcome call{};
  call.status = object_->ReadSection(s.InOut(), &keySlot, &valueSlot, call.result.Get());
  keys.Reset(keySlot);
  values.Reset(valueSlot);
  call.section = TextOf(s.Get());
  return call;
}

SectionWriteOutcome TolvaneTest::SectionWriteAtOnce(const Text& section, SAFEARRAY* keys, SAFEARRAY* values) {
  UniqueBstr s = Bstr(section);
  SAFEARRAY* keySlot = keys;
  SAFEARRAY* valueSlot = values;
  SectionWriteOutcome call{};
  call.result = 12345;
  call.status = object_->SectionWriteAtOnce(s.InOut(), &keySlot, &valueSlot, &call.result);
  EXPECT_EQ(keySlot, keys);  // the arrays are only read
  EXPECT_EQ(valueSlot, values);
  call.section = TextOf(s.Get());
  return call;
}

}  // namespace test_support
