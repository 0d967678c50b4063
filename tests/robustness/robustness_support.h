// Helpers for the robustness tests: texts shown in failure messages, the error
// information a failing call leaves behind, and the process's memory use. Texts, arrays,
// files, folders and their listings, late-bound calls, INI text and the service double
// come from the shared test helpers (tests/support).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
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
using test_support::ListFiles;
using test_support::Listing;
using test_support::ReadBytes;
using test_support::Text;
using test_support::TextArray;
using test_support::TextOf;
using test_support::WideOfAscii;
using test_support::WindowsFolder;
using test_support::WriteBytes;

using dispatch_calls::ArgumentPassing;
using dispatch_calls::ByReference;
using dispatch_calls::ByValue;
using dispatch_calls::Invoke;
using dispatch_calls::Outcome;
using dispatch_calls::Put;

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
