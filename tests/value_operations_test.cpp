// Single keys: ReadValue, WriteValue, CreateKeyAndValue, DeleteKey, and the file-name
// guard and error capture around them, against real files.
#include "tests/support/test_support.h"

using test_support::Bstr;
using test_support::Text;
using test_support::TextOf;
using test_support::UniqueBstr;

namespace {

class ValueOperations : public test_support::TolvaneTest {};

// Empty texts, never the absent one: a C++ caller may take either result as a string.
TEST_F(ValueOperations, NewObjectHasNoFileNameAndNoError) {
  BSTR name = reinterpret_cast<BSTR>(1);
  ASSERT_EQ(object_->get_IniFileName(&name), S_OK);
  EXPECT_EQ(TextOf(UniqueBstr(name).Get()), L"");
  EXPECT_EQ(LastError(), L"");
}

TEST_F(ValueOperations, ReadsAndWritesKeysInTheFileSyntax) {
  GivenFile("[s1]\r\na=1\r\nquoted=\" spaced \"\r\n");
  EXPECT_EQ(ReadValue(L"s1", L"a"), L"1");
  EXPECT_EQ(ReadValue(L"S1", L"A"), L"1");  // the service ignores case
  EXPECT_EQ(ReadValue(L"s1", L"quoted"), L" spaced ");
  EXPECT_TRUE(WriteValue(L"s1", L"b", L"2"));
  EXPECT_TRUE(CreateKeyAndValue(L"s2", L"c", L"3"));
  EXPECT_EQ(FileBytes(), "[s1]\r\na=1\r\nquoted=\" spaced \"\r\nb=2\r\n[s2]\r\nc=3\r\n");
}

TEST_F(ValueOperations, SuccessNeverClearsTheLastError) {
  ReadValue(L"s", L"k");  // no file name yet
  GivenFile("[s]\r\nk=v\r\n");
  EXPECT_EQ(ReadValue(L"s", L"k"), L"v");
  EXPECT_TRUE(WriteValue(L"s", L"k2", L"v2"));
  EXPECT_EQ(LastError(), L"Missing IniFilename");
}

TEST_F(ValueOperations, MissingAndEmptyValuesReadAsTheAbsentTextAndRunTheCapture) {
  GivenFile("[s]\r\nempty=\r\n");
  EXPECT_EQ(ReadValue(L"s", L"nokey"), std::nullopt);
  EXPECT_EQ(LastError(), L"Unknown Error");  // the service reports no error code
  ReadValue(L"s", L"k");
  EXPECT_EQ(ReadValue(L"s", L"empty"), std::nullopt);
}

TEST_F(ValueOperations, AMissingFileStoresTheSystemMessageUntrimmed) {
  UseFile(folder_.PathOf(L"absent.ini"));
  EXPECT_EQ(ReadValue(L"s", L"k"), std::nullopt);
  const Text message = LastError();
  ASSERT_TRUE(message && !message->empty());
  EXPECT_NE(*message, L"Unknown Error");
  EXPECT_EQ(message->back(), L'\n');
}

TEST_F(ValueOperations, AbsentKeyReadsTheFirstKeyName) {
  GivenFile("[s]\r\nfirst=1\r\nsecond=2\r\n");
  EXPECT_EQ(ReadValue(L"s", std::nullopt), L"first");
}

TEST_F(ValueOperations, LongValuesReadBackCutTo254Characters) {
  GivenFile("[s]\r\nlong=" + std::string(300, 'x') + "\r\n");
  EXPECT_EQ(ReadValue(L"s", L"long"), std::wstring(254, L'x'));
}

TEST_F(ValueOperations, AbsentValueDeletesTheKeyAndAbsentKeyTheSection) {
  GivenFile("[s]\r\na=1\r\nb=2\r\n[t]\r\nc=3\r\n");
  EXPECT_TRUE(WriteValue(L"s", L"a", std::nullopt));
  EXPECT_EQ(FileBytes(), "[s]\r\nb=2\r\n[t]\r\nc=3\r\n");
  EXPECT_TRUE(CreateKeyAndValue(L"s", std::nullopt, L"ignored"));
  EXPECT_EQ(FileBytes(), "[t]\r\nc=3\r\n");
}

TEST_F(ValueOperations, DeleteKeyIsSilent) {
  GivenFile("[s]\r\na=1\r\nb=2\r\n");
  DeleteKey(L"s", L"a");
  DeleteKey(L"s", L"missing");
  DeleteKey(L"missing", L"a");
  EXPECT_EQ(FileBytes(), "[s]\r\nb=2\r\n");
  EXPECT_EQ(LastError().value_or(L""), L"");
}

// Where no lock file can be made (its name is taken by a folder), or it holds bytes that
// are not a journal of this file (a user's own file of that name, or the journal of
// another), a write goes ahead without a journal, and never touches those bytes; nor a file
// at the name of earlier releases' journals.
TEST_F(ValueOperations, AWriteWithoutAJournalStillWritesAndTouchesNoOtherFile) {
  const std::string foreign = "my own notes, 35 bytes long, ok?\r\n";
  for (const bool folder : {true, false}) {
    SCOPED_TRACE(folder ? "a folder at the lock file's name" : "a text at the lock file's name");
    GivenFile("[s]\r\nk=v\r\n");
    const std::wstring lockFile = file_ + L"-lock", oldJournal = file_ + L"-journal";
    test_support::WriteBytes(oldJournal, foreign);
    if (folder) {
      ASSERT_TRUE(CreateDirectoryW(lockFile.c_str(), nullptr));
    } else {
      test_support::WriteBytes(lockFile, foreign);
    }
    EXPECT_TRUE(WriteValue(L"s", L"k", L"new"));
    EXPECT_EQ(ReadValue(L"s", L"k"), Text(L"new"));
    EXPECT_EQ(FileBytes(), "[s]\r\nk=new\r\n");
    EXPECT_EQ(test_support::ReadBytes(oldJournal), foreign);
    if (!folder) {
      EXPECT_EQ(test_support::ReadBytes(lockFile), foreign);
    }
    RemoveDirectoryW(lockFile.c_str());
    DeleteFileW(lockFile.c_str());
  }
}

TEST_F(ValueOperations, ByReferenceTextComesBackAsTheServiceSawIt) {
  GivenFile("[s]\r\n");
  UniqueBstr section = Bstr(L"s"), key = Bstr(L"k\u4e00"), value = Bstr(L"v\u4e01");
  VARIANT_BOOL written = VARIANT_FALSE;
  ASSERT_EQ(object_->WriteValue(section.InOut(), key.InOut(), value.InOut(), &written), S_OK);
  EXPECT_EQ(written, VARIANT_TRUE);
  // Characters outside code page 1252 come back in their converted form.
  EXPECT_EQ(TextOf(key.Get()), L"k?");
  EXPECT_EQ(TextOf(value.Get()), L"v?");

  // By-value texts are never changed.
  UniqueBstr byValue = Bstr(L"k\u0100");
  BSTR before = byValue.Get();
  EXPECT_EQ(object_->DeleteKey(section.Get(), byValue.Get()), S_OK);
  EXPECT_EQ(byValue.Get(), before);
  EXPECT_EQ(TextOf(byValue.Get()), L"k\u0100");
}

// Other programs write "\u0141\u00f3d\u017a" through the platform's ordinary conversion, as "L\xf3dz".
TEST_F(ValueOperations, NamesOutsideTheCodePageFindWhatOtherProgramsWrote) {
  const std::wstring lodz = L"\u0141\u00f3d\u017a";
  test_support::WriteBytes(folder_.PathOf(L"L\u00f3dz.ini"),
                           "[L\xf3"
                           "dz]\r\nL\xf3"
                           "dz=1\r\n");
  UseFile(folder_.PathOf(lodz + L".ini"));
  EXPECT_EQ(ReadValue(lodz, lodz), L"1");
  EXPECT_TRUE(WriteValue(lodz, L"k", lodz));
  EXPECT_EQ(test_support::ReadBytes(folder_.PathOf(L"L\u00f3dz.ini")),
            "[L\xf3"
            "dz]\r\nL\xf3"
            "dz=1\r\nk=L\xf3"
            "dz\r\n");
}

TEST_F(ValueOperations, ANameThatDoesNotExistYetIsAcceptedAndCreatedByAWrite) {
  UseFile(folder_.PathOf(L"new.ini"));
  EXPECT_TRUE(WriteValue(L"s", L"k", L"v"));
  EXPECT_EQ(test_support::ReadBytes(folder_.PathOf(L"new.ini")), "[s]\r\nk=v\r\n");
}

TEST_F(ValueOperations, AFailedWriteReportsTheSystemMessage) {
  UseFile(folder_.PathOf(L"no such folder\\x.ini"));
  EXPECT_FALSE(WriteValue(L"s", L"k", L"v"));
  const Text message = LastError();
  ASSERT_TRUE(message);
  EXPECT_NE(*message, L"Unknown Error");
  EXPECT_NE(*message, L"Missing IniFilename");
}

}  // namespace
