#include "automation/registration_table.h"

#include <objbase.h>

#include <cwchar>

#include "com_types/identity.h"

namespace automation {
namespace {

// A text of the record, widened byte by byte; empty for kNoField.
std::wstring RecordText(const RegistrationRecord& record, uint32_t offset) {
  std::wstring wide;
  for (auto* text = RecordField<unsigned char>(record, offset); text && *text; ++text) wide.push_back(*text);
  return wide;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

}  // namespace

std::vector<ClassKeys> ClassesOf(const RegistrationRecord& record) {
  std::vector<ClassKeys> classes;
  const std::wstring library = RecordText(record, record.libraryNameOffset);
  for (const ClassEntry* entry = RecordField<ClassEntry>(record, record.firstClassOffset); entry;
       entry = RecordField<ClassEntry>(record, entry->nextClassOffset)) {
    const std::wstring classId = GuidText(entry->classId);
    const GUID* interfaceId =
        entry->hasDefaultInterface ? RecordField<GUID>(record, entry->defaultInterfaceIdOffset) : nullptr;
    const std::wstring progId = library + L"." + RecordText(record, entry->classNameOffset);
    classes.push_back({classId, L"CLSID\\" + classId, progId,
                       interfaceId ? L"Interface\\" + GuidText(*interfaceId) : std::wstring()});
  }
  return classes;
}

LibraryKeys LibraryOf(const RegistrationRecord& record, SYSKIND system) {
  LibraryKeys keys;
  keys.libraryId = GuidText(record.libraryId);
  keys.version = std::to_wstring(record.libraryMajorVersion) + L"." + std::to_wstring(record.libraryMinorVersion);
  keys.libraryKey = L"TypeLib\\" + keys.libraryId;
  keys.versionKey = keys.libraryKey + L"\\" + keys.version;
  wchar_t locale[16] = {};
  swprintf(locale, 16, L"%lx", static_cast<unsigned long>(record.libraryLocale));
  keys.localeKey = keys.versionKey + L"\\" + locale;
  keys.platformKey = keys.localeKey + (system == SYS_WIN64 ? L"\\win64" : L"\\win32");
  return keys;
}

std::vector<RegistryValue> RegistrationValues(const RegistrationRecord& record, const std::wstring& modulePath,
                                              SYSKIND system) {
  using enum KeyPlace;
  const LibraryKeys library = LibraryOf(record, system);
  const std::wstring marshaller = GuidText(com_types::kTypeLibraryMarshallerId);
  std::vector<RegistryValue> values = {
      {library.versionKey, nullptr, RecordText(record, record.libraryNameOffset), kShared},
      {library.versionKey + L"\\FLAGS", nullptr, std::to_wstring(com_types::kLibraryFlags), kShared},
      {library.versionKey + L"\\HELPDIR", nullptr, RecordText(record, record.helpDirectoryOffset), kShared},
      {library.platformKey, nullptr, modulePath, kKind},
  };
  for (const ClassKeys& served : ClassesOf(record)) {
    values.push_back({served.classKey, nullptr, served.progId, kView});
    values.push_back({served.classKey + L"\\InprocServer32", nullptr, modulePath, kView});
    values.push_back({served.classKey + L"\\InprocServer32", L"ThreadingModel", com_types::kThreadingModel, kView});
    values.push_back({served.classKey + L"\\ProgID", nullptr, served.progId, kView});
    values.push_back({served.classKey + L"\\TypeLib", nullptr, library.libraryId, kView});
    values.push_back({served.classKey + L"\\VERSION", nullptr, library.version, kView});
    values.push_back({served.progId, nullptr, served.progId, kShared});
    values.push_back({served.progId + L"\\CLSID", nullptr, served.classId, kShared});
    if (served.interfaceKey.empty()) continue;
    // The record names the default interface by its IID only; the class has one, _Tolvane.
    values.push_back({served.interfaceKey, nullptr, com_types::kInterfaceName, kView});
    values.push_back({served.interfaceKey + L"\\ProxyStubClsid", nullptr, marshaller, kView});
    values.push_back({served.interfaceKey + L"\\ProxyStubClsid32", nullptr, marshaller, kView});
    values.push_back({served.interfaceKey + L"\\TypeLib", nullptr, library.libraryId, kView});
    values.push_back({served.interfaceKey + L"\\TypeLib", L"Version", library.version, kView});
  }
  return values;
}

}  // namespace automation
