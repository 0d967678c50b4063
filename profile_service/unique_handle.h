// The owner of a kernel handle: closed when the owner goes.
#pragma once

#include <windows.h>

namespace profile_service {

class UniqueHandle {
 public:
  // Takes a handle as the system returned it: null or INVALID_HANDLE_VALUE for none.
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() {
    if (Valid()) CloseHandle(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace profile_service
