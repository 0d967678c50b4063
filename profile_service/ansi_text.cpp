#include "profile_service/ansi_text.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "profile_service/profile_syntax.h"

namespace profile_service {

AnsiText AnsiText::Of(std::wstring_view text, TextRole role) {
  std::string converted;
  AppendAnsi(converted, text, role);
  return AnsiText(std::move(converted));
}

AnsiText AnsiText::FromBstr(BSTR text, TextRole role) {
  return text ? Of(std::wstring_view(text, SysStringLen(text)), role) : AnsiText();
}

namespace {

// One character of the text as converted: where its bytes start, how many there are, and
// whether it is a look-alike (a character outside ASCII whose match is one ASCII byte).
struct Converted {
  size_t offset;
  size_t size;
  bool lookAlike;
  size_t source;  // where it starts in the UTF-16 text, in one or two units
  size_t width;
};

bool OneOf(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

// Whether the character at `index` of `converted`, as the byte it crossed as, would carry
// meaning in a text of `role` (see AppendAnsi).
class Meaning {
 public:
  Meaning(const std::string& text, const std::vector<Converted>& characters, TextRole role)
      : text_(text), characters_(characters), role_(role) {
    while (firstNonBlank_ < characters.size() && Blank(firstNonBlank_)) ++firstNonBlank_;
    lastNonBlank_ = characters.size();
    while (lastNonBlank_ > firstNonBlank_ && Blank(lastNonBlank_ - 1)) --lastNonBlank_;
    if (lastNonBlank_ > firstNonBlank_) --lastNonBlank_;
  }

  bool Carried(size_t index) const {
    using namespace std::string_view_literals;
    const char c = Byte(index);
    if (OneOf(c, "\0\r\n"sv)) return true;
    const bool atAnEnd = index < firstNonBlank_ || index > lastNonBlank_;
    const bool first = index == firstNonBlank_, last = index == lastNonBlank_;
    switch (role_) {
      case TextRole::FileName: return OneOf(c, "\t\v\f\x1a \"*./:;<=>?[\\]|"sv);
      case TextRole::Key: return c == '=' || (atAnEnd && Blank(index)) || (first && (c == ';' || c == '['));
      case TextRole::Section: return c == ']' || (atAnEnd && Blank(index));
      case TextRole::Value: return (atAnEnd && Blank(index)) || ((first || last) && (c == '"' || c == '\''));
    }
    return true;
  }

 private:
  char Byte(size_t index) const { return text_[characters_[index].offset]; }
  bool Blank(size_t index) const {
    return characters_[index].size == 1 && IsProfileBlank(static_cast<unsigned char>(Byte(index)));
  }

  const std::string& text_;
  const std::vector<Converted>& characters_;
  TextRole role_;
  size_t firstNonBlank_ = 0;
  size_t lastNonBlank_ = 0;
};

// Converts text one character (or surrogate pair) at a time, so that each look-alike is
// seen in its place; those that would carry meaning become "?", and only they keep `lookAlike`.
std::vector<Converted> ConvertGuarded(std::wstring_view source, TextRole role, std::string& converted) {
  std::vector<Converted> characters;
  for (size_t i = 0; i < source.size();) {
    const bool pair = IS_HIGH_SURROGATE(source[i]) && i + 1 < source.size() && IS_LOW_SURROGATE(source[i + 1]);
    const size_t width = pair ? 2 : 1;
    const size_t offset = converted.size();
    AppendNearestMatch(converted, source.substr(i, width));
    const size_t size = converted.size() - offset;
    const bool lookAlike = source[i] >= 0x80 && size == 1 && static_cast<unsigned char>(converted[offset]) < 0x80;
    characters.push_back({offset, size, lookAlike, i, width});
    i += width;
  }
  const Meaning meaning(converted, characters, role);
  for (size_t index = 0; index < characters.size(); ++index) {
    Converted& character = characters[index];
    character.lookAlike = character.lookAlike && meaning.Carried(index);
    if (character.lookAlike) converted[character.offset] = '?';
  }
  return characters;
}

}  // namespace

bool IsAscii(std::wstring_view text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
}

std::optional<std::wstring> AnsiText::Widened() const {
  if (!text_) return std::nullopt;
  return WideOf(*text_);
}

// ASCII converts to itself.
void AppendAnsi(std::string& target, std::wstring_view source, TextRole role) {
  if (IsAscii(source)) {
    target.append(source.begin(), source.end());
    return;
  }
  std::string converted;
  ConvertGuarded(source, role, converted);
  target += converted;
}

std::wstring GuardLookAlikes(std::wstring_view source, TextRole role) {
  if (IsAscii(source)) return std::wstring(source);
  std::string converted;
  std::wstring guarded;
  for (const Converted& character : ConvertGuarded(source, role, converted)) {
    if (character.lookAlike) {
      guarded += L'?';
    } else {
      guarded += source.substr(character.source, character.width);
    }
  }
  return guarded;
}

void AppendNearestMatch(std::string& target, std::wstring_view text) {
  if (text.empty()) return;
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  const size_t start = target.size();
  target.resize(start + static_cast<size_t>(size));
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, target.data() + start, size, nullptr, nullptr);
}

std::wstring WideOf(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0)), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

void WriteBack(BSTR* slot, const std::optional<std::wstring>& seen) {
  com_types::UniqueBstr replacement;
  if (seen) replacement = com_types::UniqueBstr::Copy(seen->data(), static_cast<UINT>(seen->size()));
  const com_types::UniqueBstr replaced(std::exchange(*slot, replacement.Release()));
}

}  // namespace profile_service
