#include "profile_service/platform_functions.h"

#include <atomic>
#include <string>
#include <type_traits>

namespace profile_service {
namespace {

// The functions of one kind, each named with its kind's suffix: "A" or "W".
template <typename Char>
ProfileFunctions<Char> BindFromKernel32(const char* suffix) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  ProfileFunctions<Char> bound{};
  const auto bind = [&](const char* name, auto& target) {
    const std::string named = name + std::string(suffix);
    target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, named.c_str())));
  };
  bind("GetPrivateProfileString", bound.getString);
  bind("GetPrivateProfileSection", bound.getSection);
  bind("GetPrivateProfileSectionNames", bound.getSectionNames);
  bind("WritePrivateProfileString", bound.writeString);
  bind("WritePrivateProfileSection", bound.writeSection);
  return bound;
}

constinit std::atomic<const Functions*> replacement{nullptr};

}  // namespace

const Functions& PlatformFunctions() {
  static const Functions bound{BindFromKernel32<char>("A"), BindFromKernel32<wchar_t>("W")};  // thread-safe first use
  return bound;
}

void ReplaceFunctionsForTesting(const Functions* functions) { replacement.store(functions); }

const Functions& ActiveFunctions() {
  if (const Functions* testing = replacement.load()) return *testing;
  return PlatformFunctions();
}

void ForgetPlatformCopy(const std::wstring& file) {
  const DWORD kept = GetLastError();
  ActiveFunctions().wide.writeString(nullptr, nullptr, nullptr, file.c_str());
  SetLastError(kept);
}

}  // namespace profile_service
