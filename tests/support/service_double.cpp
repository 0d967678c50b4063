#include "tests/support/service_double.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

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

// The functions put in the platform's place; each asks the double in place what to do.
struct StandInFunctions {
  static const MemoryAnswers* FromMemory() { return active->behaviour_.fromMemory; }
  static const std::wstring& WideValue() { return active->wideAnswers_.first; }
  static const std::wstring& WideSectionList() { return active->wideAnswers_.second; }

  static DWORD WINAPI GetString(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer, DWORD size, LPCSTR file) {
    if (active->FailThisCall(ServiceFunction::GetString)) return 0;
    if (FromMemory()) return CopyValue(FromMemory()->value, buffer, size);
    return Platform().getString(section, key, fallback, buffer, size, file);
  }
  static DWORD WINAPI GetSection(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file) {
    if (active->FailThisCall(ServiceFunction::GetSection)) return 0;
    if (FromMemory()) return CopyList(FromMemory()->sectionList, buffer, size);
    return Platform().getSection(section, buffer, size, file);
  }
  static DWORD WINAPI GetSectionNames(LPSTR buffer, DWORD size, LPCSTR file) {
    if (active->FailThisCall(ServiceFunction::GetSectionNames)) return 0;
    return Platform().getSectionNames(buffer, size, file);
  }
  static BOOL WINAPI WriteString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    if (active->FailThisCall(ServiceFunction::WriteString)) return FALSE;
    return Platform().writeString(section, key, value, file);
  }
  static BOOL WINAPI WriteSection(LPCSTR section, LPCSTR entries, LPCSTR file) {
    if (active->FailThisCall(ServiceFunction::WriteSection)) return FALSE;
    if (FromMemory()) return TRUE;
    return Platform().writeSection(section, entries, file);
  }

  // The wide-character calls, logged, failed and answered alike.
  static DWORD WINAPI GetStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR buffer, DWORD size,
                                 LPCWSTR file) {
    if (active->FailThisCall(ServiceFunction::GetString)) return 0;
    if (FromMemory()) return CopyValue(WideValue(), buffer, size);
    return Platform().getStringW(section, key, fallback, buffer, size, file);
  }
  static DWORD WINAPI GetSectionW(LPCWSTR section, LPWSTR buffer, DWORD size, LPCWSTR file) {
    if (active->FailThisCall(ServiceFunction::GetSection)) return 0;
    if (FromMemory()) return CopyList(WideSectionList(), buffer, size);
    return Platform().getSectionW(section, buffer, size, file);
  }
  static DWORD WINAPI GetSectionNamesW(LPWSTR buffer, DWORD size, LPCWSTR file) {
    if (active->FailThisCall(ServiceFunction::GetSectionNames)) return 0;
    return Platform().getSectionNamesW(buffer, size, file);
  }
  static BOOL WINAPI WriteStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
    if (active->FailThisCall(ServiceFunction::WriteString)) return FALSE;
    return Platform().writeStringW(section, key, value, file);
  }
  static BOOL WINAPI WriteSectionW(LPCWSTR section, LPCWSTR entries, LPCWSTR file) {
    if (active->FailThisCall(ServiceFunction::WriteSection)) return FALSE;
    if (FromMemory()) return TRUE;
    return Platform().writeSectionW(section, entries, file);
  }

  static constexpr service::Functions kTable{&GetString,  &GetSection,  &GetSectionNames,  &WriteString,  &WriteSection,
                                             &GetStringW, &GetSectionW, &GetSectionNamesW, &WriteStringW, &WriteSectionW};
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
