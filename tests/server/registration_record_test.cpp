// The registration record byte for byte: every field is read back at its fixed offset,
// little-endian, as the registration code and any other reader of the record find it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "com_types/identity.h"
#include "automation/registration_record.h"

namespace {

using automation::kRegistrationRecord;

const uint8_t* Bytes() { return reinterpret_cast<const uint8_t*>(&kRegistrationRecord); }

uint32_t Dword(size_t offset) {
  const uint8_t* at = Bytes() + offset;
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}
uint16_t Word(size_t offset) { return static_cast<uint16_t>(Bytes()[offset] | Bytes()[offset + 1] << 8); }
std::string TextAt(size_t offset) { return reinterpret_cast<const char*>(Bytes() + offset); }
// A GUID in its stored form: Data1-3 little-endian, Data4 as bytes.
GUID GuidAt(size_t offset) {
  GUID guid;
  guid.Data1 = Dword(offset);
  guid.Data2 = Word(offset + 4);
  guid.Data3 = Word(offset + 6);
  memcpy(guid.Data4, Bytes() + offset + 8, 8);
  return guid;
}

TEST(RegistrationRecord, HeaderDescribesTheTypeLibrary) {
  EXPECT_EQ(Dword(0), 72u);  // first class entry
  ASSERT_EQ(Dword(4), 48u);
  EXPECT_EQ(TextAt(48), "Voskini15T");
  ASSERT_EQ(Dword(8), 64u);
  EXPECT_EQ(TextAt(64), "");  // help directory
  EXPECT_EQ(Dword(12), 0u);   // no library description
  EXPECT_EQ(GuidAt(16), com_types::kLibraryId);
  EXPECT_EQ(Dword(32), 0u);  // locale
  EXPECT_EQ(Word(36), 0u);
  EXPECT_EQ(Word(38), 6u);  // version 6.0
  EXPECT_EQ(Word(40), 0u);
}

TEST(RegistrationRecord, TheOneClassEntryDescribesTolvane) {
  constexpr size_t entry = 72;
  EXPECT_EQ(Dword(entry + 0), 0u);  // the last entry
  ASSERT_EQ(Dword(entry + 4), 144u);
  EXPECT_EQ(TextAt(144), "Tolvane");
  EXPECT_EQ(Dword(entry + 8), 0u);   // no description
  EXPECT_EQ(Dword(entry + 12), 2u);  // creatable by clients
  EXPECT_EQ(Dword(entry + 16), 0u);  // first class of the project
  EXPECT_EQ(GuidAt(entry + 20), com_types::kClassId);
  EXPECT_EQ(GuidAt(92), com_types::kClassId);
  EXPECT_EQ(Dword(entry + 36), 1u);  // has a default interface
  ASSERT_EQ(Dword(entry + 40), 152u);
  EXPECT_EQ(GuidAt(152), com_types::kInterfaceId);
  EXPECT_EQ(Dword(entry + 44), 0u);  // no event interface
  EXPECT_EQ(Dword(entry + 48), 0u);
  EXPECT_EQ(Dword(entry + 52), 0u);  // no OLE miscellaneous status bits
}

TEST(RegistrationRecord, AccessorsFollowTheOffsets) {
  const auto& record = kRegistrationRecord;
  EXPECT_STREQ(automation::RecordField<char>(record, record.libraryNameOffset), "Voskini15T");
  EXPECT_EQ(automation::RecordField<char>(record, record.libraryDescriptionOffset), nullptr);
  const automation::ClassEntry* tolvane =
      automation::RecordField<automation::ClassEntry>(record, record.firstClassOffset);
  ASSERT_EQ(reinterpret_cast<const uint8_t*>(tolvane), Bytes() + 72);
  EXPECT_EQ(automation::RecordField<automation::ClassEntry>(record, tolvane->nextClassOffset), nullptr);
  EXPECT_STREQ(automation::RecordField<char>(record, tolvane->classNameOffset), "Tolvane");
}

}  // namespace
