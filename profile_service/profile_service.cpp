#include "profile_service/profile_service.h"

#include <atomic>
#include <initializer_list>

#include "profile_service/file_identity.h"

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

bool Refuse(DWORD code) {
  SetLastError(code);
  return true;
}

// The platform resolves the name into a MAX_PATH buffer; a longer path is cut or runs
// past it, and the call then reaches some other file (or none, reporting success).
bool PathTooLong(const AnsiText& file) {
  const std::string_view name = file.View();
  if (name.size() >= MAX_PATH) return true;
  if (ResolvesIntoWindowsFolder(name)) {
    char windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    return length == 0 || length + 1 + name.size() >= MAX_PATH;
  }
  // An absolute path never resolves longer than it is written: only a relative one
  // needs resolving, which costs a few per cent of a cached read.
  if (IsAbsolutePath(name)) return false;
  const DWORD needed = GetFullPathNameA(file.Argument(), 0, nullptr, nullptr);  // counts the closing NUL
  return needed == 0 || needed > MAX_PATH;
}

// The service must never be handed an absent or empty file name, nor one that it would
// take for another: cut at an embedded NUL, or too long for its path buffer.
bool RefuseFileName(const AnsiText& file) {
  const std::string_view name = file.View();
  if (name.empty() || name.find('\0') != std::string_view::npos) return Refuse(ERROR_INVALID_NAME);
  if (PathTooLong(file)) return Refuse(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// The platform passes each section, key and value through a counted UTF-16 string of at
// most 32766 characters: a longer text arrives empty or as stray memory, and a text with
// an embedded NUL arrives cut at it. Either would read or write another section or key
// than the one named.
constexpr size_t kLongestText = 32766;

bool RefuseTexts(std::initializer_list<const AnsiText*> texts) {
  for (const AnsiText* text : texts) {
    const std::string_view view = text->View();
    if (view.size() > kLongestText || view.find('\0') != std::string_view::npos) {
      return Refuse(ERROR_INVALID_PARAMETER);
    }
  }
  return false;
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
  if (RefuseFileName(file) || RefuseTexts({&section, &key})) return 0;
  return Service().getString(section.Argument(), key.Argument(), defaultText, buffer.data(), Size(buffer),
                             file.Argument());
}

DWORD ReadSection(const AnsiText& section, Buffer& buffer, const AnsiText& file) {
  if (RefuseFileName(file) || RefuseTexts({&section})) return 0;
  return Service().getSection(section.Argument(), buffer.data(), Size(buffer), file.Argument());
}

DWORD ReadSectionNames(Buffer& buffer, const AnsiText& file) {
  if (RefuseFileName(file)) return 0;
  return Service().getSectionNames(buffer.data(), Size(buffer), file.Argument());
}

BOOL WriteString(const AnsiText& section, const AnsiText& key, const AnsiText& value, const AnsiText& file) {
  // Without a section there is nothing to write or remove (Wine crashes looking for it).
  if (RefuseFileName(file) || RefuseTexts({&section, &key, &value}) ||
      (section.IsAbsent() && Refuse(ERROR_INVALID_PARAMETER))) {
    return FALSE;
  }
  return Service().writeString(section.Argument(), key.Argument(), value.Argument(), file.Argument());
}

BOOL WriteSection(const AnsiText& section, const char* entries, const AnsiText& file) {
  // Without a section there is nothing to replace (Wine crashes looking for it).
  if (RefuseFileName(file) || RefuseTexts({&section}) || (section.IsAbsent() && Refuse(ERROR_INVALID_PARAMETER))) {
    return FALSE;
  }
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
