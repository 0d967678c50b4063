// The one table of what registration writes, keys below a classes root (HKLM or
// HKCU\Software\Classes): the DLL writes it (registration.cpp), and write_registration_files
// makes the per-user script's key list and the installer packages' Registry rows of it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "automation/registration_record.h"

namespace automation {

// Where a key lives between the 32-bit and the 64-bit registry view on 64-bit Windows.
enum class KeyPlace {
  kView,    // below CLSID or Interface, which each view keeps apart: this kind's own
  kKind,    // below a key both views share, named for this kind (TypeLib\...\0\win32 or \win64)
  kShared,  // below a key both views share and both kinds write alike (the ProgID, the
            // type library's version key); it goes only once neither kind is registered
};

struct RegistryValue {
  std::wstring key;     // under the classes root
  const wchar_t* name;  // nullptr: the key's default value
  std::wstring data;
  KeyPlace place;
};

struct ClassKeys {
  std::wstring classId;       // {...}
  std::wstring classKey;      // CLSID\{...}
  std::wstring progId;        // library name "." class name
  std::wstring interfaceKey;  // Interface\{...} of the default interface; empty when none
};

struct LibraryKeys {
  std::wstring libraryId;    // {...}
  std::wstring version;      // major.minor
  std::wstring libraryKey;   // TypeLib\{...}
  std::wstring versionKey;   // TypeLib\{...}\6.0
  std::wstring localeKey;    // TypeLib\{...}\6.0\0
  std::wstring platformKey;  // TypeLib\{...}\6.0\0\win32 or \win64
};

std::vector<ClassKeys> ClassesOf(const RegistrationRecord& record);
// For the module of the given kind (SYS_WIN32 or SYS_WIN64).
LibraryKeys LibraryOf(const RegistrationRecord& record, SYSKIND system);
// Everything registration writes, in order, for the module at `modulePath` of the given kind.
std::vector<RegistryValue> RegistrationValues(const RegistrationRecord& record, const std::wstring& modulePath,
                                              SYSKIND system);

}  // namespace automation
