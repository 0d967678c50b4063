#include "automation/registration_record.h"

#include "com_types/identity.h"

namespace automation {

using com_types::kClassId;
using com_types::kClassName;
using com_types::kHelpDirectory;
using com_types::kInterfaceId;
using com_types::kLibraryId;
using com_types::kLibraryMajorVersion;
using com_types::kLibraryMinorVersion;
using com_types::kLibraryName;
using com_types::NarrowName;

namespace {

const uint8_t* Base(const RegistrationRecord& record) { return reinterpret_cast<const uint8_t*>(&record); }

}  // namespace

constinit const RegistrationRecord kRegistrationRecord = {
    .firstClassOffset = offsetof(RegistrationRecord, tolvane),
    .libraryNameOffset = offsetof(RegistrationRecord, libraryName),
    .helpDirectoryOffset = offsetof(RegistrationRecord, helpDirectory),
    .libraryDescriptionOffset = kNoField,
    .libraryId = kLibraryId,
    .libraryLocale = LOCALE_NEUTRAL,
    .reserved = 0,
    .libraryMajorVersion = kLibraryMajorVersion,
    .libraryMinorVersion = kLibraryMinorVersion,
    .libraryName = NarrowName<16>(kLibraryName),
    .helpDirectory = NarrowName<8>(kHelpDirectory),
    .tolvane =
        {
            .nextClassOffset = kNoField,
            .classNameOffset = offsetof(RegistrationRecord, tolvaneName),
            .classDescriptionOffset = kNoField,
            .instancing = kCreatableByClients,
            .projectIndex = 0,
            .classId = kClassId,
            .hasDefaultInterface = true,
            .defaultInterfaceIdOffset = offsetof(RegistrationRecord, tolvaneDefaultInterfaceId),
            .eventInterfaceIdOffset = kNoField,
            .hasEventInterface = false,
            .miscStatus = 0,
        },
    .tolvaneName = NarrowName<8>(kClassName),
    .tolvaneDefaultInterfaceId = kInterfaceId,
};

const char* RecordText(const RegistrationRecord& record, uint32_t offset) {
  return offset ? reinterpret_cast<const char*>(Base(record) + offset) : nullptr;
}

const ClassEntry* RecordClass(const RegistrationRecord& record, uint32_t offset) {
  return offset ? reinterpret_cast<const ClassEntry*>(Base(record) + offset) : nullptr;
}

const GUID* RecordGuid(const RegistrationRecord& record, uint32_t offset) {
  return offset ? reinterpret_cast<const GUID*>(Base(record) + offset) : nullptr;
}

}  // namespace automation
