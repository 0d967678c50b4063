#include "profile_service/file_encoding.h"

namespace profile_service {

Encoding EncodingOfBytes(std::string_view firstBytes) {
  if (firstBytes.starts_with(kUtf16LeMark)) return Encoding::Unicode;
  if (firstBytes.starts_with(kUtf16BeMark) || firstBytes.starts_with(kUtf8Mark)) return Encoding::UnicodeOtherMark;
  return Encoding::Ansi;
}

Encoding EncodingOfFile(HANDLE file, bool* empty) {
  char bytes[3] = {};
  DWORD read = 0;
  OVERLAPPED fromStart{};
  const bool readable = ReadFile(file, bytes, sizeof bytes, &read, &fromStart) || GetLastError() == ERROR_HANDLE_EOF;
  if (empty) *empty = readable && read == 0;
  if (!readable) read = 0;
  return EncodingOfBytes(std::string_view(bytes, read));
}

}  // namespace profile_service
