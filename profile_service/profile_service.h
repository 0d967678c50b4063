// The one layer through which every file access goes: kernel32's private-profile
// functions (platform_functions.h), plus the error lookup. Texts cross in UTF-16: an ANSI
// file's through the ANSI functions, converted to the code page (ansi_text.h) and back; a
// Unicode file's (file_encoding.h) through the wide-character ones as they are, but for
// the look-alikes a write puts in a file marked FE FF or EF BB BF.
//
// Every call returns what the platform returns, a count or a BOOL, 0 meaning failure (or,
// for reads, nothing found), after which LastError() tells why. Arguments the platform
// would take for others never reach it, and the call fails as the platform fails: a file
// name that FileNames::refusal holds; a section, key or value longer than 32766 characters
// or holding a NUL, or a write without a section (ERROR_INVALID_PARAMETER).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

#include "com_types/owners.h"
#include "profile_service/ansi_text.h"
#include "profile_service/file_access.h"
#include "profile_service/platform_functions.h"
#include "profile_service/profile_file.h"

namespace profile_service {

// Sizes of the fixed per-call buffers, in characters (bytes for an ANSI file).
inline constexpr DWORD kValueBufferSize = 255;
inline constexpr DWORD kListBufferSize = 32767;
inline constexpr DWORD kMessageBufferSize = 255;

// A text as a member hands it to the service: the caller's characters, copied before the
// file is locked (no fault in reading them can then happen while the lock is held), and
// the role that decides their ANSI form.
class ServiceText {
 public:
  ServiceText(BSTR text, TextRole role);  // a null BSTR is the absent text
  ServiceText(std::wstring_view text, TextRole role) : text_(text), role_(role) {}
  static ServiceText Absent() { return ServiceText(nullptr, TextRole::Value); }

  bool IsAbsent() const { return !text_; }
  std::wstring_view Wide() const { return text_ ? std::wstring_view(*text_) : std::wstring_view(); }
  const AnsiText& Ansi() const;  // converted at first use
  // A copy as a BSTR (null for the absent text), to hand on to another member.
  com_types::UniqueBstr Bstr() const;
  bool IsAscii() const;
  // The text as `file` holds it (through the code page and back in an ANSI file): what a
  // by-reference argument is given back, and the form names are compared in.
  std::optional<std::wstring> Seen(ProfileFile& file) const;
  // The same for a text that a write puts in the file: GuardLookAlikes' form in a file
  // marked FE FF or EF BB BF. (What only names what a deletion removes is as Seen says.)
  std::optional<std::wstring> Stored(ProfileFile& file) const;
  // GuardLookAlikes' form (empty for the absent text), converted at first use.
  const std::wstring& Guarded() const;
  // The text in its Stored form: what a member of several calls gives each of them for a
  // name it writes, so that its reads and deletions reach what its writes made.
  ServiceText StoredIn(ProfileFile& file) const;
  // The ANSI form back in UTF-16, converted at first use: what the wide-character
  // functions are given for an ANSI file whose path does not cross to the code page.
  const std::optional<std::wstring>& AnsiWidened() const;

 private:
  // Whether a write stores the text in `file` as GuardLookAlikes gives it.
  bool GuardedIn(ProfileFile& file) const;

  std::optional<std::wstring> text_;
  TextRole role_;
  mutable std::optional<AnsiText> ansi_;
  mutable std::optional<std::optional<std::wstring>> ansiWidened_;
  mutable std::optional<std::wstring> guarded_;
};

// One entry of a whole-section write.
struct EntryText {
  ServiceText key;
  ServiceText value;
};

// Reads return UTF-16 text; a list ("name\0...name\0", without the closing NUL) holds the
// count's characters, each item (a double-byte name of an ANSI file too) followed by its
// NUL. A fixed-size read is cut by the platform as ever: 254 characters (bytes of an ANSI
// file), 32766 for a list; a value the cut would end in half a surrogate pair ends before it.
DWORD ReadString(ProfileFile& file, const ServiceText& section, const ServiceText& key, std::wstring& value);
DWORD ReadSection(ProfileFile& file, const ServiceText& section, std::wstring& list);
DWORD ReadSectionNames(ProfileFile& file, std::wstring& list);
BOOL WriteString(ProfileFile& file, const ServiceText& section, const ServiceText& key, const ServiceText& value);
// `entries`: the section's new entries ("k=v" each); nullptr for no entry list at all.
BOOL WriteSection(ProfileFile& file, const ServiceText& section, const std::vector<EntryText>* entries);

// A whole section's entry list, however long: the buffer grows until the list fits.
// Returns false when the service returned 0 (a missing or empty section, or a failure).
bool ReadWholeSection(ProfileFile& file, const ServiceText& section, std::wstring& entries);
// The file's section names as a name list, however long; false when there is none.
bool ReadAllSectionNames(ProfileFile& file, std::wstring& names);

DWORD LastError();
// The system's message for `code` (FormatMessageA, system table, no inserts, into
// a 255-character buffer), up to its first NUL; empty when there is none.
std::string MessageFor(DWORD code);

}  // namespace profile_service
