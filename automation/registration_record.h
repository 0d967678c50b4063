// The module's registration record: the description of the type library and of the
// creatable classes that DllRegisterServer and DllUnregisterServer work from. Its
// layout is fixed byte for byte (little-endian; offsets count from the record's start;
// texts are NUL-terminated single-byte strings).
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace automation {

#pragma pack(push, 1)
struct ClassEntry {
  uint32_t nextClassOffset;  // 0 ends the list
  uint32_t classNameOffset;
  uint32_t classDescriptionOffset;  // 0: none
  uint32_t instancing;              // 2: creatable by clients
  uint32_t projectIndex;
  GUID classId;
  uint32_t hasDefaultInterface;
  uint32_t defaultInterfaceIdOffset;
  uint32_t eventInterfaceIdOffset;  // 0: none
  uint32_t hasEventInterface;
  uint32_t miscStatus;
};

struct RegistrationRecord {
  uint32_t firstClassOffset;
  uint32_t libraryNameOffset;
  uint32_t helpDirectoryOffset;
  uint32_t libraryDescriptionOffset;  // 0: none
  GUID libraryId;
  uint32_t libraryLocale;
  uint16_t reserved;
  uint16_t libraryMajorVersion;
  uint16_t libraryMinorVersion;
  uint8_t gap42[6];
  std::array<char, 16> libraryName;
  std::array<char, 8> helpDirectory;
  ClassEntry tolvane;
  uint8_t gap128[16];
  std::array<char, 8> tolvaneName;
  GUID tolvaneDefaultInterfaceId;
};
#pragma pack(pop)

static_assert(sizeof(ClassEntry) == 56);
static_assert(offsetof(RegistrationRecord, libraryId) == 16);
static_assert(offsetof(RegistrationRecord, libraryMajorVersion) == 38);
static_assert(offsetof(RegistrationRecord, libraryName) == 48);
static_assert(offsetof(RegistrationRecord, helpDirectory) == 64);
static_assert(offsetof(RegistrationRecord, tolvane) == 72);
static_assert(offsetof(RegistrationRecord, tolvaneName) == 144);
static_assert(offsetof(RegistrationRecord, tolvaneDefaultInterfaceId) == 152);

extern const RegistrationRecord kRegistrationRecord;

// A text field of the record, found through its offset; nullptr for offset 0.
const char* RecordText(const RegistrationRecord& record, uint32_t offset);
// The class entry at `offset`, or nullptr for offset 0.
const ClassEntry* RecordClass(const RegistrationRecord& record, uint32_t offset);
// A GUID of the record (such as a class's default interface), or nullptr for offset 0.
const GUID* RecordGuid(const RegistrationRecord& record, uint32_t offset);

}  // namespace automation
