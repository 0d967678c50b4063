#include "profile_service/platform_functions.h"

#include <atomic>

namespace profile_service {
namespace {

template <typename Function>
void Bind(HMODULE kernel32, const char* name, Function& target) {
  target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

Functions BindFromKernel32() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  Functions bound{};
  Bind(kernel32, "GetPrivateProfileStringA", bound.getString);
  Bind(kernel32, "GetPrivateProfileSectionA", bound.getSection);
  Bind(kernel32, "GetPrivateProfileSectionNamesA", bound.getSectionNames);
  Bind(kernel32, "WritePrivateProfileStringA", bound.writeString);
  Bind(kernel32, "WritePrivateProfileSectionA", bound.writeSection);
  Bind(kernel32, "GetPrivateProfileStringW", bound.getStringW);
  Bind(kernel32, "GetPrivateProfileSectionW", bound.getSectionW);
  Bind(kernel32, "GetPrivateProfileSectionNamesW", bound.getSectionNamesW);
  Bind(kernel32, "WritePrivateProfileStringW", bound.writeStringW);
  Bind(kernel32, "WritePrivateProfileSectionW", bound.writeSectionW);
  return bound;
}

constinit std::atomic<const Functions*> replacement{nullptr};

}  // namespace

const Functions& PlatformFunctions() {
  static const Functions bound = BindFromKernel32();  // thread-safe first use
  return bound;
}

void ReplaceFunctionsForTesting(const Functions* functions) { replacement.store(functions); }

const Functions& ActiveFunctions() {
  if (const Functions* testing = replacement.load()) return *testing;
  return PlatformFunctions();
}

void ForgetPlatformCopy(const std::wstring& file) {
  const DWORD kept = GetLastError();
  ActiveFunctions().writeStringW(nullptr, nullptr, nullptr, file.c_str());
  SetLastError(kept);
}

}  // namespace profile_service
