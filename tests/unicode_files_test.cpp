// A Unicode file (one that begins with a byte-order mark: UTF-16LE, UTF-16BE or UTF-8) keeps
// every character, and its encoding and mark, through every member, but for look-alikes
// written to a file marked UTF-16BE or UTF-8; an ANSI file keeps what its code page holds,
// as ever. Each member is called with text outside the code page (1252 here) on a file of
// each kind.
#include "tests/support/test_support.h"

using test_support::Bstr;
using test_support::Text;
using test_support::TextOf;
using test_support::UniqueBstr;

namespace {

enum class Kind { Ansi, Utf16LE, Utf16BE, Utf8 };

// `text` as a file of the kind holds it: a Unicode file begins with U+FEFF in its encoding.
std::string FileOf(Kind kind, const std::wstring& text) {
  const std::wstring marked = kind == Kind::Ansi ? text : L"\uFEFF" + text;
  std::string bytes;
  if (kind == Kind::Utf16LE || kind == Kind::Utf16BE) {
    for (const wchar_t c : marked) {
      const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
      bytes += kind == Kind::Utf16LE ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
  }
  bytes.resize(marked.size() * 4);
  bytes.resize(WideCharToMultiByte(kind == Kind::Utf8 ? CP_UTF8 : CP_ACP, 0, marked.data(),
                                   static_cast<int>(marked.size()), bytes.data(), static_cast<int>(bytes.size()),
                                   nullptr, nullptr));
  return bytes;
}

// `text` as a file of the kind gives it back.
std::wstring Kept(Kind kind, const std::wstring& text) {
  if (kind != Kind::Ansi) return text;
  const std::string ansi = FileOf(kind, text);
  std::wstring back(ansi.size(), L'\0');
  back.resize(MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), back.data(),
                                  static_cast<int>(back.size())));
  return back;
}

std::string NameOf(const testing::TestParamInfo<Kind>& kind) {
  constexpr const char* kNames[] = {"Ansi", "Utf16LE", "Utf16BE", "Utf8"};
  return kNames[static_cast<int>(kind.param)];
}

class UnicodeFiles : public test_support::TolvaneTest, public testing::WithParamInterface<Kind> {};

TEST_P(UnicodeFiles, EveryMemberPassesTextAsTheFileKeepsIt) {
  const Kind kind = GetParam();
  auto kept = [&](const std::wstring& text) { return Text(Kept(kind, text)); };
  // Names of different lengths, so that their "?" forms in the ANSI file differ too.
  const std::wstring section = L"\u0421\u0435\u043a\u0446\u0438\u044f", key = L"\u043a\u043b\u044e\u0447",
                     value = L"\u0437\u043d\u0430\u0447\u0435\u043d\u0438\u0435 \u5024",
                     added = L"\u043d\u043e\u0432\u044b\u0439", second = L"\u0432\u0442\u043e\u0440\u043e\u0439",
                     moved = L"\u043a\u043b\u044e\u0447 2", empty = L"\u041f\u0443\u0441\u0442\u043e",
                     whole = L"\u041d\u043e\u0432\u0430\u044f \u0441\u0435\u043a\u0446\u0438\u044f",
                     renamed = L"\u041f\u0435\u0440\u0435\u0438\u043c\u0435\u043d\u043e\u0432\u0430\u043d\u0430";
  GivenFile(FileOf(kind, L"[" + section + L"]\r\n" + key + L"=" + value + L"\r\n"));

  UniqueBstr sectionArgument = Bstr(section), keyArgument = Bstr(key), read;
  ASSERT_EQ(object_->ReadValue(sectionArgument.InOut(), keyArgument.InOut(), read.InOut()), S_OK);
  EXPECT_EQ(TextOf(read.Get()), kept(value));
  EXPECT_EQ(TextOf(sectionArgument.Get()), kept(section));  // by reference, as the file saw it
  EXPECT_EQ(TextOf(keyArgument.Get()), kept(key));
  EXPECT_TRUE(WriteValue(section, added, L"\u0394"));
  EXPECT_TRUE(CreateKeyAndValue(section, second, L"\u4e8c"));
  RenameKey(section, key, moved);
  DeleteKey(section, second);
  EXPECT_EQ(ReadValue(section, moved), kept(value));

  EXPECT_TRUE(SectionAdd(empty));
  EXPECT_EQ(SectionsCount(), 2);
  test_support::UniqueSafeArray keys, values;
  const test_support::ReadSectionOutcome listed = ReadSection(section, keys, values);
  EXPECT_EQ(listed.section, kept(section));
  EXPECT_EQ(test_support::Elements(keys.Get()), (std::vector<Text>{kept(added), kept(moved)}));
  EXPECT_EQ(test_support::Elements(values.Get()), (std::vector<Text>{kept(L"\u0394"), kept(value)}));
  auto newKeys = test_support::TextArray({L"\u043a"}), newValues = test_support::TextArray({L"\u0432"});
  EXPECT_EQ(SectionWriteAtOnce(whole, newKeys.Get(), newValues.Get()).section, kept(whole));
  RenameSection(section, renamed);
  DeleteSection(empty);
  EXPECT_EQ(FileBytes(), FileOf(kind, L"[" + whole + L"]\r\n\u043a=\u0432\r\n[" + renamed + L"]\r\n" + added +
                                          L"=\u0394\r\n" + moved + L"=" + value + L"\r\n"));
}

// Names in ASCII, which read alike in every kind of file, with a value outside the code
// page: each rename writes the value whole, in the file's own encoding.
TEST_P(UnicodeFiles, RenamesOfASCIINamesKeepTheValue) {
  const Kind kind = GetParam();
  const std::wstring value = Kept(kind, L"\u041f\u0440\u0438\u0432\u0435\u0442");
  GivenFile(FileOf(kind, L"[s]\r\nk=" + value + L"\r\n[t]\r\nx=1\r\n"));
  RenameKey(L"s", L"k", L"k2");
  EXPECT_EQ(FileBytes(), FileOf(kind, L"[s]\r\nk2=" + value + L"\r\n[t]\r\nx=1\r\n"));
  RenameSection(L"s", L"t");  // into an existing section
  EXPECT_EQ(FileBytes(), FileOf(kind, L"[t]\r\nx=1\r\nk2=" + value + L"\r\n"));
  RenameSection(L"t", L"u");  // into a new one
  EXPECT_EQ(FileBytes(), FileOf(kind, L"[u]\r\nx=1\r\nk2=" + value + L"\r\n"));
}

// A value cut at 254 characters never ends in half a surrogate pair.
TEST_P(UnicodeFiles, ACutValueEndsBeforeAPairItWouldPart) {
  const std::wstring value = std::wstring(253, L'x') + L"\U0001F600";
  GivenFile(FileOf(GetParam(), L"[s]\r\nk=" + value + L"\r\n"));
  EXPECT_EQ(ReadValue(L"s", L"k"),
            GetParam() == Kind::Ansi ? Kept(Kind::Ansi, value).substr(0, 254) : value.substr(0, 253));
}

// A look-alike whose nearest match would carry meaning (fullwidth "=", "]" and quotes under
// code page 1252; 932 holds them as they are) crosses as "?" to every file that Windows
// writes through the code page: an ANSI file, and one marked FE FF or EF BB BF. A file
// marked FF FE keeps it. Other characters pass as ever.
TEST_P(UnicodeFiles, ALookAlikeIsWrittenAsWindowsCanKeepIt) {
  const Kind kind = GetParam();
  auto guarded = [&](wchar_t fullwidth) {  // a fullwidth form is its ASCII character + 0xFEE0
    return kind != Kind::Utf16LE && Kept(Kind::Ansi, {fullwidth}) == std::wstring(1, wchar_t(fullwidth - 0xFEE0));
  };
  GivenFile(FileOf(kind, L"[s]\r\n"));
  const std::wstring stored = guarded(L'\uff1d') ? L"a?b" : L"a\uff1db";
  UniqueBstr section = Bstr(L"s"), key = Bstr(L"a\uff1db"), value = Bstr(L"\u0416");
  VARIANT_BOOL written = VARIANT_FALSE;
  ASSERT_EQ(object_->WriteValue(section.InOut(), key.InOut(), value.InOut(), &written), S_OK);
  EXPECT_EQ(written, VARIANT_TRUE);
  EXPECT_EQ(TextOf(key.Get()), Kept(kind, stored));  // by reference, as the file holds it
  EXPECT_TRUE(SectionAdd(L"n\uff3d"));
  EXPECT_EQ(FileBytes(),
            FileOf(kind, L"[s]\r\n" + stored + L"=\u0416\r\n[n" + (guarded(L'\uff3d') ? L"?" : L"\uff3d") + L"]\r\n"));
  // A rename does not move what a write would store otherwise: fullwidth quotes around a value.
  const std::wstring quoted = L"[t]\r\nk=\uff02v\uff02\r\n";
  GivenFile(FileOf(kind, quoted));
  RenameSection(L"t", L"u");
  EXPECT_EQ(FileBytes(), FileOf(kind, kind == Kind::Ansi || !guarded(L'\uff02') ? L"[u]" + quoted.substr(3) : quoted));
}

// A file that another program empties is an ANSI file to the next write, also where the
// platform read it before as Unicode (Wine would write it in the encoding of its copy).
TEST_P(UnicodeFiles, AnEmptiedFileIsWrittenAsAnAnsiFile) {
  GivenFile(FileOf(GetParam(), L"[s]\r\nk=v\r\n"));
  EXPECT_EQ(ReadValue(L"s", L"k"), L"v");
  GivenFile("");
  EXPECT_TRUE(WriteValue(L"s", L"\u0416", L"\u0416"));
  EXPECT_EQ(FileBytes(), FileOf(Kind::Ansi, L"[s]\r\n\u0416=\u0416\r\n"));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, UnicodeFiles, testing::Values(Kind::Ansi, Kind::Utf16LE, Kind::Utf16BE, Kind::Utf8),
                         NameOf);

class UnicodeFileRenames : public test_support::TolvaneTest {};

// A fullwidth "A" is a key of its own in a Unicode file: renaming "A" leaves it alone.
TEST_F(UnicodeFileRenames, RenameKeyTellsLookAlikesApart) {
  GivenFile(FileOf(Kind::Utf16LE, L"[s]\r\n\uff21=full\r\nA=half\r\n"));
  RenameKey(L"s", L"A", L"B");
  EXPECT_EQ(FileBytes(), FileOf(Kind::Utf16LE, L"[s]\r\n\uff21=full\r\nB=half\r\n"));
}

}  // namespace
