// The one layer through which every file access goes: the ANSI private-profile
// functions of kernel32, bound by name at first use, plus the error lookup.
//
// Every call returns what the platform returns: a count or a BOOL, 0 meaning failure
// (or, for reads, nothing found). After a 0, LastError() tells why.
//
// Arguments the platform would take for others never reach it; the call fails as the
// platform fails, with a zero result and the last error set:
// - an absent or empty file name, or one with an embedded NUL: ERROR_INVALID_NAME
//   (without this, a bare name resolves into the Windows directory);
// - a file name whose full path does not fit in MAX_PATH: ERROR_FILENAME_EXCED_RANGE;
// - a section, key or value longer than 32766 characters or holding a NUL, or a write
//   without a section: ERROR_INVALID_PARAMETER.
#pragma once

#include <windows.h>

#include <string>

#include "profile_service/ansi_text.h"

namespace profile_service {

// Sizes of the fixed per-call buffers, in characters.
inline constexpr DWORD kValueBufferSize = 255;
inline constexpr DWORD kKeyNameBufferSize = 1024;
inline constexpr DWORD kListBufferSize = 32767;
inline constexpr DWORD kMessageBufferSize = 255;

// A NUL-filled buffer of a fixed size, as the service fills it.
using Buffer = std::string;
inline Buffer MakeBuffer(DWORD size) { return Buffer(size, '\0'); }

DWORD ReadString(const AnsiText& section, const AnsiText& key, const char* defaultText, Buffer& buffer,
                 const AnsiText& file);
DWORD ReadSection(const AnsiText& section, Buffer& buffer, const AnsiText& file);
DWORD ReadSectionNames(Buffer& buffer, const AnsiText& file);
BOOL WriteString(const AnsiText& section, const AnsiText& key, const AnsiText& value, const AnsiText& file);
// `entries` is an entry list ("k=v\0...\0\0") or nullptr for none.
BOOL WriteSection(const AnsiText& section, const char* entries, const AnsiText& file);

// A whole section's entry list, however long: the buffer grows until the list fits.
// Returns false when the service returned 0 (a missing or empty section, or a failure).
bool ReadWholeSection(const AnsiText& section, std::string& entries, const AnsiText& file);
// The file's section names as a name list, however long; false when there is none.
bool ReadAllSectionNames(std::string& names, const AnsiText& file);

DWORD LastError();
// The system's message for `code` (FormatMessageA, system table, no inserts, into
// a 255-character buffer), up to its first NUL; empty when there is none.
std::string MessageFor(DWORD code);

// The kernel32 functions behind the layer. Tests may put others in their place
// to count calls or to make a chosen call fail.
struct Functions {
  DWORD(WINAPI* getString)(LPCSTR, LPCSTR, LPCSTR, LPSTR, DWORD, LPCSTR);
  DWORD(WINAPI* getSection)(LPCSTR, LPSTR, DWORD, LPCSTR);
  DWORD(WINAPI* getSectionNames)(LPSTR, DWORD, LPCSTR);
  BOOL(WINAPI* writeString)(LPCSTR, LPCSTR, LPCSTR, LPCSTR);
  BOOL(WINAPI* writeSection)(LPCSTR, LPCSTR, LPCSTR);
};
const Functions& PlatformFunctions();
// Routes the layer through `replacement` until called again with nullptr.
void ReplaceFunctionsForTesting(const Functions* replacement);

}  // namespace profile_service
