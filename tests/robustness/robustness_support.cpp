#include "tests/robustness/robustness_support.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "automation/class_factory.h"
#include "automation/identity.h"

namespace robustness {

namespace service = profile_service;

// ---- FailingService -------------------------------------------------------------------------

namespace {

std::atomic<int> failAt{0};
std::atomic<int> calls{0};
std::atomic<bool> failed{false};
std::mutex namesLock;
std::vector<std::string> names;

// True when this call is the one chosen to fail; then the platform is not called at all.
bool FailThisCall(const char* name) {
  const int number = ++calls;
  {
    std::lock_guard<std::mutex> hold(namesLock);
    names.push_back(name);
  }
  if (number != failAt.load()) return false;
  failed = true;
  SetLastError(ERROR_ACCESS_DENIED);
  return true;
}

DWORD WINAPI GetString(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer, DWORD size, LPCSTR file) {
  if (FailThisCall("getString")) return 0;
  return service::PlatformFunctions().getString(section, key, fallback, buffer, size, file);
}
DWORD WINAPI GetSection(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file) {
  if (FailThisCall("getSection")) return 0;
  return service::PlatformFunctions().getSection(section, buffer, size, file);
}
DWORD WINAPI GetSectionNames(LPSTR buffer, DWORD size, LPCSTR file) {
  if (FailThisCall("getSectionNames")) return 0;
  return service::PlatformFunctions().getSectionNames(buffer, size, file);
}
BOOL WINAPI WriteString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  if (FailThisCall("writeString")) return FALSE;
  return service::PlatformFunctions().writeString(section, key, value, file);
}
BOOL WINAPI WriteSection(LPCSTR section, LPCSTR entries, LPCSTR file) {
  if (FailThisCall("writeSection")) return FALSE;
  return service::PlatformFunctions().writeSection(section, entries, file);
}

constexpr service::Functions kFailing{&GetString, &GetSection, &GetSectionNames, &WriteString, &WriteSection};

}  // namespace

FailingService::FailingService(int chosen) {
  failAt = chosen;
  calls = 0;
  failed = false;
  {
    std::lock_guard<std::mutex> hold(namesLock);
    names.clear();
  }
  service::ReplaceFunctionsForTesting(&kFailing);
}

FailingService::~FailingService() {
  service::ReplaceFunctionsForTesting(nullptr);
  failAt = 0;
}

int FailingService::Calls() const { return calls.load(); }
bool FailingService::Failed() const { return failed.load(); }
std::vector<std::string> FailingService::CallNames() const {
  std::lock_guard<std::mutex> hold(namesLock);
  return names;
}

// ---- Files -----------------------------------------------------------------------------------

std::optional<std::string> ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

Listing ListFiles(const std::wstring& folder, const std::wstring& pattern) {
  Listing listing;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return listing;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    listing[found.cFileName] = {size, found.ftLastWriteTime};
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return listing;
}

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return folder;
}

namespace {

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder() {
  static std::atomic<int> serial{0};
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"tolvane-robust-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++serial);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

// ---- Texts and arrays ------------------------------------------------------------------------

UniqueBstr Bstr(const Text& text) {
  return text ? UniqueBstr::Copy(text->data(), static_cast<UINT>(text->size())) : UniqueBstr();
}

Text TextOf(BSTR text) { return text ? Text(std::wstring(text, SysStringLen(text))) : std::nullopt; }

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

UniqueSafeArray TextArray(const std::vector<std::wstring>& elements, LONG lowerBound) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(elements.size()), lowerBound};
  UniqueSafeArray array(SafeArrayCreate(VT_BSTR, 1, &bound));
  if (!array.Get()) throw std::bad_alloc();
  if (!elements.empty()) {
    automation::SafeArrayData<BSTR> data(array.Get());
    for (size_t i = 0; i < elements.size(); ++i) data[i] = Bstr(elements[i]).Release();
  }
  return array;
}

std::vector<std::wstring> Elements(SAFEARRAY* array) {
  std::vector<std::wstring> elements;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    UniqueBstr element;
    SafeArrayGetElement(array, &i, element.InOut());
    elements.push_back(TextOf(element.Get()).value_or(L""));
  }
  return elements;
}

// ---- Calls -----------------------------------------------------------------------------------

bool IsKnownFault(HRESULT status) {
  switch (static_cast<ULONG>(status)) {
    case 0x800A0005:  // invalid procedure call or argument
    case 0x800A0006:  // overflow
    case 0x800A0009:  // subscript out of range
    case 0x800A000A:  // array fixed or temporarily locked
    case 0x800A000D:  // type mismatch
    case static_cast<ULONG>(E_POINTER):
      return true;
    default:
      return false;
  }
}

std::wstring TakeErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return L"";
  UniqueBstr description;
  info->GetDescription(description.InOut());
  return TextOf(description.Get()).value_or(L"");
}

namespace {

Outcome Call(IDispatch* object, DISPID dispid, WORD flags, std::vector<VARIANTARG> arguments,
             std::vector<DISPID> named) {
  std::reverse(arguments.begin(), arguments.end());
  DISPPARAMS parameters{arguments.data(), named.data(), static_cast<UINT>(arguments.size()),
                        static_cast<UINT>(named.size())};
  Outcome outcome;
  EXCEPINFO raw{};
  UINT argumentError = 0;
  SetErrorInfo(0, nullptr);
  outcome.status = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                                  outcome.result.Get(), &raw, &argumentError);
  if (raw.pfnDeferredFillIn) raw.pfnDeferredFillIn(&raw);
  const UniqueBstr source(raw.bstrSource), description(raw.bstrDescription), help(raw.bstrHelpFile);
  outcome.exception = {raw.scode, TextOf(source.Get()).value_or(L""), TextOf(description.Get()).value_or(L"")};
  return outcome;
}

}  // namespace

Outcome Invoke(IDispatch* object, DISPID dispid, WORD flags, std::vector<VARIANTARG> arguments) {
  return Call(object, dispid, flags, std::move(arguments), {});
}

Outcome PutProperty(IDispatch* object, DISPID dispid, VARIANTARG value) {
  return Call(object, dispid, DISPATCH_PROPERTYPUT, {value}, {DISPID_PROPERTYPUT});
}

VARIANTARG ByValue(BSTR text) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BSTR;
  V_BSTR(&argument) = text;
  return argument;
}

VARIANTARG ByReference(BSTR* text) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&argument) = text;
  return argument;
}

VARIANTARG ByReference(SAFEARRAY** textArray) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_ARRAY | VT_BSTR;
  V_ARRAYREF(&argument) = textArray;
  return argument;
}

VARIANTARG ByReference(VARIANT* variable) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&argument) = variable;
  return argument;
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
    EXPECT_FALSE(outcome.exception.description.empty())
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
  if (FAILED(automation::GetClassObject(automation::kClassId, IID_IClassFactory,
                                        reinterpret_cast<void**>(factory.Put())))) {
    return {};
  }
  ComPtr<_Tolvane> object;
  factory->CreateInstance(nullptr, automation::kInterfaceId, reinterpret_cast<void**>(object.Put()));
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
