#include "automation/registration_record.h"

#include "com_types/identity.h"

namespace automation {

constinit const RegistrationRecord kRegistrationRecord = {
    .firstClassOffset = offsetof(RegistrationRecord, tolvane),
    .libraryNameOffset = offsetof(RegistrationRecord, libraryName),
    .helpDirectoryOffset = offsetof(RegistrationRecord, helpDirectory),
    .libraryDescriptionOffset = kNoField,
    .libraryId = com_types::kLibraryId,
    .libraryLocale = LOCALE_NEUTRAL,
    .reserved = 0,
    .libraryMajorVersion = com_types::kLibraryMajorVersion,
    .libraryMinorVersion = com_types::kLibraryMinorVersion,
    .libraryName = com_types::NarrowName<16>(com_types::kLibraryName),
    .helpDirectory = com_types::NarrowName<8>(com_types::kHelpDirectory),
    .tolvane =
        {
            .nextClassOffset = kNoField,
            .classNameOffset = offsetof(RegistrationRecord, tolvaneName),
            .classDescriptionOffset = kNoField,
            .instancing = kCreatableByClients,
            .projectIndex = 0,
            .classId = com_types::kClassId,
            .hasDefaultInterface = true,
            .defaultInterfaceIdOffset = offsetof(RegistrationRecord, tolvaneDefaultInterfaceId),
            .eventInterfaceIdOffset = kNoField,
            .hasEventInterface = false,
            .miscStatus = 0,
        },
    .tolvaneName = com_types::NarrowName<8>(com_types::kClassName),
    .tolvaneDefaultInterfaceId = com_types::kInterfaceId,
};

}  // namespace automation
