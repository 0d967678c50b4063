// A file's encoding, as the profile functions read it from its first bytes.
#pragma once

#include <windows.h>

#include <string_view>

namespace profile_service {

// A file beginning with one of these marks is Unicode to the wide-character profile
// functions here (Wine's decode and write back all three); any other, or none, is ANSI.
inline constexpr std::string_view kUtf16LeMark = "\xFF\xFE", kUtf16BeMark = "\xFE\xFF", kUtf8Mark = "\xEF\xBB\xBF";

enum class Encoding {
  Ansi,
  // FF FE (UTF-16LE): Unicode to the profile functions of every platform.
  Unicode,
  // FE FF (UTF-16BE) or EF BB BF (UTF-8): Unicode here, but Windows' profile functions
  // write into it through the ANSI code page, by nearest match, so what is written to it
  // meets an ANSI file's look-alike rule (GuardLookAlikes in profile_service/ansi_text.h).
  UnicodeOtherMark,
};

inline bool IsUnicode(Encoding encoding) { return encoding != Encoding::Ansi; }

Encoding EncodingOfBytes(std::string_view firstBytes);

// The encoding of the file open as `file` (for reading), from its first bytes; `empty`,
// when given, says whether the file has none.
Encoding EncodingOfFile(HANDLE file, bool* empty = nullptr);

}  // namespace profile_service
