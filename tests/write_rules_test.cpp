// Text that would corrupt the file is refused before it reaches the profile service:
// line breaks and NUL anywhere, "=" in a key, a key that would read as a comment or a
// section header, "]" in the name of a new section. What the file syntax merely
// normalises passes.
#include "tests/support/test_support.h"

using test_support::Bstr;
using test_support::Text;
using test_support::TextArray;
using test_support::TextOf;
using test_support::UniqueBstr;

namespace {

using namespace std::string_literals;

class WriteRules : public test_support::TolvaneTest {
 protected:
  static constexpr char kFile[] = "[s]\r\nk=old\r\n";

  // A refusal leaves the file as it was and says what was refused.
  void ExpectRefused(const std::wstring& naming) {
    EXPECT_EQ(FileBytes(), kFile);
    const std::wstring message = LastError().value_or(L"");
    EXPECT_EQ(message.rfind(L"Refused to write:", 0), 0u) << "message: " << testing::PrintToString(message);
    EXPECT_NE(message.find(naming), std::wstring::npos) << "message: " << testing::PrintToString(message);
  }
};

struct Refused {
  Text section, key, value;
  std::wstring naming;  // what the message must name
};

const Refused kRefused[] = {
    {L"s", L"k", L"x\r\n[admin]\r\nallowed=1", L"value"},  // would add a section
    {L"s", L"k", L"x\ny=1", L"value"},
    {L"s", L"k", L"x\rz", L"value"},
    {L"s", L"k", L"a\0b"s, L"value"},
    {L"s", L"k\r\nj", L"v", L"key"},
    {L"s", L"k\0j"s, L"v", L"key"},
    {L"s", L"k=q", L"v", L"key"},  // written as k=q=v, never readable as k=q
    {L"s", L";k", L"v", L"key"},   // a comment
    {L"s", L"  ;k", L"v", L"key"},
    {L"s", L"[k", L"v", L"key"},  // a section header
    {L"s", L"\t[k]", L"v", L"key"},
    {L"s", L"\v;x", L"secret", L"key"},  // the service trims VT, FF and 0x1A as blanks
    {L"s", L"\f[y", L"secret", L"key"},
    {L"s", L"\x1a;x", L"secret", L"key"},
    {L"s]x", L"k", L"v", L"section"},
    {L"s\r\n[t", L"k", L"v", L"section"},
    {L"s\0t"s, L"k", L"v", L"section"},
};

TEST_F(WriteRules, WriteValueAndCreateKeyAndValueRefuseTextThatWouldCorruptTheFile) {
  for (const Refused& refused : kRefused) {
    SCOPED_TRACE(testing::PrintToString(refused.section) + " " + testing::PrintToString(refused.key) + " " +
                 testing::PrintToString(refused.value));
    GivenFile(kFile);
    EXPECT_FALSE(WriteValue(refused.section, refused.key, refused.value));
    ExpectRefused(refused.naming);

    GivenFile(kFile);
    EXPECT_FALSE(CreateKeyAndValue(refused.section, refused.key, refused.value));
    ExpectRefused(refused.naming);
  }
}

// A look-alike that the write rules let pass crosses as "?", never as the character it
// resembles: no key with "=", no comment, no header, no new section ending early.
TEST_F(WriteRules, LookAlikesCannotSlipPastTheRules) {
  GivenFile(kFile);
  EXPECT_TRUE(WriteValue(L"s", L"k\uff1dq", L"1"));
  EXPECT_TRUE(WriteValue(L"s", L"\u3000;c", L"2"));
  EXPECT_TRUE(CreateKeyAndValue(L"s", L"\uff3bh", L"3"));
  EXPECT_TRUE(CreateKeyAndValue(L"n\uff3dx", L"k", L"4\u2028"));
  EXPECT_EQ(FileBytes(), "[s]\r\nk=old\r\nk?q=1\r\n?;c=2\r\n?h=3\r\n[n?x]\r\nk=4?\r\n");
}

TEST_F(WriteRules, ARefusedWriteLeavesItsByReferenceArgumentsAlone) {
  GivenFile(kFile);
  UniqueBstr section = Bstr(L"s\u4e00"), key = Bstr(L"k"), value = Bstr(L"v\r\n");
  BSTR before = section.Get();
  VARIANT_BOOL written = VARIANT_TRUE;
  ASSERT_EQ(object_->WriteValue(section.InOut(), key.InOut(), value.InOut(), &written), S_OK);
  EXPECT_EQ(written, VARIANT_FALSE);
  EXPECT_EQ(section.Get(), before);
  EXPECT_EQ(TextOf(section.Get()), L"s\u4e00");
}

TEST_F(WriteRules, WhatTheFileSyntaxNormalisesIsWritten) {
  GivenFile(kFile);
  EXPECT_TRUE(WriteValue(L"s", L"  blanks  ", L"  around  "));
  EXPECT_EQ(ReadValue(L"s", L"blanks"), L"around");
  EXPECT_TRUE(WriteValue(L"s", L"quoted", L"\" in quotes \""));
  EXPECT_EQ(ReadValue(L"s", L"quoted"), L" in quotes ");
  EXPECT_TRUE(CreateKeyAndValue(L"s", L"inside", L"a;b=c[d]"));
  EXPECT_EQ(ReadValue(L"s", L"inside"), L"a;b=c[d]");
  EXPECT_TRUE(CreateKeyAndValue(L"s[1", L"a;b[c]", L"v"));
  EXPECT_EQ(ReadValue(L"s[1", L"a;b[c]"), L"v");
  for (const wchar_t* section : {L" n", L"n ", L"n\t", L"\x1an"}) {  // the section alone, no placeholder
    SCOPED_TRACE(testing::PrintToString(std::wstring(section)));
    GivenFile(kFile);
    EXPECT_TRUE(SectionAdd(section));
    EXPECT_EQ(FileBytes(), kFile + "[n]\r\n"s);
  }
}

TEST_F(WriteRules, AbsentKeyAndValueKeepTheirDeleteMeaning) {
  GivenFile("[s]\r\nk=old\r\nj=1\r\n[t]\r\nk=2\r\n");
  EXPECT_TRUE(WriteValue(L"s", L"k", std::nullopt));
  EXPECT_EQ(FileBytes(), "[s]\r\nj=1\r\n[t]\r\nk=2\r\n");
  EXPECT_TRUE(CreateKeyAndValue(L"t", std::nullopt, std::nullopt));
  EXPECT_EQ(FileBytes(), "[s]\r\nj=1\r\n");
}

// Whole-section writes: a NUL in a value would otherwise silently cut off every later
// pair, and a line break would add lines of the caller's choosing.
TEST_F(WriteRules, SectionWriteAtOnceRefusesTheSameTexts) {
  struct Case {
    Text section;
    std::vector<Text> keys, values;
    std::wstring naming;
  };
  const Case cases[] = {
      {L"s", {L"a", L"b", L"c"}, {L"1", L"2\0x"s, L"3"}, L"value"},
      {L"s", {L"a", L"b"}, {L"1\r\n[admin]\r\nallowed=1", L"2"}, L"value"},
      {L"s", {L"a", L"b=c"}, {L"1", L"2"}, L"key"},
      {L"s", {L"a", L";b"}, {L"1", L"2"}, L"key"},
      {L"s", {L" [b"}, {L"2"}, L"key"},
      {L"s", {L"a", L"\v;b"}, {L"1", L"2"}, L"key"},
      {L"s", {L"a\nb"}, {L"1"}, L"key"},
      {L"s]", {L"a"}, {L"1"}, L"section"},
      {L"s\r\n", {L"a"}, {L"1"}, L"section"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.section) + " " + testing::PrintToString(c.keys) + " " +
                 testing::PrintToString(c.values));
    GivenFile(kFile);
    auto keys = TextArray(c.keys), values = TextArray(c.values);
    const test_support::SectionWriteOutcome call = SectionWriteAtOnce(c.section, keys.Get(), values.Get());
    EXPECT_EQ(call.status, S_OK);
    EXPECT_EQ(call.result, 0);
    ExpectRefused(c.naming);
  }
}

// "]" is refused only where a write would start the section: one that exists under such
// a name takes writes like any other, and a deletion starts none.
TEST_F(WriteRules, ASectionNameWithABracketIsRefusedOnlyForANewSection) {
  GivenFile("[a]b]\r\nk=old\r\n");
  EXPECT_TRUE(WriteValue(L"a]b", L"k", L"1"));
  EXPECT_TRUE(CreateKeyAndValue(L" A]B ", L"j", L"2"));
  EXPECT_TRUE(SectionAdd(L"a]b"));
  EXPECT_TRUE(WriteValue(L"new]", L"k", std::nullopt));
  EXPECT_TRUE(CreateKeyAndValue(L"new]", std::nullopt, L"v"));
  EXPECT_EQ(FileBytes(), "[a]b]\r\nk=1\r\nj=2\r\n");
  auto keys = TextArray({L"x", L"y"}), values = TextArray({L"3", L"4"});
  EXPECT_EQ(SectionWriteAtOnce(L"a]b", keys.Get(), values.Get()).result, 1);
  EXPECT_EQ(FileBytes(), "[a]b]\r\nx=3\r\ny=4\r\n");
  EXPECT_EQ(LastError().value_or(L"").find(L"Refused"), std::wstring::npos);
}

TEST_F(WriteRules, SectionAddRefusesTheSameSectionNames) {
  // A name that names nothing would add no section, only keys above every header.
  for (const std::wstring& section : {L"t]"s, L"t\r\n[u"s, L"t\0u"s, L""s, L" "s, L"\t"s, L"\v"s}) {
    SCOPED_TRACE(testing::PrintToString(section));
    GivenFile(kFile);
    EXPECT_FALSE(SectionAdd(section));
    ExpectRefused(L"section");
  }
}

}  // namespace
