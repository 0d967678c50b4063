// Helpers for the robustness tests: a profile service that fails a chosen call, what the
// file system looked like before a call (so that a test can tell whether anything beyond
// the named file changed), late-bound calls in the typed and the script forms, the
// error information a failing call leaves behind, and the process's memory use.
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

#include "automation/owners.h"
#include "automation/tolvane_interface.h"
#include "profile_service/profile_service.h"

namespace robustness {

using automation::ComPtr;
using automation::UniqueBstr;
using automation::UniqueSafeArray;
using automation::UniqueVariant;

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

// One file's bytes, or nullopt when it did not exist.
std::optional<std::string> ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);

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

// A private folder for one test, removed with everything under it (read-only files and
// sub-folders included).
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::wstring PathOf(const std::wstring& name) const { return path_ + L"\\" + name; }
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// ---- Texts and arrays --------------------------------------------------------------------

using Text = std::optional<std::wstring>;  // nullopt: the absent (null) BSTR
UniqueBstr Bstr(const Text& text);
Text TextOf(BSTR text);
std::string Printable(const Text& text);  // for failure messages: escaped, long texts cut

// A one-dimensional array of BSTR with the given lower bound.
UniqueSafeArray TextArray(const std::vector<std::wstring>& elements, LONG lowerBound = 0);
std::vector<std::wstring> Elements(SAFEARRAY* array);  // of a one-dimensional BSTR array

// ---- Calls and their failures ------------------------------------------------------------

// The failing HRESULTs a member may return, and what a late-bound caller may see.
bool IsKnownFault(HRESULT status);
// The description of the thread's error information, taken (and so cleared) from it.
std::wstring TakeErrorDescription();

// EXCEPINFO with its texts owned.
struct Exception {
  SCODE scode = S_OK;
  std::wstring source;
  std::wstring description;
};

// One late-bound call: the arguments in the member's own order (Invoke takes them
// last first). The arguments are borrowed: the caller's variables stay the caller's.
struct Outcome {
  HRESULT status = E_FAIL;
  UniqueVariant result;
  Exception exception;
};
Outcome Invoke(IDispatch* object, DISPID dispid, WORD flags, std::vector<VARIANTARG> arguments);
Outcome PutProperty(IDispatch* object, DISPID dispid, VARIANTARG value);

// Argument forms.
VARIANTARG ByValue(BSTR text);
VARIANTARG ByReference(BSTR* text);
VARIANTARG ByReference(SAFEARRAY** textArray);
VARIANTARG ByReference(VARIANT* variable);  // VT_BYREF | VT_VARIANT, as scripts pass variables

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
