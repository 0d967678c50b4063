// Shared helpers for the tests: real INI files in a private folder, BSTR and SAFEARRAY
// builders, and a fixture holding one Tolvane object reached through its function table.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
#include "tests/support/com_apartment.h"

namespace test_support {

using com_types::ComPtr;
using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;

// A text as a test states it: nullopt stands for the absent (null) BSTR.
using Text = std::optional<std::wstring>;

UniqueBstr Bstr(const Text& text);
Text TextOf(BSTR text);
// ASCII text, as tests state names and values in single bytes, in UTF-16.
inline std::wstring WideOfAscii(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A one-dimensional SAFEARRAY of BSTR with the given lower bound; std::bad_alloc when it
// cannot be made.
UniqueSafeArray TextArray(const std::vector<Text>& elements, LONG lowerBound = 0);
// The elements of a one-dimensional array, in index order.
std::vector<Text> Elements(SAFEARRAY* array);
struct Bounds {
  LONG lower;
  LONG upper;
  bool operator==(const Bounds&) const = default;
};
Bounds BoundsOf(SAFEARRAY* array, UINT dimension = 1);

// A folder of its own for one test's INI files, removed with everything under it
// (read-only files and sub-folders included).
class IniFolder {
 public:
  IniFolder();
  ~IniFolder();
  IniFolder(const IniFolder&) = delete;
  IniFolder& operator=(const IniFolder&) = delete;
  std::wstring PathOf(const std::wstring& name) const { return folder_ + L"\\" + name; }
  const std::wstring& Path() const { return folder_; }

 private:
  std::wstring folder_;
};

// The files directly in `folder` that match `pattern`, with their sizes and write times:
// a call that is refused or that names another file must change none of them.
struct FileFacts {
  ULONGLONG size;
  FILETIME written;
  bool operator==(const FileFacts& other) const {
    return size == other.size && CompareFileTime(&written, &other.written) == 0;
  }
};
using Listing = std::map<std::wstring, FileFacts>;
Listing ListFiles(const std::wstring& folder, const std::wstring& pattern = L"*");
std::wstring WindowsFolder();
// The path by its short 8.3 names (as it is, where the system has none).
std::wstring ShortPathOf(const std::wstring& path);
std::wstring CurrentFolder();

// Writes the file's exact bytes, over a read-only file too.
void WriteBytes(const std::wstring& path, const std::string& bytes);
// The file's exact bytes; nullopt when there is no such file.
std::optional<std::string> ReadBytes(const std::wstring& path);

// What one ReadSection call through the function table gave back: its status, its
// result and the by-reference Section as it came back.
struct ReadSectionOutcome {
  HRESULT status;
  UniqueVariant result;
  Text section;
};

// What one SectionWriteAtOnce call gave back.
struct SectionWriteOutcome {
  HRESULT status;
  LONG result;
  Text section;
};

// A fixture with one object, early-bound, and a file `test.ini` in a private folder.
class TolvaneTest : public ComApartment {
 protected:
  void SetUp() override;
  void TearDown() override;

  void UseFile(const std::wstring& path);
  // Writes `bytes` to test.ini and points the object at it.
  void GivenFile(const std::string& bytes);
  std::optional<std::string> FileBytes() const { return ReadBytes(file_); }

  Text LastError();
  // Calls through the function table, asserting S_OK.
  Text ReadValue(const Text& section, const Text& key);
  bool WriteValue(const Text& section, const Text& key, const Text& value);
  bool CreateKeyAndValue(const Text& section, const Text& key, const Text& value);
  void DeleteKey(const Text& section, const Text& key);
  void RenameKey(const Text& section, const Text& current, const Text& renamed);
  LONG SectionsCount();
  bool SectionAdd(const Text& section);
  void DeleteSection(const Text& section);
  void RenameSection(const Text& current, const Text& renamed);
  // These two return the call status instead of asserting it. `keys` and `values` are
  // the caller's array variables, passed by reference.
  ReadSectionOutcome ReadSection(const Text& section, UniqueSafeArray& keys, UniqueSafeArray& values);
  SectionWriteOutcome SectionWriteAtOnce(const Text& section, SAFEARRAY* keys, SAFEARRAY* values);

  IniFolder folder_;
  std::wstring file_;
  ComPtr<_Tolvane> object_;
};

}  // namespace test_support
