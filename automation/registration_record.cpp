#include "automation/registration_record.h"

#include "automation/identity.h"

namespace automation {
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
    "Voskini15T",
    "",
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
    "Tolvane",
    kInterfaceId,
};

const char* RecordText(const RegistrationRecord& record, uint32_t offset) {
  return offset ? reinterpret_cast<const char*>(Base(record) + offset) : nullptr;
}

const GUID& RecordGuid(const RegistrationRecord& record, uint32_t offset) {
  return *reinterpret_cast<const GUID*>(Base(record) + offset);
}

const ClassEntry* RecordClass(const RegistrationRecord& record, uint32_t offset) {
  return offset ? reinterpret_cast<const ClassEntry*>(Base(record) + offset) : nullptr;
}

}  // namespace automation
