#include "profile_service/lock_file.h"

#include <aclapi.h>

#include "profile_service/file_access.h"
#include "profile_service/file_identity.h"

namespace profile_service {
namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The INI file's access list, given to its lock file so that all who may use the one may
// use the other, whoever made it (a service, an elevated process, another user); without
// an INI file, the folder's, as the INI file will have.
class AccessOfFile {
 public:
  explicit AccessOfFile(const std::wstring& path) {
    PACL list = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                              owned_.Put()) != ERROR_SUCCESS) {
      owned_.Release();  // the call may leave anything there
      return;
    }
    InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor_, TRUE, list, FALSE);
    SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  SECURITY_ATTRIBUTES* Attributes() { return owned_.Valid() ? &attributes_ : nullptr; }

 private:
  com_types::UniqueLocalMemory owned_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

// The INI file, held for a member, may still be removed or replaced by others; its lock
// file, while held, may not. A reader locks the INI file through a read handle, which
// keeps no other program from writing it.
bool OpenForLocking(LockHandle& handle, const std::wstring& path, DWORD disposition, LockMode mode) {
  const bool lockFile = path == handle.names.LockPath();
  const DWORD share = lockFile ? kShareReadWrite : kShareAll;
  const bool readOnly = mode == LockMode::Read && !lockFile;
  handle.writable = false;
  handle.file = readOnly ? OpenShared(path, GENERIC_READ, disposition, share)
                         : OpenWritableElseReadable(path, &handle.writable, disposition, share);
  return handle.file.Valid();
}

bool FileThere(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes);
}

Opened OpenLockFile(LockHandle& handle, LockMode mode) {
  if (OpenForLocking(handle, handle.names.LockPath(), OPEN_EXISTING, mode)) return Opened::LockFile;
  if (GetLastError() == ERROR_FILE_NOT_FOUND) {
    // Reads, and changes that find no file to change, never make a lock file; nor do names
    // whose writes go to the registry. A folder the platform neither reads nor writes.
    const DWORD fileAttributes = GetFileAttributesW(handle.names.LongPath().c_str());
    if (IsFolder(fileAttributes) || (fileAttributes == INVALID_FILE_ATTRIBUTES && mode != LockMode::Write)) {
      return Opened::NoFile;
    }
    if (mode != LockMode::Read && !MappedToRegistry(handle.names.LongPath())) {
      AccessOfFile access(handle.names.LongPath());
      handle.file =
          UniqueHandle(CreateFileW(handle.names.LockPath().c_str(), GENERIC_READ | GENERIC_WRITE, kShareReadWrite,
                                   access.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      handle.writable = true;
      if (handle.file.Valid()) return Opened::MadeLockFile;
    }
  }
  // A lock file made meanwhile by another is opened as if found (else Opened::Refused).
  if (FileThere(handle.names.LockPath())) {
    return OpenForLocking(handle, handle.names.LockPath(), OPEN_EXISTING, mode) ? Opened::LockFile : Opened::Refused;
  }
  if (!OpenForLocking(handle, handle.names.LongPath(), OPEN_EXISTING, mode)) return Opened::NoFile;
  handle.throughFile = true;
  return Opened::ThroughFile;
}

}  // namespace profile_service
