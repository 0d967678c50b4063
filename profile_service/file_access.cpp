#include "profile_service/file_access.h"

namespace profile_service {

com_types::UniqueHandle OpenShared(const std::wstring& path, DWORD access, DWORD disposition, DWORD share) {
  return com_types::UniqueHandle(CreateFileW(path.c_str(), access, share, nullptr, disposition, 0, nullptr));
}

com_types::UniqueHandle OpenWritableElseReadable(const std::wstring& path, bool* writable, DWORD disposition,
                                                 DWORD share) {
  com_types::UniqueHandle file = OpenShared(path, GENERIC_READ | GENERIC_WRITE, disposition, share);
  if (writable) *writable = file.Valid();
  if (!file.Valid() && GetLastError() == ERROR_ACCESS_DENIED) file = OpenShared(path, GENERIC_READ, disposition, share);
  return file;
}

bool ReadAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size) {
  OVERLAPPED at = At(offset);
  DWORD read = 0;
  return size == 0 || (ReadFile(file, buffer, size, &read, &at) && read == size);
}

bool WriteAt(HANDLE file, ULONGLONG offset, const void* data, DWORD size) {
  OVERLAPPED at = At(offset);
  DWORD written = 0;
  const BOOL done = size == 0 || WriteFile(file, data, size, &written, &at);
  if (done && (size == 0 || written == size)) return true;
  if (done) SetLastError(ERROR_DISK_FULL);
  return false;
}

bool CutAt(HANDLE file, ULONGLONG size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
}

ULONGLONG SizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
}

std::optional<std::string> ReadWhole(HANDLE file, size_t expected) {
  // One read where the file is no longer than expected (and room to spare), which saves
  // asking its size.
  std::string bytes(expected + 65536, '\0');
  OVERLAPPED at{};
  DWORD read = 0;
  if (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, &at) && read < bytes.size()) {
    bytes.resize(read);
    return bytes;
  }
  const ULONGLONG size = SizeOf(file);
  if (size > 0x40000000) return std::nullopt;
  bytes.resize(static_cast<size_t>(size));
  if (!ReadAt(file, 0, bytes.data(), static_cast<DWORD>(size))) return std::nullopt;
  return bytes;
}

}  // namespace profile_service
