#include "profile_service/ansi_text.h"

namespace profile_service {

AnsiText AnsiText::FromBstr(BSTR text) {
  if (!text) return AnsiText();
  std::string converted;
  AppendAnsi(converted, text);
  return AnsiText(std::move(converted));
}

namespace {

// ASCII characters that carry meaning in the file or in a path: line breaks and NUL end
// lines, "=" ends a key, ";" and "[" begin a comment or a header (also after blanks), "]"
// and a quote are file syntax, and the separators, the drive colon, the dot of ".." and
// the characters a file name may not hold would lead elsewhere than the named file.
bool CarriesMeaning(char converted) {
  using namespace std::string_view_literals;
  return "\0\t\n\r \"*./:;<=>?[\\]|"sv.find(converted) != std::string_view::npos;
}

// The platform's ordinary conversion: the nearest match for a character the code page
// lacks, else its default character.
void AppendNearestMatch(std::string& target, const wchar_t* text, int length) {
  if (length == 0) return;
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  const size_t start = target.size();
  target.resize(start + static_cast<size_t>(size));
  WideCharToMultiByte(CP_ACP, 0, text, length, target.data() + start, size, nullptr, nullptr);
}

}  // namespace

// Converts as other programs do ("Łódź" crosses as "Lódz", so their keys, sections and
// files are found), except that a character whose nearest match carries meaning crosses
// as "?": a fullwidth "=" must not slip past the write rules as "=", nor a fullwidth
// backslash lead out of the named folder. ASCII converts to itself, so only the other
// characters are converted one at a time (a surrogate pair as one).
void AppendAnsi(std::string& target, BSTR text) {
  const std::wstring_view source(text, SysStringLen(text));
  size_t pending = 0;  // the start of the ASCII run not yet converted
  for (size_t i = 0; i < source.size();) {
    if (source[i] < 0x80) {
      ++i;
      continue;
    }
    AppendNearestMatch(target, source.data() + pending, static_cast<int>(i - pending));
    const bool pair = IS_HIGH_SURROGATE(source[i]) && i + 1 < source.size() && IS_LOW_SURROGATE(source[i + 1]);
    const size_t width = pair ? 2 : 1;
    const size_t before = target.size();
    AppendNearestMatch(target, source.data() + i, static_cast<int>(width));
    if (target.size() == before + 1 && CarriesMeaning(target.back())) target.back() = '?';
    i += width;
    pending = i;
  }
  AppendNearestMatch(target, source.data() + pending, static_cast<int>(source.size() - pending));
}

com_types::UniqueBstr WideFromAnsi(std::string_view text) {
  if (text.empty()) return com_types::UniqueBstr::Copy(L"", 0);
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  BSTR converted = SysAllocStringLen(nullptr, static_cast<UINT>(size));
  if (!converted) throw std::bad_alloc();
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, converted, size);
  return com_types::UniqueBstr(converted);
}

void WriteBack(BSTR* slot, const AnsiText& converted) {
  com_types::UniqueBstr replacement;
  if (!converted.IsAbsent()) replacement = WideFromAnsi(converted.View());
  SysFreeString(*slot);
  *slot = replacement.Release();
}

}  // namespace profile_service
