#include "automation/registration.h"

#include <oleauto.h>

#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/owners.h"
#include "automation/registration_record.h"
#include "automation/type_information.h"

namespace automation {

using com_types::ComPtr;
using com_types::kTargetSystem;

namespace {

struct RegistryValue {
  std::wstring key;  // under HKEY_CLASSES_ROOT
  const wchar_t* name;  // nullptr: the key's default value
  std::wstring data;
};

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

struct ClassKeys {
  std::wstring classId;   // {...}
  std::wstring classKey;  // CLSID\{...}
  std::wstring progId;    // library name "." class name
};

std::vector<ClassKeys> ClassesOf(const RegistrationRecord& record) {
  std::vector<ClassKeys> classes;
  const std::wstring library = Widen(RecordText(record, record.libraryNameOffset));
  for (const ClassEntry* entry = RecordClass(record, record.firstClassOffset); entry;
       entry = RecordClass(record, entry->nextClassOffset)) {
    const std::wstring classId = GuidText(entry->classId);
    classes.push_back({classId, L"CLSID\\" + classId, library + L"." + Widen(RecordText(record, entry->classNameOffset))});
  }
  return classes;
}

std::vector<RegistryValue> ValuesFor(const RegistrationRecord& record, const std::wstring& modulePath) {
  const std::wstring libraryId = GuidText(record.libraryId);
  const std::wstring version =
      std::to_wstring(record.libraryMajorVersion) + L"." + std::to_wstring(record.libraryMinorVersion);
  std::vector<RegistryValue> values;
  for (const ClassKeys& served : ClassesOf(record)) {
    values.push_back({served.classKey, nullptr, served.progId});
    values.push_back({served.classKey + L"\\InprocServer32", nullptr, modulePath});
    values.push_back({served.classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"});
    values.push_back({served.classKey + L"\\ProgID", nullptr, served.progId});
    values.push_back({served.classKey + L"\\TypeLib", nullptr, libraryId});
    values.push_back({served.classKey + L"\\VERSION", nullptr, version});
    values.push_back({served.progId, nullptr, served.progId});
    values.push_back({served.progId + L"\\CLSID", nullptr, served.classId});
  }
  return values;
}

HRESULT Write(const RegistryValue& value) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()),
                            static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  return HRESULT_FROM_WIN32(status);
}

HRESULT RemoveTree(const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    return S_OK;
  }
  return HRESULT_FROM_WIN32(status);
}

// Class keys live in a 32-bit and a 64-bit registry view, but ProgID keys are shared by
// both: while the DLL of the other kind is registered, its hosts still need the ProgID.
bool RegisteredInOtherView(const std::wstring& classKey) {
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY key = nullptr;
  const std::wstring server = classKey + L"\\InprocServer32";
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, KEY_READ | otherView, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool TypeLibraryRegistered(const RegistrationRecord& record) {
  HKEY key = nullptr;
  const std::wstring name = L"TypeLib\\" + GuidText(record.libraryId);
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace

HRESULT RegisterServer() {
  const RegistrationRecord& record = kRegistrationRecord;
  const std::wstring modulePath = ModulePath();
  if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
  for (const RegistryValue& value : ValuesFor(record, modulePath)) {
    const HRESULT status = Write(value);
    if (FAILED(status)) return status;
  }
  ComPtr<ITypeLib> library;
  HRESULT status = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library.Put());
  if (FAILED(status)) return status;
  std::wstring helpDirectory = Widen(RecordText(record, record.helpDirectoryOffset));
  return RegisterTypeLib(library.Get(), const_cast<wchar_t*>(modulePath.c_str()), helpDirectory.data());
}

HRESULT UnregisterServer() {
  const RegistrationRecord& record = kRegistrationRecord;
  HRESULT result = S_OK;
  for (const ClassKeys& served : ClassesOf(record)) {
    HRESULT status = RemoveTree(served.classKey);
    // Asked only once this module's class key is gone: where there is one registry
    // view (32-bit Windows), the "other" view is this one.
    if (SUCCEEDED(status) && !RegisteredInOtherView(served.classKey)) status = RemoveTree(served.progId);
    if (FAILED(status)) result = status;
  }
  if (TypeLibraryRegistered(record)) {
    const HRESULT status = UnRegisterTypeLib(record.libraryId, record.libraryMajorVersion,
                                             record.libraryMinorVersion, record.libraryLocale, kTargetSystem);
    if (FAILED(status)) result = status;
  }
  return result;
}

}  // namespace automation
