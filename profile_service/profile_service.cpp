#include "profile_service/profile_service.h"

#include <algorithm>
#include <atomic>
#include <initializer_list>

namespace profile_service {
namespace {

bool Refuse(DWORD code) {
  SetLastError(code);
  return true;
}

// The platform's functions for texts of `CharType`.
template <typename CharType>
struct PlatformCalls {
  using Char = CharType;
  static constexpr Char kNoDefault[1] = {};  // what a read gives for a missing key
  static const ProfileFunctions<Char>& Platform() { return ActiveFunctions().Of<Char>(); }
};

// The calls in an ANSI file: texts converted to the code page, results converted back.
struct AnsiCalls : PlatformCalls<char> {
  static const char* Argument(const ServiceText& text) { return text.Ansi().Argument(); }
  static std::string_view Form(const ServiceText& text) { return text.Ansi().View(); }
  static const char* Name(const ProfileFile& file) { return file.Names().forAnsiCalls->Argument(); }
  static std::wstring Wide(std::string_view text) { return WideOf(text); }
};

// The calls in a Unicode file: texts as they are.
struct WideCalls : PlatformCalls<wchar_t> {
  static const wchar_t* Argument(const ServiceText& text) { return text.IsAbsent() ? nullptr : text.Wide().data(); }
  static std::wstring_view Form(const ServiceText& text) { return text.Wide(); }
  static const wchar_t* Name(const ProfileFile& file) { return file.Names().forWideCalls.c_str(); }
  static std::wstring Wide(std::wstring_view text) { return std::wstring(text); }
};

// The calls in an ANSI file whose full path does not cross to the code page: the
// wide-character functions, given the texts as the ANSI functions would convert them.
struct WidenedAnsiCalls : WideCalls {
  static const wchar_t* Argument(const ServiceText& text) {
    return text.IsAbsent() ? nullptr : text.AnsiWidened()->c_str();
  }
  static std::wstring_view Form(const ServiceText& text) {
    const std::optional<std::wstring>& widened = text.AnsiWidened();
    return widened ? std::wstring_view(*widened) : std::wstring_view();
  }
};

// The calls of a write that puts texts in a file marked FE FF or EF BB BF: the
// wide-character functions, given each look-alike that would carry meaning as "?".
struct GuardedWideCalls : WideCalls {
  static const wchar_t* Argument(const ServiceText& text) { return text.IsAbsent() ? nullptr : text.Guarded().c_str(); }
  static std::wstring_view Form(const ServiceText& text) { return text.Guarded(); }
};

template <typename Calls>
using Buffer = std::basic_string<typename Calls::Char>;

// The platform passes each text through a counted UTF-16 string of at most 32766
// characters: a longer text arrives empty or as stray memory, one with a NUL cut at it,
// and either would reach another section or key than the one named.
constexpr size_t kLongestText = 32766;

template <typename Calls>
bool Refused(const ProfileFile& file, std::initializer_list<const ServiceText*> texts) {
  if (file.Names().refusal != 0) return Refuse(file.Names().refusal);
  for (const ServiceText* text : texts) {
    const auto form = Calls::Form(*text);
    if (form.size() > kLongestText || form.find(typename Calls::Char{}) != form.npos) {
      return Refuse(ERROR_INVALID_PARAMETER);
    }
  }
  return false;
}

// A write without a section has nothing to write or remove (Wine crashes looking for it).
template <typename Calls>
bool RefusedWrite(const ProfileFile& file, const ServiceText& section,
                  std::initializer_list<const ServiceText*> texts) {
  return Refused<Calls>(file, texts) || (section.IsAbsent() && Refuse(ERROR_INVALID_PARAMETER));
}

// The list in `buffer`'s first `count` characters, in UTF-16, then a NUL; returns its
// count in UTF-16 characters.
template <typename Calls>
DWORD ListOf(const Buffer<Calls>& buffer, DWORD count, std::wstring& list) {
  list = Calls::Wide(std::basic_string_view<typename Calls::Char>(buffer).substr(0, count));
  const auto listCount = static_cast<DWORD>(list.size());
  list += L'\0';
  return listCount;
}

// Reads a list into a buffer that grows until the list fits. The service cuts a list
// that does not fit and returns the buffer size less 2, so only a shorter count is whole.
template <typename Calls, typename ReadList>
DWORD ReadGrowingList(std::wstring& list, ReadList read) {
  for (DWORD size = kListBufferSize;; size *= 2) {
    Buffer<Calls> buffer(size, typename Calls::Char{});
    const DWORD count = read(buffer);
    if (count + 2 < size) {
      list = Calls::Wide(std::basic_string_view<typename Calls::Char>(buffer).substr(0, count));
      return count;
    }
  }
}

template <typename Calls>
DWORD GetSectionInto(ProfileFile& file, const ServiceText& section, Buffer<Calls>& buffer) {
  if (Refused<Calls>(file, {&section})) return 0;
  return Calls::Platform().getSection(Calls::Argument(section), buffer.data(), static_cast<DWORD>(buffer.size()),
                                      Calls::Name(file));
}

template <typename Calls>
DWORD GetSectionNamesInto(ProfileFile& file, Buffer<Calls>& buffer) {
  if (Refused<Calls>(file, {})) return 0;
  return Calls::Platform().getSectionNames(buffer.data(), static_cast<DWORD>(buffer.size()), Calls::Name(file));
}

// Every platform write goes through here, around it the file's side of a change (see
// ProfileFile::BeforeChange).
template <typename Calls, typename Write>
BOOL Change(ProfileFile& file, WriteShape::Kind kind, const ServiceText& section, const ServiceText* key,
            size_t entries, Write write) {
  if (!file.BeforeChange(kind)) return FALSE;
  file.ChangeStarts();
  const BOOL written = write();
  const std::wstring keyForm = key ? Calls::Wide(Calls::Form(*key)) : std::wstring();
  return file.ChangeEnded(written, WriteShape{kind, Calls::Wide(Calls::Form(section)), keyForm, entries});
}

// Calls `work` with the calls of an ANSI file.
template <typename Work>
auto WithAnsiCallsOf(ProfileFile& file, Work work) {
  if (!file.Names().forAnsiCalls) return work(WidenedAnsiCalls{});
  return work(AnsiCalls{});
}

// Calls `work` with the calls of the file's encoding.
template <typename Work>
auto WithCallsOf(ProfileFile& file, Work work) {
  if (IsUnicode(file.TextEncoding())) return work(WideCalls{});
  return WithAnsiCallsOf(file, work);
}

// The same for a write that puts its texts in the file (see ServiceText::Stored).
template <typename Work>
auto WithStoringCallsOf(ProfileFile& file, Work work) {
  if (file.TextEncoding() == Encoding::UnicodeOtherMark) return work(GuardedWideCalls{});
  return WithCallsOf(file, work);
}

bool SingleByteCodePage() {
  static const bool single = [] {
    CPINFO info{};
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
  }();
  return single;
}

// A read. Asked in ASCII, an ANSI file and a Unicode file answer alike through the
// wide-character call, so the file's encoding (a look at the file) is needed only for an
// answer outside ASCII under a code page of two-byte characters, whose ANSI call cuts by
// bytes. `read` fills `answer` and returns the platform's count.
template <typename Read>
DWORD ReadIn(ProfileFile& file, std::initializer_list<const ServiceText*> asked, const std::wstring& answer,
             Read read) {
  if (file.EncodingKnown() || !std::all_of(asked.begin(), asked.end(), [](auto text) { return text->IsAscii(); })) {
    return WithCallsOf(file, read);
  }
  const DWORD count = read(WideCalls{});
  if (count == 0 || IsAscii(answer) || SingleByteCodePage() || IsUnicode(file.TextEncoding())) {
    return count;
  }
  return WithAnsiCallsOf(file, read);
}

}  // namespace

ServiceText::ServiceText(BSTR text, TextRole role) : role_(role) {
  if (text) text_.emplace(text, SysStringLen(text));
}

const AnsiText& ServiceText::Ansi() const {
  if (!ansi_) ansi_ = text_ ? AnsiText::Of(*text_, role_) : AnsiText();
  return *ansi_;
}

com_types::UniqueBstr ServiceText::Bstr() const {
  if (!text_) return com_types::UniqueBstr();
  return com_types::UniqueBstr::Copy(text_->data(), static_cast<UINT>(text_->size()));
}

bool ServiceText::IsAscii() const { return profile_service::IsAscii(Wide()); }

const std::optional<std::wstring>& ServiceText::AnsiWidened() const {
  if (!ansiWidened_) ansiWidened_ = Ansi().Widened();
  return *ansiWidened_;
}

std::optional<std::wstring> ServiceText::Seen(ProfileFile& file) const {
  if (!text_ || IsAscii() || IsUnicode(file.TextEncoding())) return text_;
  return Ansi().Widened();
}

const std::wstring& ServiceText::Guarded() const {
  if (!guarded_) guarded_ = GuardLookAlikes(Wide(), role_);
  return *guarded_;
}

bool ServiceText::GuardedIn(ProfileFile& file) const {
  return text_ && !IsAscii() && file.TextEncoding() == Encoding::UnicodeOtherMark;
}

std::optional<std::wstring> ServiceText::Stored(ProfileFile& file) const {
  return GuardedIn(file) ? Guarded() : Seen(file);
}

ServiceText ServiceText::StoredIn(ProfileFile& file) const {
  return GuardedIn(file) ? ServiceText(std::wstring_view(Guarded()), role_) : *this;
}

DWORD ReadString(ProfileFile& file, const ServiceText& section, const ServiceText& key, std::wstring& value) {
  return ReadIn(file, {&section, &key}, value, [&](auto calls) -> DWORD {
    using Calls = decltype(calls);
    if (Refused<Calls>(file, {&section, &key})) return 0;
    Buffer<Calls> buffer(kValueBufferSize, {});
    const DWORD count = Calls::Platform().getString(Calls::Argument(section), Calls::Argument(key), Calls::kNoDefault,
                                                    buffer.data(), kValueBufferSize, Calls::Name(file));
    if (count != 0) value = Calls::Wide(std::basic_string_view<typename Calls::Char>(buffer.c_str()));
    // The platform cuts a longer value by UTF-16 units, which may part a surrogate pair:
    // the value then ends before the pair.
    if (count == kValueBufferSize - 1 && IS_HIGH_SURROGATE(value.back())) value.pop_back();
    return count;
  });
}

DWORD ReadSection(ProfileFile& file, const ServiceText& section, std::wstring& list) {
  return ReadIn(file, {&section}, list, [&](auto calls) -> DWORD {
    using Calls = decltype(calls);
    Buffer<Calls> buffer(kListBufferSize, {});
    const DWORD count = GetSectionInto<Calls>(file, section, buffer);
    return count == 0 ? 0 : ListOf<Calls>(buffer, count, list);
  });
}

DWORD ReadSectionNames(ProfileFile& file, std::wstring& list) {
  return ReadIn(file, {}, list, [&](auto calls) -> DWORD {
    using Calls = decltype(calls);
    Buffer<Calls> buffer(kListBufferSize, {});
    const DWORD count = GetSectionNamesInto<Calls>(file, buffer);
    return count == 0 ? 0 : ListOf<Calls>(buffer, count, list);
  });
}

BOOL WriteString(ProfileFile& file, const ServiceText& section, const ServiceText& key, const ServiceText& value) {
  const auto write = [&](auto calls) -> BOOL {
    using Calls = decltype(calls);
    if (RefusedWrite<Calls>(file, section, {&section, &key, &value})) return FALSE;
    using Kind = WriteShape::Kind;
    const Kind kind = key.IsAbsent() ? Kind::DeleteSection : value.IsAbsent() ? Kind::DeleteKey : Kind::SetKey;
    return Change<Calls>(file, kind, section, &key, 0, [&] {
      return Calls::Platform().writeString(Calls::Argument(section), Calls::Argument(key), Calls::Argument(value),
                                           Calls::Name(file));
    });
  };
  // A deletion puts nothing in the file: its names reach what is there as they are.
  if (key.IsAbsent() || value.IsAbsent()) return WithCallsOf(file, write);
  return WithStoringCallsOf(file, write);
}

BOOL WriteSection(ProfileFile& file, const ServiceText& section, const std::vector<EntryText>* entries) {
  const auto write = [&](auto calls) -> BOOL {
    using Calls = decltype(calls);
    if (RefusedWrite<Calls>(file, section, {&section})) return FALSE;
    Buffer<Calls> list;
    if (entries) {
      for (const EntryText& entry : *entries) {
        list += Calls::Form(entry.key);
        list += typename Calls::Char('=');
        list += Calls::Form(entry.value);
        list += typename Calls::Char{};
      }
      if (entries->empty()) list += typename Calls::Char{};  // one NUL, then the closing NUL
    }
    const auto kind = entries ? WriteShape::Kind::ReplaceSection : WriteShape::Kind::DeleteSection;
    return Change<Calls>(file, kind, section, nullptr, entries ? entries->size() : 0, [&] {
      return Calls::Platform().writeSection(Calls::Argument(section), entries ? list.c_str() : nullptr,
                                            Calls::Name(file));
    });
  };
  // Without an entry list the section is removed.
  if (!entries) return WithCallsOf(file, write);
  return WithStoringCallsOf(file, write);
}

bool ReadWholeSection(ProfileFile& file, const ServiceText& section, std::wstring& entries) {
  return ReadIn(file, {&section}, entries, [&](auto calls) -> DWORD {
           using Calls = decltype(calls);
           return ReadGrowingList<Calls>(
               entries, [&](Buffer<Calls>& buffer) { return GetSectionInto<Calls>(file, section, buffer); });
         }) != 0;
}

bool ReadAllSectionNames(ProfileFile& file, std::wstring& names) {
  return ReadIn(file, {}, names, [&](auto calls) -> DWORD {
           using Calls = decltype(calls);
           return ReadGrowingList<Calls>(
               names, [&](Buffer<Calls>& buffer) { return GetSectionNamesInto<Calls>(file, buffer); });
         }) != 0;
}

DWORD LastError() { return GetLastError(); }

std::string MessageFor(DWORD code) {
  std::string message(kMessageBufferSize, '\0');
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message.data(),
                 kMessageBufferSize, nullptr);
  message.resize(message.find('\0') == std::string::npos ? message.size() : message.find('\0'));
  return message;
}

}  // namespace profile_service
