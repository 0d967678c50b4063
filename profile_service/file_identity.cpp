#include "profile_service/file_identity.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "com_types/owners.h"

namespace profile_service {
namespace {

// The Windows folder, without a closing "\\" (empty when the system cannot tell).
const std::wstring& WindowsFolder() {
  static const std::wstring folder = [] {  // thread-safe first use
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    return length < MAX_PATH ? std::wstring(windows, length) : std::wstring();
  }();
  return folder;
}

// A name without a folder, a drive or a separator is opened in the Windows folder, not
// in the current one.
bool ResolvesIntoWindowsFolder(std::wstring_view name) {
  return name.find_first_of(L"\\/:") == std::wstring_view::npos;
}

// A name that depends on the current folder: neither in the Windows folder nor absolute
// (from a drive's root, a share or a device path: alike from any folder, never longer).
bool DependsOnCurrentFolder(std::wstring_view name) {
  const bool absolute = (name.size() >= 3 && name[1] == L':' && (name[2] == L'\\' || name[2] == L'/')) ||
                        name.starts_with(L"\\\\") || name.starts_with(L"//");
  return !name.empty() && !absolute && !ResolvesIntoWindowsFolder(name);
}

// Calls `fill(buffer, size)` with a buffer of MAX_PATH, then of the size the call asks for,
// until the answer fits (another thread may lengthen the current folder meanwhile); empty
// when the call fails.
template <typename Fill>
std::optional<std::wstring> GrowingAnswer(Fill fill) {
  DWORD size = MAX_PATH;
  for (int attempt = 0; size != 0 && attempt < 8; ++attempt) {
    std::wstring answer(size, L'\0');
    const DWORD length = fill(answer.data(), size);
    if (length == 0) break;
    if (length < size) {
      answer.resize(length);
      return answer;
    }
    size = length + 1;
  }
  return std::nullopt;
}

std::wstring FullPathOf(const std::wstring& path) {
  return GrowingAnswer(
             [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); })
      .value_or(L"");
}

std::optional<std::wstring> ExistingLongPath(const std::wstring& path) {
  return GrowingAnswer([&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(path.c_str(), buffer, size); });
}

// Only what exists can be expanded: the file, or else the folder that will hold it. Short
// 8.3 names always hold a "~".
std::wstring LongForm(const std::wstring& path) {
  if (path.find(L'~') == std::wstring::npos) return path;
  if (std::optional<std::wstring> expanded = ExistingLongPath(path)) return *expanded;
  const size_t leaf = path.find_last_of(L"\\/");
  if (leaf == std::wstring::npos) return path;
  std::optional<std::wstring> folder = ExistingLongPath(path.substr(0, leaf + 1));
  if (!folder) return path;
  while (!folder->empty() && (folder->back() == L'\\' || folder->back() == L'/')) folder->pop_back();
  return *folder + L"\\" + path.substr(leaf + 1);
}

bool StartsWithFolded(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && SamePath(text.substr(0, prefix.size()), prefix);
}

// The path without what only spells it differently to the system. Without a device-path
// prefix, "." and ".." are resolved again, as the prefix had kept them.
std::wstring WithoutAliases(std::wstring path) {
  for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
  std::wstring plain = path;
  if (StartsWithFolded(plain, L"\\\\?\\UNC\\") || StartsWithFolded(plain, L"\\\\.\\UNC\\")) {
    plain = L"\\\\" + plain.substr(8);
  } else if (plain.starts_with(L"\\\\?\\") || plain.starts_with(L"\\\\.\\")) {
    plain = plain.substr(4);
  }
  constexpr std::wstring_view kDataStream = L"::$DATA";
  if (plain.size() > kDataStream.size() &&
      SamePath(std::wstring_view(plain).substr(plain.size() - kDataStream.size()), kDataStream)) {
    plain.resize(plain.size() - kDataStream.size());
  }
  if (plain == path) return path;
  const std::wstring full = FullPathOf(plain);
  return full.empty() ? plain : full;
}

std::wstring ResolvedPath(std::wstring_view name) {
  if (name.empty()) return {};
  if (!ResolvesIntoWindowsFolder(name)) return FullPathOf(std::wstring(name));
  if (WindowsFolder().empty()) return {};
  return FullPathOf(WindowsFolder() + L"\\" + std::wstring(name));
}

std::wstring FoldedPath(std::wstring path) {
  if (path.empty()) return path;
  std::wstring folded(path.size(), L'\0');
  const int length = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()),
                                  folded.data(), static_cast<int>(folded.size()));
  return length == static_cast<int>(path.size()) ? folded : path;
}

// The platform resolves a name into a MAX_PATH buffer: a name without a folder is
// appended to the Windows folder's path as it is, any other resolved to its full path.
bool TooLong(const std::wstring& name, const std::wstring& resolved) {
  if (resolved.empty()) return true;
  if (ResolvesIntoWindowsFolder(name)) return WindowsFolder().size() + 1 + name.size() >= MAX_PATH;
  return resolved.size() >= MAX_PATH;
}

// `path` in the ANSI code page, when it crosses there and back unchanged.
std::optional<AnsiText> ExactAnsiOf(const std::wstring& path) {
  std::string ansi;
  AppendNearestMatch(ansi, path);
  if (WideOf(ansi) != path) return std::nullopt;
  return AnsiText(std::move(ansi));
}

}  // namespace

FileNames::FileNames(const AnsiText& name) : given(name), forAnsiCalls(name) {
  const std::string_view bytes = name.View();
  if (bytes.empty() || bytes.find('\0') != std::string_view::npos) {
    refusal = ERROR_INVALID_NAME;
    return;
  }
  const std::wstring wide = WideOf(bytes);
  resolved = ResolvedPath(wide);
  forWideCalls = wide;
  if (DependsOnCurrentFolder(wide)) {
    forWideCalls = resolved;
    forAnsiCalls = ExactAnsiOf(resolved);
  }
  if (TooLong(wide, resolved)) refusal = ERROR_FILENAME_EXCED_RANGE;
}

const FileNames::LockNames& FileNames::Lock() const {
  if (!lock_) {
    const std::wstring longPath = resolved.empty() ? L"" : LongForm(WithoutAliases(resolved));
    const std::wstring lockPath = longPath.empty() ? L"" : longPath + kLockFileSuffix;
    lock_ = LockNames{longPath, lockPath, FoldedPath(lockPath)};
  }
  return *lock_;
}

bool MappedToRegistry(const std::wstring& path) {
  const size_t leaf = path.find_last_of(L'\\');
  if (WindowsFolder().empty() || leaf != WindowsFolder().size() ||
      !SamePath(std::wstring_view(path).substr(0, leaf), WindowsFolder())) {
    return false;
  }
  const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\" + path.substr(leaf + 1);
  com_types::UniqueRegistryKey mapping;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, mapping.Put()) ==
         ERROR_SUCCESS;
}

bool SamePath(std::wstring_view one, std::wstring_view other) {
  if (one.empty() || other.empty()) return one.size() == other.size();  // the call refuses a null text
  return CompareStringOrdinal(one.data(), static_cast<int>(one.size()), other.data(), static_cast<int>(other.size()),
                              TRUE) == CSTR_EQUAL;
}

std::optional<FileIdentity> IdentityOf(HANDLE file, const std::wstring& path, bool remembered) {
  using Query = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, FILE_INFORMATION_CLASS);
  static const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQueryInformationFile")));
  constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
  IO_STATUS_BLOCK status{};
  LARGE_INTEGER index{};
  if (!query || query(file, &status, &index, sizeof index, kFileInternalInformation) < 0) return std::nullopt;
  FileIdentity identity{0, static_cast<std::uint64_t>(index.QuadPart)};
  struct Known {
    std::mutex guard;
    std::vector<std::pair<std::wstring, FileIdentity>> entries;  // the newest last
  };
  static Known& remembers = *new Known;  // never destroyed: the keeper may ask at process exit
  std::lock_guard<std::mutex> held(remembers.guard);
  auto& known = remembers.entries;
  const auto same = [&](const auto& entry) { return entry.first == path && entry.second.index == identity.index; };
  if (const auto found = std::find_if(known.begin(), known.end(), same); remembered && found != known.end()) {
    return found->second;
  }
  DWORD volume = 0;
  if (GetVolumeInformationByHandleW(file, nullptr, 0, &volume, nullptr, nullptr, nullptr, 0)) identity.volume = volume;
  std::erase_if(known, same);
  if (known.size() >= 32) known.erase(known.begin());
  known.emplace_back(path, identity);
  return identity;
}

}  // namespace profile_service
