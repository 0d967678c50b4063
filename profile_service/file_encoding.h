// A file's encoding, as the profile functions read it from its first bytes.
#pragma once

#include <windows.h>

#include <string_view>

namespace profile_service {

enum class Encoding { Ansi, Unicode };

// Unicode for a file that begins with a byte-order mark: UTF-16LE (FF FE), UTF-16BE
// (FE FF) or UTF-8 (EF BB BF), which the wide-character profile functions decode and
// write back as they found them; ANSI otherwise, also for an empty file or none.
Encoding EncodingOfBytes(std::string_view firstBytes);

// The encoding of the file open as `file` (for reading), from its first bytes.
Encoding EncodingOfFile(HANDLE file);

}  // namespace profile_service
