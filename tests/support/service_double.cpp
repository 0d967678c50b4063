#include "tests/support/service_double.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "profile_service/profile_service.h"

namespace service_double {

namespace service = profile_service;

namespace {

ServiceDouble* active = nullptr;

const service::Functions& Platform() { return service::PlatformFunctions(); }

// As the platform answers a value read: the value cut to fit, and the count copied.
template <typename Char>
DWORD CopyValue(const std::basic_string<Char>& value, Char* buffer, DWORD size) {
  if (size == 0) return 0;
  const DWORD count = std::min<DWORD>(static_cast<DWORD>(value.size()), size - 1);
  std::memcpy(buffer, value.data(), count * sizeof(Char));
  buffer[count] = Char{};
  return count;
}

// As the platform answers a list read: the count copied less the list's closing NUL or,
// for a list that does not fit, the list cut and the buffer size less 2.
template <typename Char>
DWORD CopyList(const std::basic_string<Char>& list, Char* buffer, DWORD size) {
  if (size < 2) return 0;
  if (list.size() <= size) {
    std::memcpy(buffer, list.data(), list.size() * sizeof(Char));
    return static_cast<DWORD>(list.size() - 1);
  }
  std::memcpy(buffer, list.data(), (size - 2) * sizeof(Char));
  buffer[size - 2] = buffer[size - 1] = Char{};
  return size - 2;
}

constexpr ServiceFunction kAllFunctions[] = {ServiceFunction::GetString, ServiceFunction::GetSection,
                                             ServiceFunction::GetSectionNames, ServiceFunction::WriteString,
                                             ServiceFunction::WriteSection};

}  // namespace

// Of two things, the one for calls in `Char` texts: the first for the ANSI calls, the
// second for the wide-character ones.
template <typename Char, typename Ansi, typename Wide>
constexpr auto Pick(Ansi ansi, Wide wide) {
  if constexpr (std::is_same_v<Char, char>) {
    return ansi;
  } else {
    return wide;
  }
}

// The functions put in the platform's place, for the ANSI and the wide-character calls
// alike; each asks the double in place what to do.
struct StandInFunctions {
  using Functions = service::Functions;
  static const MemoryAnswers* FromMemory() { return active->behaviour_.fromMemory; }
  template <typename Char>
  static const std::basic_string<Char>& ValueAnswer() {
    return *Pick<Char>(&FromMemory()->value, &active->wideAnswers_.first);
  }
  template <typename Char>
  static const std::basic_string<Char>& SectionAnswer() {
    return *Pick<Char>(&FromMemory()->sectionList, &active->wideAnswers_.second);
  }

  template <typename Char>
  static DWORD WINAPI GetString(const Char* section, const Char* key, const Char* fallback, Char* buffer, DWORD size,
                                const Char* file) {
    if (active->FailThisCall(ServiceFunction::GetString)) return 0;
    if (FromMemory()) return CopyValue(ValueAnswer<Char>(), buffer, size);
    return Platform().Of<Char>().getString(section, key, fallback, buffer, size, file);
  }
  template <typename Char>
  static DWORD WINAPI GetSection(const Char* section, Char* buffer, DWORD size, const Char* file) {
    if (active->FailThisCall(ServiceFunction::GetSection)) return 0;
    if (FromMemory()) return CopyList(SectionAnswer<Char>(), buffer, size);
    return Platform().Of<Char>().getSection(section, buffer, size, file);
  }
  template <typename Char>
  static DWORD WINAPI GetSectionNames(Char* buffer, DWORD size, const Char* file) {
    if (active->FailThisCall(ServiceFunction::GetSectionNames)) return 0;
    return Platform().Of<Char>().getSectionNames(buffer, size, file);
  }
  template <typename Char>
  static BOOL WINAPI WriteString(const Char* section, const Char* key, const Char* value, const Char* file) {
    if (active->FailThisCall(ServiceFunction::WriteString)) return FALSE;
    return Written(Platform().Of<Char>().writeString(section, key, value, file), file);
  }
  template <typename Char>
  static BOOL WINAPI WriteSection(const Char* section, const Char* entries, const Char* file) {
    if (active->FailThisCall(ServiceFunction::WriteSection)) return FALSE;
    if (FromMemory()) return TRUE;
    return Written(Platform().Of<Char>().writeSection(section, entries, file), file);
  }

  // A write that reported success, cut short as a full disk cuts it.
  template <typename Char>
  static BOOL Written(BOOL written, const Char* file) {
    const std::optional<LONGLONG> cut = active->behaviour_.cutWrittenFileAt;
    if (!written || !cut) return written;
    HANDLE handle =
        std::is_same_v<Char, char>
            ? CreateFileA(reinterpret_cast<const char*>(file), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)
            : CreateFileW(reinterpret_cast<const wchar_t*>(file), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size{}, at{};
    if (GetFileSizeEx(handle, &size) && size.QuadPart > *cut) at.QuadPart = *cut < 0 ? size.QuadPart + *cut : *cut;
    if (at.QuadPart > 0 && SetFilePointerEx(handle, at, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    CloseHandle(handle);
    return written;
  }

  template <typename Char>
  static constexpr service::ProfileFunctions<Char> kFunctions{
      &GetString<Char>, &GetSection<Char>, &GetSectionNames<Char>, &WriteString<Char>, &WriteSection<Char>};
  static constexpr Functions kTable{kFunctions<char>, kFunctions<wchar_t>};
};

const char* NameOf(ServiceFunction function) {
  switch (function) {
    case ServiceFunction::GetString: return "GetPrivateProfileStringA";
    case ServiceFunction::GetSection: return "GetPrivateProfileSectionA";
    case ServiceFunction::GetSectionNames: return "GetPrivateProfileSectionNamesA";
    case ServiceFunction::WriteString: return "WritePrivateProfileStringA";
    case ServiceFunction::WriteSection: return "WritePrivateProfileSectionA";
  }
  return "?";
}

bool IsWrite(ServiceFunction function) {
  return function == ServiceFunction::WriteString || function == ServiceFunction::WriteSection;
}

ServiceDouble::ServiceDouble(Behaviour behaviour) : behaviour_(behaviour) {
  if (const MemoryAnswers* answers = behaviour.fromMemory) {
    wideAnswers_ = {std::wstring(answers->value.begin(), answers->value.end()),
                    std::wstring(answers->sectionList.begin(), answers->sectionList.end())};
  }
  if (active) throw std::logic_error("one service double at a time");
  Platform();  // bind the platform's functions before the double is in place
  active = this;
  service::ReplaceFunctionsForTesting(&StandInFunctions::kTable);
}

ServiceDouble::~ServiceDouble() {
  service::ReplaceFunctionsForTesting(nullptr);
  active = nullptr;
}

int ServiceDouble::CallsTo(ServiceFunction function) const {
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), function));
}

std::string ServiceDouble::Breakdown() const {
  std::string text;
  for (ServiceFunction function : kAllFunctions) {
    if (!text.empty()) text += ", ";
    text += std::string(NameOf(function)) + " " + std::to_string(CallsTo(function));
  }
  return text;
}

bool ServiceDouble::FailThisCall(ServiceFunction function) {
  calls_.push_back(function);
  if (static_cast<int>(calls_.size()) != behaviour_.failAt) return false;
  failed_ = true;
  SetLastError(ERROR_ACCESS_DENIED);
  return true;
}

}  // namespace service_double
