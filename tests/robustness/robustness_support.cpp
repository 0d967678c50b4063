#include "tests/robustness/robustness_support.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "automation/class_factory.h"
#include "com_types/identity.h"
#include "profile_object/fault.h"

namespace robustness {

// ---- Texts ----------------------------------------------------------------------------------

std::string Printable(const Text& text) {
  if (!text) return "(absent)";
  std::string shown = "\"";
  const size_t shownLength = std::min<size_t>(text->size(), 40);
  for (size_t i = 0; i < shownLength; ++i) {
    const wchar_t c = (*text)[i];
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[12];
      snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      shown += escaped;
    }
  }
  shown += "\"";
  if (text->size() > shownLength) shown += "... (" + std::to_string(text->size()) + " characters)";
  return shown;
}

std::vector<std::wstring> AbsentAsEmpty(const std::vector<Text>& texts) {
  std::vector<std::wstring> strings;
  for (const Text& text : texts) strings.push_back(text.value_or(L""));
  return strings;
}

// ---- Calls -----------------------------------------------------------------------------------

bool IsKnownFault(HRESULT status) {
  switch (status) {
    case profile_object::kInvalidArgument:
    case profile_object::kOverflow:
    case profile_object::kSubscriptOutOfRange:
    case profile_object::kArrayFixedOrLocked:
    case profile_object::kTypeMismatch:
    case E_POINTER: return true;
    default: return false;
  }
}

std::wstring TakeErrorDescription() {
  const std::optional<dispatch_calls::ErrorInformation> taken = dispatch_calls::TakeErrorInformation();
  return taken ? taken->description.value_or(L"") : L"";
}

void ExpectExplained(HRESULT status, const std::wstring& errorDescription) {
  if (SUCCEEDED(status)) return;
  EXPECT_TRUE(IsKnownFault(status)) << "status 0x" << std::hex << static_cast<ULONG>(status);
  if (status != E_POINTER) {
    EXPECT_FALSE(errorDescription.empty()) << "status 0x" << std::hex << status;
  }
}

void ExpectExplained(const Outcome& outcome) {
  const HRESULT status = outcome.status;
  if (SUCCEEDED(status)) return;
  if (status == DISP_E_EXCEPTION) {
    EXPECT_TRUE(IsKnownFault(outcome.exception.scode))
        << "exception code 0x" << std::hex << static_cast<ULONG>(outcome.exception.scode);
    EXPECT_FALSE(outcome.exception.description.value_or(L"").empty())
        << "exception code 0x" << std::hex << static_cast<ULONG>(outcome.exception.scode);
    return;
  }
  // The standard dispatch's own refusals of arguments it cannot pass.
  EXPECT_TRUE(status == DISP_E_TYPEMISMATCH || status == DISP_E_BADVARTYPE || status == DISP_E_BADPARAMCOUNT ||
              status == DISP_E_PARAMNOTOPTIONAL)
      << "status 0x" << std::hex << static_cast<ULONG>(status);
}

// ---- The process -----------------------------------------------------------------------------

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PagefileUsage;
}

uint32_t SeedFrom(const char* name) {
  uint32_t seed = 0;
  if (const char* given = std::getenv(name); given && *given) {
    seed = static_cast<uint32_t>(std::strtoul(given, nullptr, 0));
  } else {
    seed = std::random_device{}() ^ GetTickCount() ^ (GetCurrentProcessId() << 16);
  }
  printf("%s=%u (set %s to replay)\n", name, seed, name);
  fflush(stdout);
  ::testing::Test::RecordProperty(name, std::to_string(seed));
  return seed;
}

ComPtr<_Tolvane> NewObject() {
  ComPtr<IClassFactory> factory;
  if (FAILED(automation::GetClassObject(com_types::kClassId, IID_IClassFactory,
                                        reinterpret_cast<void**>(factory.Put())))) {
    return {};
  }
  ComPtr<_Tolvane> object;
  factory->CreateInstance(nullptr, com_types::kInterfaceId, reinterpret_cast<void**>(object.Put()));
  return object;
}

void SetFileName(_Tolvane* object, const std::wstring& path) {
  UniqueBstr name = Bstr(path);
  EXPECT_EQ(object->put_IniFileName(name.InOut()), S_OK);
}

std::wstring LastErrorOf(_Tolvane* object) {
  UniqueBstr text;
  EXPECT_EQ(object->get_LastErrorA(text.InOut()), S_OK);
  return TextOf(text.Get()).value_or(L"");
}

}  // namespace robustness
