#include "automation/registration.h"

#include <objbase.h>

#include <string>

#include "com_types/identity.h"
#include "com_types/owners.h"
#include "automation/registration_table.h"
#include "automation/type_information.h"

namespace automation {

using com_types::kTargetSystem;
using com_types::UniqueRegistryKey;

namespace {

// Keys are reached from the hive by their full path, so that a view flag applies to all of it.
const HKEY kHive = HKEY_LOCAL_MACHINE;
std::wstring ClassesPath(const std::wstring& key) { return L"Software\\Classes\\" + key; }

HRESULT Write(const RegistryValue& value) {
  UniqueRegistryKey key;
  LSTATUS status = RegCreateKeyExW(kHive, ClassesPath(value.key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, key.Put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(key.Get(), value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()),
                            static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
  }
  return HRESULT_FROM_WIN32(status);
}

HRESULT RemoveTree(const std::wstring& key) {
  const std::wstring path = ClassesPath(key);
  const LSTATUS status = RegDeleteTreeW(kHive, path.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    RegDeleteKeyW(kHive, path.c_str());
    return S_OK;
  }
  return HRESULT_FROM_WIN32(status);
}

bool HasSubkeys(const std::wstring& key) {
  UniqueRegistryKey opened;
  DWORD subkeys = 0;
  return RegOpenKeyExW(kHive, ClassesPath(key).c_str(), 0, KEY_READ, opened.Put()) == ERROR_SUCCESS &&
         RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys > 0;
}

// Whether the DLL of the other kind is registered for the machine (KeyPlace::kShared).
bool RegisteredInOtherView(const std::wstring& classKey) {
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  UniqueRegistryKey opened;
  const std::wstring server = ClassesPath(classKey + L"\\InprocServer32");
  return RegOpenKeyExW(kHive, server.c_str(), 0, KEY_READ | otherView, opened.Put()) == ERROR_SUCCESS;
}

// This module's platform key, then the keys above it that no other platform still uses.
HRESULT RemoveTypeLibrary(const LibraryKeys& library) {
  HRESULT status = RemoveTree(library.platformKey);
  if (SUCCEEDED(status) && !HasSubkeys(library.localeKey)) status = RemoveTree(library.versionKey);
  if (SUCCEEDED(status) && !HasSubkeys(library.libraryKey)) status = RemoveTree(library.libraryKey);
  return status;
}

}  // namespace

HRESULT Register() {
  const std::wstring modulePath = ThisModulePath();
  if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
  for (const RegistryValue& value : RegistrationValues(kRegistrationRecord, modulePath, kTargetSystem)) {
    const HRESULT status = Write(value);
    if (FAILED(status)) return status;
  }
  return S_OK;
}

HRESULT Unregister() {
  HRESULT result = S_OK;
  const auto keepFirstFailure = [&result](HRESULT status) {
    if (FAILED(status) && SUCCEEDED(result)) result = status;
  };
  for (const ClassKeys& served : ClassesOf(kRegistrationRecord)) {
    const HRESULT classRemoved = RemoveTree(served.classKey);
    keepFirstFailure(classRemoved);
    if (!served.interfaceKey.empty()) keepFirstFailure(RemoveTree(served.interfaceKey));
    // Asked only once this module's class key is gone: where there is one registry
    // view (32-bit Windows), the "other" view is this one.
    if (SUCCEEDED(classRemoved) && !RegisteredInOtherView(served.classKey)) {
      keepFirstFailure(RemoveTree(served.progId));
    }
  }
  keepFirstFailure(RemoveTypeLibrary(LibraryOf(kRegistrationRecord, kTargetSystem)));
  return result;
}

}  // namespace automation
