#include "bench/service_stand_in.h"

#include <algorithm>
#include <cstring>

#include "profile_service/profile_service.h"

namespace bench {
namespace {

const StandInAnswers* answers = nullptr;

// As the platform answers: the value cut to fit, and the count of what was copied.
DWORD WINAPI ReadStringFromMemory(LPCSTR, LPCSTR, LPCSTR, LPSTR buffer, DWORD size, LPCSTR) {
  if (size == 0) return 0;
  const DWORD count = std::min<DWORD>(static_cast<DWORD>(answers->value.size()), size - 1);
  std::memcpy(buffer, answers->value.data(), count);
  buffer[count] = '\0';
  return count;
}

// As the platform answers: the count of what was copied less the list's closing NUL,
// or, for a list that does not fit, the list cut and the buffer size less 2.
DWORD WINAPI ReadSectionFromMemory(LPCSTR, LPSTR buffer, DWORD size, LPCSTR) {
  if (size < 2) return 0;
  const std::string& list = answers->sectionList;  // with both closing NULs
  if (list.size() <= size) {
    std::memcpy(buffer, list.data(), list.size());
    return static_cast<DWORD>(list.size() - 1);
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = buffer[size - 1] = '\0';
  return size - 2;
}

BOOL WINAPI WriteSectionNowhere(LPCSTR, LPCSTR, LPCSTR) { return TRUE; }

}  // namespace

ServiceStandIn::ServiceStandIn(const StandInAnswers& given) {
  static profile_service::Functions standIn;
  standIn = profile_service::PlatformFunctions();
  standIn.getString = ReadStringFromMemory;
  standIn.getSection = ReadSectionFromMemory;
  standIn.writeSection = WriteSectionNowhere;
  answers = &given;
  profile_service::ReplaceFunctionsForTesting(&standIn);
}

ServiceStandIn::~ServiceStandIn() {
  profile_service::ReplaceFunctionsForTesting(nullptr);
  answers = nullptr;
}

}  // namespace bench
