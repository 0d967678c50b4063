// Helpers for the robustness tests: a profile service that fails a chosen call, what the
// file system looked like before a call (so that a test can tell whether anything beyond
// the named file changed), the error information a failing call leaves behind, and the
// process's memory use. Texts, arrays, files, folders and late-bound calls come from the
// shared test helpers (tests/support).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
#include "profile_service/profile_service.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/test_support.h"

namespace robustness {

using com_types::ComPtr;
using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;

using test_support::Bstr;
using test_support::Elements;
using test_support::IniFolder;
using test_support::ReadBytes;
using test_support::Text;
using test_support::TextArray;
using test_support::TextOf;
using test_support::WriteBytes;

using dispatch_calls::ArgumentPassing;
using dispatch_calls::ByReference;
using dispatch_calls::ByValue;
using dispatch_calls::Invoke;
using dispatch_calls::Outcome;
using dispatch_calls::Put;

// ---- The profile service, failing on demand ---------------------------------------------

// Routes the profile-service layer through functions that forward to the platform, count
// every call, and make call number `failAt` (1-based; 0 = none) fail as the platform
// does: a zero result with ERROR_ACCESS_DENIED. The platform functions come back when
// this goes out of scope. One at a time, on one thread.
class FailingService {
 public:
  explicit FailingService(int failAt = 0);
  ~FailingService();
  FailingService(const FailingService&) = delete;
  FailingService& operator=(const FailingService&) = delete;

  int Calls() const;
  bool Failed() const;  // whether the chosen call was reached (and failed)
  // The calls made, by function name, in order ("getString", "writeSection", ...).
  std::vector<std::string> CallNames() const;
};

// ---- What the file system looked like --------------------------------------------------

// The *.ini files of the Windows folder (and of the current folder), with their sizes
// and write times: a call that is refused or that names another file must change none.
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

// ---- Texts ---------------------------------------------------------------------------------

std::string Printable(const Text& text);  // for failure messages: escaped, long texts cut
// The texts with each absent one as the empty text.
std::vector<std::wstring> AbsentAsEmpty(const std::vector<Text>& texts);

// ---- Calls and their failures ------------------------------------------------------------

// The failing HRESULTs a member may return, and what a late-bound caller may see.
bool IsKnownFault(HRESULT status);
// The description of the thread's error information, taken (and so cleared) from it.
std::wstring TakeErrorDescription();

// Late-bound calls here pass ArgumentPassing::Borrowed: the arguments reach the object
// exactly as a test made them (locked arrays, odd types, arrays that cannot be copied),
// and the caller's variables stay the caller's.

// Checks that a failing call explains itself: a failing status from the function table
// leaves error information with a description; a late-bound failure carries an EXCEPINFO
// with a known code and a description, or is one of the standard dispatch refusals.
void ExpectExplained(HRESULT status, const std::wstring& errorDescription);
void ExpectExplained(const Outcome& outcome);

// ---- The process ---------------------------------------------------------------------------

// The process's private bytes (PagefileUsage).
SIZE_T PrivateBytes();

// The seed of a randomised test: the environment variable `name` when it is set (to
// replay a failure), otherwise a fresh one. Printed either way.
uint32_t SeedFrom(const char* name);

// A new Tolvane object through the linked-in class factory.
ComPtr<_Tolvane> NewObject();
void SetFileName(_Tolvane* object, const std::wstring& path);
std::wstring LastErrorOf(_Tolvane* object);

}  // namespace robustness
