#include "profile_service/write_check.h"

#include <windows.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "profile_service/ansi_text.h"
#include "profile_service/file_encoding.h"
#include "profile_service/file_identity.h"
#include "profile_service/profile_syntax.h"

namespace profile_service {
namespace {

// The file's text in UTF-16, as the platform reads it: by its byte-order mark, or in the
// code page.
std::wstring TextOf(std::string_view bytes) {
  std::wstring text;
  if (bytes.starts_with(kUtf16LeMark) || bytes.starts_with(kUtf16BeMark)) {
    const bool bigEndian = bytes.starts_with(kUtf16BeMark);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
      text += static_cast<wchar_t>(bigEndian ? first << 8 | second : second << 8 | first);
    }
    if (bytes.size() % 2) text += L'\xFFFD';  // a cut unit is no whole line
    return text;
  }
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::wstring(bytes.begin(), bytes.end());  // ASCII reads alike in every code page
  }
  const bool utf8 = bytes.starts_with(kUtf8Mark);
  if (utf8) bytes.remove_prefix(kUtf8Mark.size());
  return WideOf(bytes, utf8 ? CP_UTF8 : CP_ACP);
}

// A section as the platform parses it: its name (up to the last "]"), and the names of
// its lines (up to "="), blanks trimmed: the platform keeps both as they are, but for
// those blanks and the blank lines it drops.
struct Section {
  std::wstring_view name;
  std::vector<std::wstring_view> keys;
};

// Plain loops over the characters: the library's character searches and comparisons
// call into the runtime for each line, which costs more than the rest of the look.
size_t Find(std::wstring_view text, size_t from, bool (*wanted)(wchar_t)) {
  while (from < text.size() && !wanted(text[from])) ++from;
  return from;
}

bool Equal(std::wstring_view one, std::wstring_view other) {
  if (one.size() != other.size()) return false;
  for (size_t i = 0; i < one.size(); ++i) {
    if (one[i] != other[i]) return false;
  }
  return true;
}

bool Equal(const std::vector<std::wstring_view>& one, const std::vector<std::wstring_view>& other) {
  return std::equal(one.begin(), one.end(), other.begin(), other.end(),
                    [](std::wstring_view a, std::wstring_view b) { return Equal(a, b); });
}

bool Equal(const std::vector<Section>& one, const std::vector<Section>& other) {
  return std::equal(one.begin(), one.end(), other.begin(), other.end(),
                    [](const Section& a, const Section& b) { return Equal(a.name, b.name) && Equal(a.keys, b.keys); });
}

std::vector<Section> SectionsOf(std::wstring_view text) {
  std::vector<Section> sections(1);
  for (size_t start = 0; start < text.size();) {
    const size_t end = Find(text, start, [](wchar_t c) { return c == L'\r' || c == L'\n'; });
    const std::wstring_view line = WithoutBlanks(text.substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    if (line.front() == L'[') {
      sections.push_back({WithoutBlanks(line.substr(1, line.rfind(L']') - 1)), {}});
    } else {
      sections.back().keys.push_back(WithoutBlanks(line.substr(0, Find(line, 0, [](wchar_t c) { return c == L'='; }))));
    }
  }
  return sections;
}

// The file's last line when it does not end with a line end: the platform ends every line
// it writes, but may keep a last line that it did not touch as it was.
std::wstring_view UnendedLastLine(std::wstring_view text) {
  if (text.empty() || text.back() == L'\n' || text.back() == L'\r') return {};
  return text.substr(text.find_last_of(L"\r\n") + 1);
}

// Names compare as the platform compares them: without regard to case (ASCII letters
// folded here, which is most names and far quicker than asking the system).
bool SameName(std::wstring_view one, std::wstring_view other) {
  if (one.size() != other.size()) return false;
  for (size_t i = 0; i < one.size(); ++i) {
    if (one[i] >= 0x80 || other[i] >= 0x80) return SamePath(one, other);
    if ((one[i] | 0x20) != (other[i] | 0x20) ||
        (static_cast<unsigned>((one[i] | 0x20) - L'a') > 25u && one[i] != other[i]))
      return false;
  }
  return true;
}

size_t CountOf(const std::vector<std::wstring_view>& keys, std::wstring_view key) {
  return static_cast<size_t>(std::count_if(keys.begin(), keys.end(), [&](auto one) { return SameName(one, key); }));
}

}  // namespace

bool LeftWhole(std::string_view before, std::string_view after, const WriteShape& write) {
  const std::wstring beforeText = TextOf(before), afterText = TextOf(after);
  if (!UnendedLastLine(afterText).empty() && UnendedLastLine(afterText) != UnendedLastLine(beforeText)) return false;
  const std::wstring_view section = WithoutBlanks(write.section), key = WithoutBlanks(write.key);
  // Every other section as it was; the written one's keys, all its sections together.
  std::vector<Section> othersBefore, othersAfter;
  std::vector<std::wstring_view> keysBefore, keysAfter;
  for (auto [text, others, keys] :
       {std::tuple(&beforeText, &othersBefore, &keysBefore), std::tuple(&afterText, &othersAfter, &keysAfter)}) {
    for (Section& parsed : SectionsOf(*text)) {
      if (!SameName(parsed.name, section)) {
        others->push_back(std::move(parsed));
      } else {
        keys->insert(keys->end(), parsed.keys.begin(), parsed.keys.end());
      }
    }
  }
  if (!Equal(othersBefore, othersAfter)) return false;
  const bool held = CountOf(keysBefore, key) > 0;
  switch (write.kind) {
    case WriteShape::Kind::SetKey:
      return CountOf(keysAfter, key) > 0 && keysAfter.size() == keysBefore.size() + (held ? 0 : 1);
    case WriteShape::Kind::DeleteKey:  // the first of keys of one name
      return keysAfter.size() == keysBefore.size() - (held ? 1 : 0);
    case WriteShape::Kind::DeleteSection:  // the first of sections of one name
      return keysAfter.size() <= keysBefore.size();
    case WriteShape::Kind::ReplaceSection:  // an empty list may leave the section as it was
      return keysAfter.size() == write.entries || (write.entries == 0 && Equal(keysAfter, keysBefore));
  }
  return false;
}

}  // namespace profile_service
