// SectionWriteAtOnce, SectionAdd and DeleteSection: whole sections written, added and
// removed, as the file's bytes show them.
#include "profile_object/fault.h"
#include "tests/support/test_support.h"

using test_support::Text;
using test_support::TextArray;
using test_support::UniqueSafeArray;

namespace {

using profile_object::kSubscriptOutOfRange;

class SectionWrite : public test_support::TolvaneTest {
 protected:
  test_support::SectionWriteOutcome Write(const Text& section, const UniqueSafeArray& keys,
                                          const UniqueSafeArray& values) {
    return SectionWriteAtOnce(section, keys.Get(), values.Get());
  }
};

// ---- SectionWriteAtOnce ---------------------------------------------------------------

TEST_F(SectionWrite, WritesTheSectionAndReturnsTheLastIndex) {
  GivenFile("[t]\r\nk=1\r\n");
  const auto call = Write(L"s", TextArray({L"a", L"b"}), TextArray({L"1", L"2"}));
  EXPECT_EQ(call.status, S_OK);
  EXPECT_EQ(call.result, 1);
  EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n[s]\r\na=1\r\nb=2\r\n");
}

TEST_F(SectionWrite, ReplacesTheWholeSection) {
  GivenFile("[s]\r\nold=1\r\na=0\r\n[t]\r\nk=1\r\n");
  const auto call = Write(L"s", TextArray({L"a", L"b"}), TextArray({L"1", L"2"}));
  EXPECT_EQ(call.result, 1);
  EXPECT_EQ(FileBytes(), "[s]\r\na=1\r\nb=2\r\n[t]\r\nk=1\r\n");
}

TEST_F(SectionWrite, OnlyTheUpperBoundsMustAgree) {
  // Keys 1..2 with Values 0..2: pairs are taken at the indices of Keys.
  GivenFile("");
  auto call = Write(L"s", TextArray({L"a", L"b"}, 1), TextArray({L"0", L"1", L"2"}));
  EXPECT_EQ(call.status, S_OK);
  EXPECT_EQ(call.result, 2);
  EXPECT_EQ(FileBytes(), "[s]\r\na=1\r\nb=2\r\n");

  // Values -5..2 covers every index of Keys 0..2.
  GivenFile("");
  call =
      Write(L"s", TextArray({L"a", L"b", L"c"}), TextArray({L"-5", L"-4", L"-3", L"-2", L"-1", L"0", L"1", L"2"}, -5));
  EXPECT_EQ(call.status, S_OK);
  EXPECT_EQ(call.result, 2);
  EXPECT_EQ(FileBytes(), "[s]\r\na=0\r\nb=1\r\nc=2\r\n");
}

TEST_F(SectionWrite, DifferentUpperBoundsAreRefusedWithAMessage) {
  constexpr char kFile[] = "[s]\r\nk=1\r\n";
  GivenFile(kFile);
  const auto call = Write(L"s", TextArray({L"a", L"b"}), TextArray({L"1", L"2", L"3"}));
  EXPECT_EQ(call.status, S_OK);
  EXPECT_EQ(call.result, 0);
  EXPECT_EQ(LastError(), L"Key array is not the same size as Value array");
  EXPECT_EQ(FileBytes(), kFile);
}

TEST_F(SectionWrite, UnallocatedOrTooShortArraysFaultWithoutWriting) {
  constexpr char kFile[] = "[s]\r\nk=1\r\n";
  struct Case {
    const char* name;
    UniqueSafeArray keys, values;
  };
  Case cases[] = {
      {"no keys", UniqueSafeArray(), TextArray({L"1"})},
      {"no values", TextArray({L"a"}), UniqueSafeArray()},
      {"values too short", TextArray({L"a", L"b", L"c", L"d"}, -1), TextArray({L"1", L"2", L"3"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GivenFile(kFile);
    const auto call = Write(L"s", c.keys, c.values);
    EXPECT_EQ(call.status, kSubscriptOutOfRange);
    EXPECT_EQ(FileBytes(), kFile);
  }
}

// Two empty arrays make no entry list at all; the service takes a whole-section write
// without one as the removal of the section.
TEST_F(SectionWrite, EmptyArraysRemoveTheSectionAndReturnTheLowerBoundLessOne) {
  GivenFile("[s]\r\na=1\r\n[t]\r\nk=1\r\n");
  auto call = Write(L"s", TextArray({}), TextArray({}));
  EXPECT_EQ(call.status, S_OK);
  EXPECT_EQ(call.result, -1);
  EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n");

  GivenFile("[s]\r\na=1\r\n[t]\r\nk=1\r\n");
  call = Write(L"t", TextArray({}, 4), TextArray({}, 4));
  EXPECT_EQ(call.result, 3);
  EXPECT_EQ(FileBytes(), "[s]\r\na=1\r\n");
}

TEST_F(SectionWrite, TheSectionComesBackAsTheServiceSawIt) {
  GivenFile("");
  const auto call = Write(L"s\u4e00", TextArray({L"a"}), TextArray({L"1"}));
  EXPECT_EQ(call.result, 0);
  EXPECT_EQ(call.section, L"s?");
  EXPECT_EQ(FileBytes(), "[s?]\r\na=1\r\n");
}

// ---- SectionAdd -----------------------------------------------------------------------

TEST_F(SectionWrite, SectionAddCreatesAMissingSectionWithNoKeys) {
  GivenFile("[t]\r\nk=1\r\n");
  EXPECT_TRUE(SectionAdd(L"s"));
  EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n[s]\r\n");

  UseFile(folder_.PathOf(L"new.ini"));
  EXPECT_TRUE(SectionAdd(L"s"));
  EXPECT_EQ(test_support::ReadBytes(folder_.PathOf(L"new.ini")), "[s]\r\n");
}

// The blank line would not survive any write.
TEST_F(SectionWrite, SectionAddLeavesAnExistingSectionAsItIs) {
  constexpr char kFile[] = "[s]\r\nk=1\r\n\r\n[empty]\r\n\r\n[t]\r\nj=2\r\n";
  GivenFile(kFile);
  EXPECT_TRUE(SectionAdd(L"s"));
  EXPECT_EQ(FileBytes(), kFile);
  EXPECT_TRUE(SectionAdd(L"EMPTY"));
  EXPECT_EQ(FileBytes(), kFile);
}

// ---- DeleteSection --------------------------------------------------------------------

TEST_F(SectionWrite, DeleteSectionRemovesTheSectionAndIsSilent) {
  GivenFile("[s]\r\na=1\r\n[t]\r\nk=1\r\n");
  DeleteSection(L"S");
  EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n");
  DeleteSection(L"missing");
  EXPECT_EQ(FileBytes(), "[t]\r\nk=1\r\n");
  EXPECT_EQ(LastError().value_or(L""), L"");
}

}  // namespace
