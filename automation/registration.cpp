#include "automation/registration.h"

#include <objbase.h>

#include <cwchar>
#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/registry_key.h"
#include "automation/registration_record.h"
#include "automation/type_information.h"

namespace automation {

using com_types::kTargetSystem;
using com_types::UniqueRegistryKey;

namespace {

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (; text && *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

// A scope's classes root. Keys are named below it and reached from the hive by their
// full path, so that a registry view flag applies to the whole path.
struct ClassesRoot {
  HKEY hive;
  std::wstring Path(const std::wstring& key) const { return L"Software\\Classes\\" + key; }
};

ClassesRoot RootOf(RegistrationScope scope) {
  return {scope == RegistrationScope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER};
}

struct ClassKeys {
  std::wstring classId;       // {...}
  std::wstring classKey;      // CLSID\{...}
  std::wstring progId;        // library name "." class name
  std::wstring interfaceKey;  // Interface\{...} of the default interface; empty when none
};

std::vector<ClassKeys> ClassesOf(const RegistrationRecord& record) {
  std::vector<ClassKeys> classes;
  const std::wstring library = Widen(RecordText(record, record.libraryNameOffset));
  for (const ClassEntry* entry = RecordClass(record, record.firstClassOffset); entry;
       entry = RecordClass(record, entry->nextClassOffset)) {
    const std::wstring classId = GuidText(entry->classId);
    const GUID* interfaceId =
        entry->hasDefaultInterface ? RecordGuid(record, entry->defaultInterfaceIdOffset) : nullptr;
    const std::wstring progId = library + L"." + Widen(RecordText(record, entry->classNameOffset));
    classes.push_back(
        {classId, L"CLSID\\" + classId, progId, interfaceId ? L"Interface\\" + GuidText(*interfaceId) : std::wstring()});
  }
  return classes;
}

// The type library's keys: TypeLib\{libid}\<major>.<minor>\<lcid>\<platform> names this
// module. The 32-bit and the 64-bit DLL share the version key, each under its platform.
struct LibraryKeys {
  std::wstring libraryId;    // {...}
  std::wstring version;      // major.minor
  std::wstring libraryKey;   // TypeLib\{...}
  std::wstring versionKey;   // TypeLib\{...}\6.0
  std::wstring localeKey;    // TypeLib\{...}\6.0\0
  std::wstring platformKey;  // TypeLib\{...}\6.0\0\win32 or \win64
};

LibraryKeys LibraryOf(const RegistrationRecord& record) {
  LibraryKeys keys;
  keys.libraryId = GuidText(record.libraryId);
  keys.version = std::to_wstring(record.libraryMajorVersion) + L"." + std::to_wstring(record.libraryMinorVersion);
  keys.libraryKey = L"TypeLib\\" + keys.libraryId;
  keys.versionKey = keys.libraryKey + L"\\" + keys.version;
  wchar_t locale[16] = {};
  swprintf(locale, 16, L"%lx", static_cast<unsigned long>(record.libraryLocale));
  keys.localeKey = keys.versionKey + L"\\" + locale;
  keys.platformKey = keys.localeKey + (kTargetSystem == SYS_WIN64 ? L"\\win64" : L"\\win32");
  return keys;
}

struct RegistryValue {
  std::wstring key;     // under the scope's classes root
  const wchar_t* name;  // nullptr: the key's default value
  std::wstring data;
};

// Everything registration writes, for either scope.
std::vector<RegistryValue> ValuesFor(const RegistrationRecord& record, const std::wstring& modulePath) {
  const LibraryKeys library = LibraryOf(record);
  const std::wstring marshaller = GuidText(com_types::kTypeLibraryMarshallerId);
  std::vector<RegistryValue> values = {
      {library.versionKey, nullptr, Widen(RecordText(record, record.libraryNameOffset))},
      {library.versionKey + L"\\FLAGS", nullptr, std::to_wstring(com_types::kLibraryFlags)},
      {library.versionKey + L"\\HELPDIR", nullptr, Widen(RecordText(record, record.helpDirectoryOffset))},
      {library.platformKey, nullptr, modulePath},
  };
  for (const ClassKeys& served : ClassesOf(record)) {
    values.push_back({served.classKey, nullptr, served.progId});
    values.push_back({served.classKey + L"\\InprocServer32", nullptr, modulePath});
    values.push_back({served.classKey + L"\\InprocServer32", L"ThreadingModel", com_types::kThreadingModel});
    values.push_back({served.classKey + L"\\ProgID", nullptr, served.progId});
    values.push_back({served.classKey + L"\\TypeLib", nullptr, library.libraryId});
    values.push_back({served.classKey + L"\\VERSION", nullptr, library.version});
    values.push_back({served.progId, nullptr, served.progId});
    values.push_back({served.progId + L"\\CLSID", nullptr, served.classId});
    if (served.interfaceKey.empty()) continue;
    // The record names the default interface by its IID only; the class has one, _Tolvane.
    values.push_back({served.interfaceKey, nullptr, com_types::kInterfaceName});
    values.push_back({served.interfaceKey + L"\\ProxyStubClsid", nullptr, marshaller});
    values.push_back({served.interfaceKey + L"\\ProxyStubClsid32", nullptr, marshaller});
    values.push_back({served.interfaceKey + L"\\TypeLib", nullptr, library.libraryId});
    values.push_back({served.interfaceKey + L"\\TypeLib", L"Version", library.version});
  }
  return values;
}

HRESULT Write(const ClassesRoot& root, const RegistryValue& value) {
  UniqueRegistryKey key;
  LSTATUS status = RegCreateKeyExW(root.hive, root.Path(value.key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, key.Put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(key.Get(), value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()),
                            static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
  }
  return HRESULT_FROM_WIN32(status);
}

HRESULT RemoveTree(const ClassesRoot& root, const std::wstring& key) {
  const std::wstring path = root.Path(key);
  const LSTATUS status = RegDeleteTreeW(root.hive, path.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    RegDeleteKeyW(root.hive, path.c_str());
    return S_OK;
  }
  return HRESULT_FROM_WIN32(status);
}

bool HasSubkeys(const ClassesRoot& root, const std::wstring& key) {
  UniqueRegistryKey opened;
  DWORD subkeys = 0;
  return RegOpenKeyExW(root.hive, root.Path(key).c_str(), 0, KEY_READ, opened.Put()) == ERROR_SUCCESS &&
         RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys > 0;
}

// Class and interface keys live in a 32-bit and a 64-bit registry view, but ProgID keys
// are shared by both: while the DLL of the other kind is registered in the same scope,
// its hosts still need the ProgID.
bool RegisteredInOtherView(const ClassesRoot& root, const std::wstring& classKey) {
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  UniqueRegistryKey opened;
  const std::wstring server = root.Path(classKey + L"\\InprocServer32");
  return RegOpenKeyExW(root.hive, server.c_str(), 0, KEY_READ | otherView, opened.Put()) == ERROR_SUCCESS;
}

// This module's platform key, then the keys above it that no other platform still uses.
HRESULT RemoveTypeLibrary(const ClassesRoot& root, const LibraryKeys& library) {
  HRESULT status = RemoveTree(root, library.platformKey);
  if (SUCCEEDED(status) && !HasSubkeys(root, library.localeKey)) status = RemoveTree(root, library.versionKey);
  if (SUCCEEDED(status) && !HasSubkeys(root, library.libraryKey)) status = RemoveTree(root, library.libraryKey);
  return status;
}

}  // namespace

HRESULT Register(RegistrationScope scope) {
  const ClassesRoot root = RootOf(scope);
  const std::wstring modulePath = ModulePath();
  if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
  for (const RegistryValue& value : ValuesFor(kRegistrationRecord, modulePath)) {
    const HRESULT status = Write(root, value);
    if (FAILED(status)) return status;
  }
  return S_OK;
}

HRESULT Unregister(RegistrationScope scope) {
  const ClassesRoot root = RootOf(scope);
  HRESULT result = S_OK;
  const auto keepFirstFailure = [&result](HRESULT status) {
    if (FAILED(status) && SUCCEEDED(result)) result = status;
  };
  for (const ClassKeys& served : ClassesOf(kRegistrationRecord)) {
    const HRESULT classRemoved = RemoveTree(root, served.classKey);
    keepFirstFailure(classRemoved);
    if (!served.interfaceKey.empty()) keepFirstFailure(RemoveTree(root, served.interfaceKey));
    // Asked only once this module's class key is gone: where there is one registry
    // view (32-bit Windows), the "other" view is this one.
    if (SUCCEEDED(classRemoved) && !RegisteredInOtherView(root, served.classKey)) {
      keepFirstFailure(RemoveTree(root, served.progId));
    }
  }
  keepFirstFailure(RemoveTypeLibrary(root, LibraryOf(kRegistrationRecord)));
  return result;
}

}  // namespace automation
