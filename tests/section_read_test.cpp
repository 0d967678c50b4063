// SectionsCount and ReadSection: the section-name list and a whole section read into
// two parallel arrays and a two-row pair array.
#include "profile_object/fault.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/test_support.h"

using test_support::BoundsOf;
using test_support::Elements;
using test_support::Text;
using test_support::TextArray;
using test_support::UniqueSafeArray;

namespace {

using Bounds = test_support::Bounds;
using Texts = std::vector<Text>;
using Pairs = std::vector<std::pair<Text, Text>>;

using profile_object::kArrayFixedOrLocked;
using profile_object::kInvalidArgument;

class SectionRead : public test_support::TolvaneTest {
 protected:
  // Leaves a message in LastErrorA that no read would set.
  void GivenAnEarlierFailure() {
    UseFile(L"");
    EXPECT_EQ(SectionsCount(), -1);
    ASSERT_EQ(LastError(), L"Missing IniFilename");
  }
};

// ---- SectionsCount --------------------------------------------------------------------

TEST_F(SectionRead, SectionsCountCountsTheSections) {
  GivenFile("[s1]\r\na=1\r\n\r\n[s2]\r\n");
  EXPECT_EQ(SectionsCount(), 2);
}

TEST_F(SectionRead, SectionsCountOfAFileWithoutSectionsIsZeroAndRunsTheCapture) {
  GivenAnEarlierFailure();
  GivenFile("loose=1\r\n");
  EXPECT_EQ(SectionsCount(), 0);
  EXPECT_EQ(LastError(), L"Unknown Error");
}

TEST_F(SectionRead, SectionsCountOfAMissingFileIsZeroWithTheSystemMessage) {
  UseFile(folder_.PathOf(L"absent.ini"));
  EXPECT_EQ(SectionsCount(), 0);
  const std::wstring message = LastError().value_or(L"");
  EXPECT_FALSE(message.empty());
  EXPECT_NE(message, L"Unknown Error");
  EXPECT_EQ(message.back(), L'\n');  // kept as the system gives it
}

// ---- ReadSection ----------------------------------------------------------------------

TEST_F(SectionRead, ReadsASectionIntoParallelArraysAndAPairArray) {
  GivenFile("[other]\r\nz=9\r\n[s]\r\na=1\r\nb=2\r\nc=3\r\n");
  UniqueSafeArray keys, values;
  const test_support::ReadSectionOutcome call = ReadSection(L"s", keys, values);
  ASSERT_EQ(call.status, S_OK);
  EXPECT_EQ(Elements(keys.Get()), (Texts{L"a", L"b", L"c"}));
  EXPECT_EQ(Elements(values.Get()), (Texts{L"1", L"2", L"3"}));
  EXPECT_EQ(BoundsOf(keys.Get()), (Bounds{0, 2}));
  EXPECT_EQ(BoundsOf(values.Get()), (Bounds{0, 2}));

  EXPECT_EQ(dispatch_calls::PairsOf(call.result.Get()), (Pairs{{L"a", L"1"}, {L"b", L"2"}, {L"c", L"3"}}));
  SAFEARRAY* pairs = V_ARRAY(call.result.Get());
  EXPECT_EQ(BoundsOf(pairs, 2), (Bounds{0, 2}));
  // In memory the first index varies fastest: key 0, value 0, key 1, value 1, ...
  com_types::SafeArrayData<BSTR> data(pairs);
  Texts raw;
  for (int i = 0; i < 6; ++i) raw.push_back(test_support::TextOf(data[i]));
  EXPECT_EQ(raw, (Texts{L"a", L"1", L"b", L"2", L"c", L"3"}));
}

TEST_F(SectionRead, ASingleEntryGivesOneElementEach) {
  GivenFile("[s]\r\nx=1\r\n");
  UniqueSafeArray keys, values;
  const test_support::ReadSectionOutcome call = ReadSection(L"s", keys, values);
  ASSERT_EQ(call.status, S_OK);
  EXPECT_EQ(Elements(keys.Get()), (Texts{L"x"}));
  EXPECT_EQ(Elements(values.Get()), (Texts{L"1"}));
  EXPECT_EQ(BoundsOf(V_ARRAY(call.result.Get()), 2), (Bounds{0, 0}));
  EXPECT_EQ(dispatch_calls::PairsOf(call.result.Get()), (Pairs{{L"x", L"1"}}));
}

TEST_F(SectionRead, EntriesSplitAtTheirFirstEqualsSignAsTheServiceListsThem) {
  // The service itself drops the blanks around "=" and keeps quotes; the object
  // trims nothing more.
  GivenFile("[s]\r\nk=a=b\r\n=v\r\nspaced = v w \r\nquoted=\" q \"\r\nempty=\r\n");
  UniqueSafeArray keys, values;
  const test_support::ReadSectionOutcome call = ReadSection(L"s", keys, values);
  ASSERT_EQ(call.status, S_OK);
  EXPECT_EQ(Elements(keys.Get()), (Texts{L"k", L"", L"spaced", L"quoted", L"empty"}));
  EXPECT_EQ(Elements(values.Get()), (Texts{L"a=b", L"v", L"v w", L"\" q \"", L""}));
  EXPECT_EQ(dispatch_calls::PairsOf(call.result.Get()),
            (Pairs{{L"k", L"a=b"}, {L"", L"v"}, {L"spaced", L"v w"}, {L"quoted", L"\" q \""}, {L"empty", L""}}));
}

TEST_F(SectionRead, ALineWithoutEqualsFaultsAfterStoringTheEntriesBeforeIt) {
  GivenFile("[s]\r\na=1\r\nb=2\r\nbare\r\nc=3\r\n");
  UniqueSafeArray keys, values;
  const test_support::ReadSectionOutcome call = ReadSection(L"s", keys, values);
  EXPECT_EQ(call.status, kInvalidArgument);
  EXPECT_EQ(V_VT(call.result.Get()), VT_EMPTY);
  ASSERT_EQ(BoundsOf(keys.Get()), (Bounds{0, 2}));
  ASSERT_EQ(BoundsOf(values.Get()), (Bounds{0, 2}));
  const Texts storedKeys = Elements(keys.Get()), storedValues = Elements(values.Get());
  EXPECT_EQ(storedKeys[0], L"a");
  EXPECT_EQ(storedKeys[1], L"b");
  EXPECT_EQ(storedValues[0], L"1");
  EXPECT_EQ(storedValues[1], L"2");
  EXPECT_EQ(storedKeys[2].value_or(L""), L"");
  EXPECT_EQ(storedValues[2].value_or(L""), L"");
}

TEST_F(SectionRead, ArraysFromAnEarlierCallAreReplaced) {
  GivenFile("[s]\r\na=1\r\nb=2\r\n");
  UniqueSafeArray keys = TextArray({L"old1", L"old2", L"old3", L"old4"}, 5);
  UniqueSafeArray values = TextArray({L"x"}, -3);
  const test_support::ReadSectionOutcome call = ReadSection(L"s", keys, values);
  ASSERT_EQ(call.status, S_OK);
  EXPECT_EQ(BoundsOf(keys.Get()), (Bounds{0, 1}));
  EXPECT_EQ(BoundsOf(values.Get()), (Bounds{0, 1}));
  EXPECT_EQ(Elements(keys.Get()), (Texts{L"a", L"b"}));
  EXPECT_EQ(Elements(values.Get()), (Texts{L"1", L"2"}));
  EXPECT_EQ(dispatch_calls::PairsOf(call.result.Get()), (Pairs{{L"a", L"1"}, {L"b", L"2"}}));
}

TEST_F(SectionRead, FixedOrLockedKeysFaultAndStayAsTheyWere) {
  GivenFile("[s]\r\na=1\r\n");
  for (const bool lock : {false, true}) {
    SCOPED_TRACE(lock ? "locked" : "fixed-size");
    UniqueSafeArray keys = TextArray({L"k1", L"k2"}, 1), values = TextArray({L"v"});
    SAFEARRAY* const keysBefore = keys.Get();
    SAFEARRAY* const valuesBefore = values.Get();
    if (lock) {
      ASSERT_EQ(SafeArrayLock(keys.Get()), S_OK);
    } else {
      keys.Get()->fFeatures |= FADF_FIXEDSIZE;
    }
    const test_support::ReadSectionOutcome call = ReadSection(L"s", keys, values);
    if (lock) {
      SafeArrayUnlock(keys.Get());
    } else {
      keys.Get()->fFeatures &= ~FADF_FIXEDSIZE;
    }
    EXPECT_EQ(call.status, kArrayFixedOrLocked);
    EXPECT_EQ(V_VT(call.result.Get()), VT_EMPTY);
    EXPECT_EQ(keys.Get(), keysBefore);
    EXPECT_EQ(values.Get(), valuesBefore);
    EXPECT_EQ(BoundsOf(keys.Get()), (Bounds{1, 2}));
    EXPECT_EQ(Elements(keys.Get()), (Texts{L"k1", L"k2"}));
    EXPECT_EQ(Elements(values.Get()), (Texts{L"v"}));
  }
}

// A missing or empty section is no fault: the result is False and the caller's arrays
// stay exactly as they were passed, allocated or not.
TEST_F(SectionRead, AMissingOrEmptySectionReturnsFalseAndLeavesTheArraysAlone) {
  for (const Text& section : {Text(L"missing"), Text(L"empty")}) {
    SCOPED_TRACE(testing::PrintToString(section));
    GivenAnEarlierFailure();
    GivenFile("[empty]\r\n[s]\r\na=1\r\n");
    UniqueSafeArray keys, values;
    test_support::ReadSectionOutcome call = ReadSection(section, keys, values);
    EXPECT_EQ(call.status, S_OK);
    EXPECT_EQ(V_VT(call.result.Get()), VT_BOOL);
    EXPECT_EQ(V_BOOL(call.result.Get()), VARIANT_FALSE);
    EXPECT_EQ(keys.Get(), nullptr);
    EXPECT_EQ(values.Get(), nullptr);
    EXPECT_EQ(LastError(), L"Unknown Error");  // the capture ran

    keys = TextArray({L"k1", L"k2"}, 3);
    values = TextArray({L"v1", L"v2", L"v3"});
    SAFEARRAY* const keysBefore = keys.Get();
    SAFEARRAY* const valuesBefore = values.Get();
    call = ReadSection(section, keys, values);
    EXPECT_EQ(call.status, S_OK);
    EXPECT_EQ(V_VT(call.result.Get()), VT_BOOL);
    EXPECT_EQ(V_BOOL(call.result.Get()), VARIANT_FALSE);
    EXPECT_EQ(keys.Get(), keysBefore);
    EXPECT_EQ(values.Get(), valuesBefore);
    EXPECT_EQ(BoundsOf(keys.Get()), (Bounds{3, 4}));
    EXPECT_EQ(Elements(keys.Get()), (Texts{L"k1", L"k2"}));
    EXPECT_EQ(Elements(values.Get()), (Texts{L"v1", L"v2", L"v3"}));
  }
}

TEST_F(SectionRead, TheSectionComesBackAsTheServiceSawIt) {
  GivenFile("[s?]\r\nk=v\r\n");
  UniqueSafeArray keys, values;
  const test_support::ReadSectionOutcome call = ReadSection(L"s\u4e00", keys, values);
  ASSERT_EQ(call.status, S_OK);
  EXPECT_EQ(call.section, L"s?");
  EXPECT_EQ(Elements(keys.Get()), (Texts{L"k"}));
}

}  // namespace
