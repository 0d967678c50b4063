// Text as the profile service takes it: converted to the system's ANSI code page,
// with the absent (null) text kept apart from the empty text.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "com_types/owners.h"

namespace profile_service {

// Where a text goes, which decides the look-alikes that must not cross as the character
// they resemble (see AppendAnsi).
enum class TextRole { FileName, Section, Key, Value };

class AnsiText {
 public:
  AnsiText() = default;  // absent
  explicit AnsiText(std::string text) : text_(std::move(text)) {}
  static AnsiText Of(std::wstring_view text, TextRole role);
  // Converts a BSTR (embedded NULs included); a null BSTR gives the absent text.
  static AnsiText FromBstr(BSTR text, TextRole role);

  bool IsAbsent() const { return !text_.has_value(); }
  // Converted back to UTF-16: the form in which the service saw the text.
  std::optional<std::wstring> Widened() const;
  // What the service is handed: nullptr for the absent text.
  const char* Argument() const { return text_ ? text_->c_str() : nullptr; }
  std::string_view View() const { return text_ ? std::string_view(*text_) : std::string_view(); }

 private:
  std::optional<std::string> text_;
};

// Appends UTF-16 text, converted, to an ANSI text. Characters outside the code page cross
// as the platform's ordinary conversion takes them, as their nearest match ("\u0141\u00f3d\u017a"
// as "L\u00f3dz"), so that what other programs wrote through it is found; a nearest match
// crosses as "?" only where the character it resembles would carry meaning in its role:
// - anywhere: NUL, CR and LF, which end a line;
// - a file name: the blanks, quotes and what a file name may not hold, the separators,
//   the drive colon and the dot of "..", which would lead elsewhere than the named file;
// - a key: "=" anywhere, ";" or "[" first past the blanks (a comment, a header), blanks
//   at its ends (trimmed away); a section: "]" anywhere, blanks at its ends;
// - a value: blanks at its ends, a quote first or last past them (outer quotes are
//   stripped when it is read).
// So a fullwidth "=" cannot slip past the write rules as "=", while "3\uff0e5" in a value
// crosses as "3.5", as other programs write it.
void AppendAnsi(std::string& target, std::wstring_view text, TextRole role);

// The text with each look-alike that AppendAnsi turns into "?" as "?", all else as it is:
// how a write's text crosses to a file marked FE FF or EF BB BF, which Wine's wide-character
// functions read as Unicode and Windows' write through the code page.
std::wstring GuardLookAlikes(std::wstring_view text, TextRole role);

bool IsAscii(std::wstring_view text);

// The platform's ordinary conversion to the code page: the nearest match for a character
// the code page lacks, else its default character.
void AppendNearestMatch(std::string& target, std::wstring_view text);
// Converts characters of the code page (or of `codePage`) back to UTF-16.
std::wstring WideOf(std::string_view text, UINT codePage = CP_ACP);

// Replaces a caller's text with the form in which the service saw it. An absent text
// leaves the caller's variable absent.
void WriteBack(BSTR* slot, const std::optional<std::wstring>& seen);

}  // namespace profile_service
