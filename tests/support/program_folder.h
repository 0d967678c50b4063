// Where this test program runs from, and the server DLL built next to it. Header-only,
// so that programs that link neither the test helpers nor the object can use it.
#pragma once

#include <windows.h>

#include <string>

namespace test_support {

// The folder of this program, with its trailing separator.
inline std::wstring FolderOfThisProgram() {
  wchar_t program[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring folder = program;
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// Full path of VoskTolvane.dll next to this program.
inline std::wstring ServerDllPath() { return FolderOfThisProgram() + L"VoskTolvane.dll"; }

}  // namespace test_support
