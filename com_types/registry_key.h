// An owner for an open registry key: closes it when it goes, so no path through the
// registration code or the tests leaves a key open.
#pragma once

#include <windows.h>

#include <utility>

namespace com_types {

class UniqueRegistryKey {
 public:
  UniqueRegistryKey() = default;
  UniqueRegistryKey(const UniqueRegistryKey&) = delete;
  UniqueRegistryKey& operator=(const UniqueRegistryKey&) = delete;
  UniqueRegistryKey(UniqueRegistryKey&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  ~UniqueRegistryKey() { Reset(); }

  HKEY Get() const { return value_; }
  // Address for an out parameter (RegOpenKeyExW, RegCreateKeyExW); closes what was held first.
  HKEY* Put() {
    Reset();
    return &value_;
  }
  void Reset() {
    if (value_) RegCloseKey(std::exchange(value_, nullptr));
  }

 private:
  HKEY value_ = nullptr;
};

}  // namespace com_types
