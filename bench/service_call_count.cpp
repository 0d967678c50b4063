#include "bench/service_call_count.h"

#include "profile_service/profile_service.h"

namespace bench {
namespace {

ServiceCalls counted;

const profile_service::Functions& Platform() { return profile_service::PlatformFunctions(); }

DWORD WINAPI CountGetString(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer, DWORD size, LPCSTR file) {
  ++counted.getString;
  return Platform().getString(section, key, defaultText, buffer, size, file);
}

DWORD WINAPI CountGetSection(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file) {
  ++counted.getSection;
  return Platform().getSection(section, buffer, size, file);
}

DWORD WINAPI CountGetSectionNames(LPSTR buffer, DWORD size, LPCSTR file) {
  ++counted.getSectionNames;
  return Platform().getSectionNames(buffer, size, file);
}

BOOL WINAPI CountWriteString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  ++counted.writeString;
  return Platform().writeString(section, key, value, file);
}

BOOL WINAPI CountWriteSection(LPCSTR section, LPCSTR entries, LPCSTR file) {
  ++counted.writeSection;
  return Platform().writeSection(section, entries, file);
}

constexpr profile_service::Functions kCounting{CountGetString, CountGetSection, CountGetSectionNames, CountWriteString,
                                               CountWriteSection};

}  // namespace

std::string ServiceCalls::Breakdown() const {
  return "GetPrivateProfileStringA " + std::to_string(getString) + ", GetPrivateProfileSectionA " +
         std::to_string(getSection) + ", GetPrivateProfileSectionNamesA " + std::to_string(getSectionNames) +
         ", WritePrivateProfileStringA " + std::to_string(writeString) + ", WritePrivateProfileSectionA " +
         std::to_string(writeSection);
}

ServiceCallCounter::ServiceCallCounter() {
  Platform();  // bind the platform's functions before the wrappers are in place
  counted = {};
  profile_service::ReplaceFunctionsForTesting(&kCounting);
}

ServiceCallCounter::~ServiceCallCounter() { profile_service::ReplaceFunctionsForTesting(nullptr); }

const ServiceCalls& ServiceCallCounter::Calls() const { return counted; }

}  // namespace bench
