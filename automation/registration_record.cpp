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
    offsetof(RegistrationRecord, tolvane),
    offsetof(RegistrationRecord, libraryName),
    offsetof(RegistrationRecord, helpDirectory),
    0,
    kLibraryId,
    0,
    0,
    kLibraryMajorVersion,
    kLibraryMinorVersion,
    {},
    NarrowName<16>(kLibraryName),
    NarrowName<8>(kHelpDirectory),
    {
        0,
        offsetof(RegistrationRecord, tolvaneName),
        0,
        2,
        0,
        kClassId,
        1,
        offsetof(RegistrationRecord, tolvaneDefaultInterfaceId),
        0,
        0,
        0,
    },
    {},
    NarrowName<8>(kClassName),
    kInterfaceId,
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
