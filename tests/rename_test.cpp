// RenameKey and RenameSection: a key or a whole section moves under a new name with its
// values exactly as the file holds them, and nothing is lost when the move cannot be made.
#include "automation/tolvane_object.h"
#include "tests/support/test_support.h"

using test_support::Text;

namespace {

class Rename : public test_support::TolvaneTest {};

const std::string kLong(300, 'v');  // longer than a single read can return

// ---- RenameKey ------------------------------------------------------------------------

// Blanks at the ends of a name do not count, as in the service's key lookup. The empty
// section name, and so one of blanks only, names the keys above every header.
TEST_F(Rename, RenameKeyMovesTheValueToTheNewName) {
  struct Case {
    const wchar_t *section, *current, *renamed;
    std::string header = "[s]\r\n";
  };
  const Case cases[] = {
      {L"s", L"a", L"c"},
      {L" s", L"a", L"c"},
      {L"s\f", L"a", L"c"},
      {L"s", L" a", L"c"},
      {L"s", L"\ta", L"c"},
      {L"s", L"a\v", L"c"},
      {L"s",
       L"\x1a"
       L"a",
       L"c"},
      {L"s", L"a", L" c"},
      {L"s", L"a", L"c "},
      {L"s", L"a", L"c\t"},
      {L"", L"a", L"c", ""},
      {L" \v", L"a", L"c", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.section) + L", " + c.current + L" -> " + c.renamed));
    GivenFile(c.header + "a=1\r\nb=2\r\n[t]\r\na=3\r\n");
    RenameKey(c.section, c.current, c.renamed);
    EXPECT_EQ(FileBytes(), c.header + "b=2\r\nc=1\r\n[t]\r\na=3\r\n");
  }
}

TEST_F(Rename, RenameKeyOntoAnExistingKeyReplacesItsValue) {
  GivenFile("[s]\r\nold=1\r\nnew=2\r\nz=3\r\n");
  RenameKey(L"s", L"old", L"new");
  EXPECT_EQ(FileBytes(), "[s]\r\nnew=1\r\nz=3\r\n");
}

TEST_F(Rename, RenameKeyMovesTheValueExactlyAsStored) {
  for (const std::string& stored : {std::string(), kLong, std::string("\"  a  b  \""), std::string("x=y;z")}) {
    SCOPED_TRACE(stored);
    GivenFile("[s]\r\nold=" + stored + "\r\nz=1\r\n");
    RenameKey(L"s", L"old", L"new");
    EXPECT_EQ(FileBytes(), "[s]\r\nz=1\r\nnew=" + stored + "\r\n");
  }
}

// The blank line in these files would not survive any write.
TEST_F(Rename, RenameKeyChangesNothingWhenThereIsNothingToMove) {
  constexpr char kFile[] = "[s]\r\nkey=1\r\nnew=keep\r\n\r\n[t]\r\nk=2\r\n";
  struct Case {
    const wchar_t *section, *current, *renamed;
  };
  const Case cases[] = {
      {L"s", L"key", L"KEY"},                                    // the same key to the service
      {L"s", L"key", L"  Key "},                                 // likewise
      {L"s", L"key", L"key\v"},                                  // likewise: the service trims VT, FF and 0x1A too
      {L"s", L"key", L"\f\x1aKEY"}, {L"s", L"missing", L"new"},  // the key under the new name keeps its value
      {L"missing", L"key", L"new"},                              // no such section
      {L"s", L"key", L"a=b"},                                    // a new name that may not be written
      {L"s", L"key", L";key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.current)) + " -> " +
                 testing::PrintToString(std::wstring(c.renamed)));
    GivenFile(kFile);
    RenameKey(c.section, c.current, c.renamed);
    EXPECT_EQ(FileBytes(), kFile);
  }
}

// An absent key name stands for the whole section to the service, and an empty name
// writes a key or section without one: a rename refuses both and writes nothing. The
// line "=0" is a key with an empty name, which the absent name would otherwise match.
TEST_F(Rename, RenamesRefuseNamesThatNameNothing) {
  constexpr char kFile[] = "[t]\r\na=1\r\n=0\r\n\r\n[u]\r\nk=3\r\n";
  struct Case {
    bool section;  // RenameSection, else RenameKey in [t]
    Text current, renamed;
    std::wstring naming;
  };
  const Case cases[] = {
      {false, L"a", std::nullopt, L"new key name"}, {false, L"a", L"", L"new key name"},
      {false, L"a", L" \t ", L"new key name"},      {false, std::nullopt, L"b", L"current key name"},
      {false, L"", L"b", L"current key name"},      {true, L"t", std::nullopt, L"new section name"},
      {true, L"t", L"", L"new section name"},       {true, L"t", L"  ", L"new section name"},
      {false, L"a", L"\v", L"new key name"},        {false, L"a", L"\x1a", L"new key name"},
      {true, L"t", L"\v\f", L"new section name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.current) + " -> " + testing::PrintToString(c.renamed));
    GivenFile(kFile);
    if (c.section) {
      RenameSection(c.current, c.renamed);
    } else {
      RenameKey(L"t", c.current, c.renamed);
    }
    EXPECT_EQ(FileBytes(), kFile);
    const std::wstring message = LastError().value_or(L"");
    EXPECT_EQ(message.rfind(L"Refused to write:", 0), 0u) << testing::PrintToString(message);
    EXPECT_NE(message.find(c.naming), std::wstring::npos) << testing::PrintToString(message);
  }
}

// RenameKey stands for a read, a write and a delete, and leaves LastErrorA as they would.
TEST_F(Rename, RenameKeyLeavesLastErrorAAsItsReadWould) {
  RenameKey(L"s", L"a", L"b");
  EXPECT_EQ(LastError(), L"Missing IniFilename");

  struct Case {
    const char* label;
    std::wstring file;
    const wchar_t* section;
  };
  const Case cases[] = {
      {"missing key", file_, L"s"},
      {"missing section", file_, L"none"},
      {"missing file", folder_.PathOf(L"absent.ini"), L"s"},
      {"empty value", file_, L"e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    GivenFile("[s]\r\nother=1\r\n[e]\r\na=\r\n");
    UseFile(c.file);
    ReadValue(c.section, L"a");
    const Text expected = LastError();
    UseFile(L"");
    ReadValue(L"s", L"a");  // "Missing IniFilename" again
    UseFile(c.file);
    RenameKey(c.section, L"a", L"b");
    EXPECT_EQ(LastError(), expected);
    EXPECT_NE(expected, L"Missing IniFilename");
    EXPECT_EQ(FileBytes(),
              c.section == std::wstring(L"e") ? "[s]\r\nother=1\r\n[e]\r\nb=\r\n" : "[s]\r\nother=1\r\n[e]\r\na=\r\n");
  }
}

// ---- RenameSection --------------------------------------------------------------------

// Blanks at the ends of either name do not count, into a new section or an existing one.
const std::vector<std::pair<const wchar_t*, const wchar_t*>> kSectionRenames = {
    {L"old", L"new"},  {L" old", L"new"},  {L"old\x1a", L"new"}, {L"old", L" new"},
    {L"old", L"new "}, {L"old", L"new\t"}, {L"\vold", L"\fnew"},
};

TEST_F(Rename, RenameSectionMovesEveryKeyToANewSection) {
  for (const auto& [current, renamed] : kSectionRenames) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(current) + L" -> " + renamed));
    GivenFile("[old]\r\nx=1\r\ny=2\r\n[t]\r\nk=1\r\n");
    RenameSection(current, renamed);
    EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n[new]\r\nx=1\r\ny=2\r\n");
  }
}

TEST_F(Rename, RenameSectionIntoAnExistingSectionReplacesSameNamedKeysAndKeepsTheOthers) {
  for (const auto& [current, renamed] : kSectionRenames) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(current) + L" -> " + renamed));
    GivenFile("[old]\r\nx=1\r\ny=2\r\n[new]\r\nY=9\r\nz=3\r\n");
    RenameSection(current, renamed);
    EXPECT_EQ(FileBytes(), "[new]\r\nY=2\r\nz=3\r\nx=1\r\n");
  }
  // A section whose name holds "]" gets no new header.
  GivenFile("[old]\r\nx=1\r\n[n]ew]\r\nz=3\r\n");
  RenameSection(L"old", L"n]ew");
  EXPECT_EQ(FileBytes(), "[n]ew]\r\nz=3\r\nx=1\r\n");
}

TEST_F(Rename, RenameSectionMovesValuesExactlyAsStored) {
  const std::string entries = "long=" + kLong + "\r\nempty=\r\nquoted=\" a  b \"\r\nk=a=b\r\n";
  GivenFile("[old]\r\n" + entries + "[t]\r\nk=1\r\n");
  RenameSection(L"old", L"new");
  EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n[new]\r\n" + entries);

  GivenFile("[old]\r\n" + entries + "[new]\r\nz=1\r\n");
  RenameSection(L"old", L"new");
  EXPECT_EQ(FileBytes(), "[new]\r\nz=1\r\n" + entries);
}

TEST_F(Rename, RenameSectionMovesLongSectionsWhole) {
  // 200 ten-character names overflow a 1024-character name list; 3000 entries a
  // 32767-character section list.
  for (const int count : {200, 3000}) {
    SCOPED_TRACE(count);
    std::string entries;
    for (int i = 0; i < count; ++i) {
      char line[32];
      snprintf(line, sizeof line, "key%07d=value%05d\r\n", i, i);
      entries += line;
    }
    GivenFile("[old]\r\n" + entries + "[t]\r\nk=1\r\n");
    RenameSection(L"old", L"new");
    const std::string expected = "[t]\r\nk=1\r\n[new]\r\n" + entries;
    const auto bytes = FileBytes();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), expected.size());
    EXPECT_TRUE(*bytes == expected);
  }
}

TEST_F(Rename, RenameSectionOfAnEmptySectionLeavesAnEmptySectionUnderTheNewName) {
  for (const auto& [current, renamed] :
       {std::pair(L"e", L"new"), std::pair(L"e ", L"\tnew"), std::pair(L" e", L"new\x1a")}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(current) + L" -> " + renamed));
    GivenFile("[e]\r\n[t]\r\nk=1\r\n");
    RenameSection(current, renamed);
    EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n[new]\r\n");
  }
}

// When a section cannot be moved whole it stays where it is and nothing is written.
// The blank lines in these files would not survive any write.
TEST_F(Rename, RenameSectionChangesNothingWhenItCannotMoveEverything) {
  constexpr char kFile[] = "[old]\r\nx=1\r\n\r\n[e]\r\n\r\n[n]ew]\r\nz=3\r\n";
  struct Case {
    std::string file;
    const wchar_t *current, *renamed;
  };
  const Case cases[] = {
      {kFile, L"old", L"OLD"},      // the same section to the service
      {kFile, L"old", L" Old  "},   // likewise
      {kFile, L"old", L"old\f"},    // likewise
      {kFile, L"missing", L"new"},  // no such section: none is created
      // "]" in the name of a section the rename would start, for keys and for none.
      {kFile, L"old", L"m]"},
      {kFile, L"e", L"m]"},
      // A stored key that may not be written under the new name (the service reads
      // the line "[y=2" as key "[y"): no key is copied, into a new or an existing section.
      {"[old]\r\nx=1\r\n[y=2\r\n\r\n[t]\r\nk=1\r\n", L"old", L"new"},
      {"[old]\r\nx=1\r\n[y=2\r\n\r\n[t]\r\nk=1\r\n", L"old", L"t"},
      // A line without "=" cannot be carried by any key: the section stays whole.
      {"[old]\r\nx=1\r\nstray\r\n\r\n[t]\r\nk=1\r\n", L"old", L"new"},
      {"[old]\r\nx=1\r\nstray\r\n\r\n[t]\r\nk=1\r\n", L"old", L"t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file) + " " + testing::PrintToString(std::wstring(c.current)) + " -> " +
                 testing::PrintToString(std::wstring(c.renamed)));
    GivenFile(c.file);
    RenameSection(c.current, c.renamed);
    EXPECT_EQ(FileBytes(), c.file);
  }
}

TEST_F(Rename, RenameSectionSaysWhyItKeptTheSection) {
  GivenFile("[old]\r\nx=1\r\n");
  RenameSection(L"old", L"n]ew");
  EXPECT_EQ(LastError()->rfind(L"Refused to write:", 0), 0u);
  GivenFile("[old]\r\nx=1\r\nstray\r\n");
  RenameSection(L"old", L"new");
  EXPECT_NE(LastError()->find(L"without \"=\""), std::wstring::npos);
}

// Of two lines with one key name, readers only ever see the first; so does its copy.
TEST_F(Rename, RenameSectionIntoAnExistingSectionCopiesTheValueReadersSee) {
  GivenFile("[old]\r\na=1\r\nA=2\r\n[t]\r\nk=1\r\n");
  RenameSection(L"old", L"t");
  EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\na=1\r\n");
}

}  // namespace

// More lines than a 16-bit count reaches: the renames read such sections whole.
TEST(RenameHugeSection, RenameKeyFindsAKeyBeyond32767Lines) {
  test_support::IniFolder folder;
  const std::wstring path = folder.PathOf(L"huge.ini");
  std::string file = "[big]\r\n";
  for (int i = 0; i < 33000; ++i) file.append("k").append(std::to_string(i)).append("=v\r\n");
  test_support::WriteBytes(path, file);

  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    com_types::ComPtr<_Tolvane> object(automation::CreateTolvaneObject());
    test_support::UniqueBstr name = test_support::Bstr(path), section = test_support::Bstr(L"big"),
                             current = test_support::Bstr(L"k32999"), renamed = test_support::Bstr(L"moved");
    ASSERT_EQ(object->put_IniFileName(name.InOut()), S_OK);
    EXPECT_EQ(object->RenameKey(section.Get(), current.Get(), renamed.Get()), S_OK);
  }
  CoUninitialize();
  const std::string after = test_support::ReadBytes(path).value_or("");
  EXPECT_EQ(after.find("k32999="), std::string::npos);
  EXPECT_NE(after.find("\r\nmoved=v\r\n"), std::string::npos);
}
