// Text as the profile service takes it: converted to the system's ANSI code page,
// with the absent (null) text kept apart from the empty text.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "com_types/owners.h"

namespace profile_service {

class AnsiText {
 public:
  AnsiText() = default;  // absent
  explicit AnsiText(std::string text) : text_(std::move(text)) {}
  // Converts a BSTR (embedded NULs included); a null BSTR gives the absent text.
  static AnsiText FromBstr(BSTR text);

  bool IsAbsent() const { return !text_.has_value(); }
  // What the service is handed: nullptr for the absent text.
  const char* Argument() const { return text_ ? text_->c_str() : nullptr; }
  std::string_view View() const { return text_ ? std::string_view(*text_) : std::string_view(); }

 private:
  std::optional<std::string> text_;
};

// Appends a BSTR's characters, converted, to an ANSI text (nothing for a null BSTR).
void AppendAnsi(std::string& target, BSTR text);

// Converts ANSI characters back to UTF-16, as a new BSTR.
com_types::UniqueBstr WideFromAnsi(std::string_view text);

// Replaces a caller's text with its round trip through the ANSI code page, the form in
// which the service saw it. An absent text stays absent.
void WriteBack(BSTR* slot, const AnsiText& converted);

}  // namespace profile_service
