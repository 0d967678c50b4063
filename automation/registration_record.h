// The registration record: the type library and the creatable classes that registration
// works from, laid out byte for byte (little-endian; offsets count from the record's
// start; texts are NUL-terminated single-byte strings).
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace automation {

// An offset that names nothing: no such text or GUID, or no further class.
inline constexpr uint32_t kNoField = 0;
// The instancing of a class that clients may create.
inline constexpr uint32_t kCreatableByClients = 2;

#pragma pack(push, 1)
struct ClassEntry {
  uint32_t nextClassOffset;
  uint32_t classNameOffset;
  uint32_t classDescriptionOffset;
  uint32_t instancing;
  uint32_t projectIndex;  // the class's place among the project's classes, from 0
  GUID classId;
  uint32_t hasDefaultInterface;
  uint32_t defaultInterfaceIdOffset;
  uint32_t eventInterfaceIdOffset;
  uint32_t hasEventInterface;
  uint32_t miscStatus;  // OLEMISC bits
};

struct RegistrationRecord {
  uint32_t firstClassOffset;
  uint32_t libraryNameOffset;
  uint32_t helpDirectoryOffset;
  uint32_t libraryDescriptionOffset;
  GUID libraryId;
  uint32_t libraryLocale;
  uint16_t reserved;
  uint16_t libraryMajorVersion;
  uint16_t libraryMinorVersion;
  uint8_t gap42[6] = {};
  std::array<char, 16> libraryName;
  std::array<char, 8> helpDirectory;
  ClassEntry tolvane;
  uint8_t gap128[16] = {};
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

// The field at `offset` in the record (a text, a class entry, a GUID), or nullptr for kNoField.
template <typename Field>
const Field* RecordField(const RegistrationRecord& record, uint32_t offset) {
  const auto* start = reinterpret_cast<const uint8_t*>(&record);
  return offset == kNoField ? nullptr : reinterpret_cast<const Field*>(start + offset);
}

}  // namespace automation
