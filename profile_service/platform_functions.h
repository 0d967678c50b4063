// The platform's profile functions of kernel32, bound by name at first use: the floor
// under the file's use and the service calls, which reach the platform only through
// ActiveFunctions().
#pragma once

#include <windows.h>

#include <string>

namespace profile_service {

// The kernel32 functions behind the layer. Tests may put others in their place to count
// calls, to make a chosen call fail or to cut the file a write leaves.
struct Functions {
  DWORD(WINAPI* getString)(LPCSTR, LPCSTR, LPCSTR, LPSTR, DWORD, LPCSTR);
  DWORD(WINAPI* getSection)(LPCSTR, LPSTR, DWORD, LPCSTR);
  DWORD(WINAPI* getSectionNames)(LPSTR, DWORD, LPCSTR);
  BOOL(WINAPI* writeString)(LPCSTR, LPCSTR, LPCSTR, LPCSTR);
  BOOL(WINAPI* writeSection)(LPCSTR, LPCSTR, LPCSTR);
  DWORD(WINAPI* getStringW)(LPCWSTR, LPCWSTR, LPCWSTR, LPWSTR, DWORD, LPCWSTR);
  DWORD(WINAPI* getSectionW)(LPCWSTR, LPWSTR, DWORD, LPCWSTR);
  DWORD(WINAPI* getSectionNamesW)(LPWSTR, DWORD, LPCWSTR);
  BOOL(WINAPI* writeStringW)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR);
  BOOL(WINAPI* writeSectionW)(LPCWSTR, LPCWSTR, LPCWSTR);
};
const Functions& PlatformFunctions();
// Routes the layer through `replacement` until called again with nullptr.
void ReplaceFunctionsForTesting(const Functions* replacement);
// The functions in use: the platform's, or the tests' replacement.
const Functions& ActiveFunctions();

// Makes the platform forget the copy of `file` that it keeps between calls, and with it
// the encoding it read the file in (WritePrivateProfileStringW with no section, key or
// value, which flushes the cache and returns FALSE); the last error is kept. For a file
// found empty: Wine would write it in the encoding of its copy, mark and all, where an
// empty file is ANSI (seen when another program emptied a Unicode file that the process
// had read).
void ForgetPlatformCopy(const std::wstring& file);

}  // namespace profile_service
