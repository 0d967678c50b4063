// kernel32's profile functions, bound by name at first use: the floor under the file's
// use and the service calls, which reach the platform only through ActiveFunctions().
#pragma once

#include <windows.h>

#include <string>
#include <tuple>

namespace profile_service {

// The profile functions for one kind of text: char for the ANSI functions, wchar_t for the
// wide-character ones.
template <typename Char>
struct ProfileFunctions {
  DWORD(WINAPI* getString)(const Char*, const Char*, const Char*, Char*, DWORD, const Char*);
  DWORD(WINAPI* getSection)(const Char*, Char*, DWORD, const Char*);
  DWORD(WINAPI* getSectionNames)(Char*, DWORD, const Char*);
  BOOL(WINAPI* writeString)(const Char*, const Char*, const Char*, const Char*);
  BOOL(WINAPI* writeSection)(const Char*, const Char*, const Char*);
};

// The kernel32 functions behind the layer. Tests may put others in their place to count
// calls, to make a chosen call fail or to cut the file a write leaves.
struct Functions {
  ProfileFunctions<char> ansi;
  ProfileFunctions<wchar_t> wide;

  template <typename Char>  // ansi for char, wide for wchar_t
  const ProfileFunctions<Char>& Of() const {
    return std::get<const ProfileFunctions<Char>&>(std::tie(ansi, wide));
  }
};
const Functions& PlatformFunctions();
// Routes the layer through `replacement` until called again with nullptr.
void ReplaceFunctionsForTesting(const Functions* replacement);
// The functions in use: the platform's, or the tests' replacement.
const Functions& ActiveFunctions();

// Makes the platform forget its copy of `file`, and the encoding it read the file in
// (WritePrivateProfileStringW with nothing named: it flushes the cache, returns FALSE; the
// last error is kept). For a file found empty, which is ANSI, but which Wine would write
// in its copy's encoding, mark and all (seen when another program emptied a Unicode file).
void ForgetPlatformCopy(const std::wstring& file);

}  // namespace profile_service
