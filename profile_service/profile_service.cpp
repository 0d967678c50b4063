#include "profile_service/profile_service.h"

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
  return bound;
}

constinit std::atomic<const Functions*> replacement{nullptr};

const Functions& Service() {
  if (const Functions* testing = replacement.load()) return *testing;
  return PlatformFunctions();
}

// The service must never be handed an absent or empty file name.
bool RefuseFileName(const AnsiText& file) {
  if (!file.View().empty()) return false;
  SetLastError(ERROR_INVALID_NAME);
  return true;
}

DWORD Size(const Buffer& buffer) { return static_cast<DWORD>(buffer.size()); }

// Reads a list into a buffer that grows until the list fits. The service cuts a list
// that does not fit and returns the buffer size less 2, so only a shorter count is whole.
template <typename ReadList>
bool ReadGrowingList(std::string& list, ReadList read) {
  DWORD size = kListBufferSize;
  for (;;) {
    list = MakeBuffer(size);
    const DWORD count = read(list);
    if (count + 2 < size) {
      list.resize(count);
      return count != 0;
    }
    size *= 2;
  }
}

}  // namespace

const Functions& PlatformFunctions() {
  static const Functions bound = BindFromKernel32();  // thread-safe first use
  return bound;
}

void ReplaceFunctionsForTesting(const Functions* functions) { replacement.store(functions); }

DWORD ReadString(const AnsiText& section, const AnsiText& key, const char* defaultText, Buffer& buffer,
                 const AnsiText& file) {
  if (RefuseFileName(file)) return 0;
  return Service().getString(section.Argument(), key.Argument(), defaultText, buffer.data(), Size(buffer),
                             file.Argument());
}

DWORD ReadSection(const AnsiText& section, Buffer& buffer, const AnsiText& file) {
  if (RefuseFileName(file)) return 0;
  return Service().getSection(section.Argument(), buffer.data(), Size(buffer), file.Argument());
}

DWORD ReadSectionNames(Buffer& buffer, const AnsiText& file) {
  if (RefuseFileName(file)) return 0;
  return Service().getSectionNames(buffer.data(), Size(buffer), file.Argument());
}

BOOL WriteString(const AnsiText& section, const AnsiText& key, const AnsiText& value, const AnsiText& file) {
  if (RefuseFileName(file)) return FALSE;
  return Service().writeString(section.Argument(), key.Argument(), value.Argument(), file.Argument());
}

BOOL WriteSection(const AnsiText& section, const char* entries, const AnsiText& file) {
  if (RefuseFileName(file)) return FALSE;
  return Service().writeSection(section.Argument(), entries, file.Argument());
}

bool ReadWholeSection(const AnsiText& section, std::string& entries, const AnsiText& file) {
  return ReadGrowingList(entries, [&](Buffer& buffer) { return ReadSection(section, buffer, file); });
}

bool ReadAllSectionNames(std::string& names, const AnsiText& file) {
  return ReadGrowingList(names, [&](Buffer& buffer) { return ReadSectionNames(buffer, file); });
}

DWORD LastError() { return GetLastError(); }

std::string MessageFor(DWORD code) {
  Buffer message = MakeBuffer(kMessageBufferSize);
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message.data(),
                 kMessageBufferSize, nullptr);
  message.resize(message.find('\0') == std::string::npos ? message.size() : message.find('\0'));
  return message;
}

}  // namespace profile_service
