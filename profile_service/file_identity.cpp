#include "profile_service/file_identity.h"

#include <windows.h>

#include <cstdint>
#include <optional>

namespace profile_service {
namespace {

std::wstring FullPathOf(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return {};
  full.resize(length);
  return full;
}

std::optional<std::wstring> ExistingLongPath(const std::wstring& path) {
  const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring expanded(needed, L'\0');
  const DWORD length = GetLongPathNameW(path.c_str(), expanded.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  expanded.resize(length);
  return expanded;
}

// Only what exists can be expanded: the file, or else the folder that will hold it.
std::wstring LongForm(const std::wstring& path) {
  if (!MayHoldShortNames(path)) return path;
  if (std::optional<std::wstring> expanded = ExistingLongPath(path)) return *expanded;
  const size_t leaf = path.find_last_of(L"\\/");
  if (leaf == std::wstring::npos) return path;
  std::optional<std::wstring> folder = ExistingLongPath(path.substr(0, leaf + 1));
  if (!folder) return path;
  while (!folder->empty() && (folder->back() == L'\\' || folder->back() == L'/')) folder->pop_back();
  return *folder + L"\\" + path.substr(leaf + 1);
}

// File names compare without regard to case.
std::wstring Folded(std::wstring path) {
  if (path.empty()) return path;
  std::wstring folded(path.size(), L'\0');
  const int length = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()),
                                  folded.data(), static_cast<int>(folded.size()));
  return length == static_cast<int>(path.size()) ? folded : path;
}

bool StartsWithFolded(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && Folded(std::wstring(text.substr(0, prefix.size()))) == prefix;
}

// The path without what only spells it differently to the system: "/" for "\", a
// device-path prefix (\\?\ or \\.\, and \\?\UNC\ for \\), and the name of a file's unnamed
// data stream. Without the prefix, "." and ".." are resolved again, as the prefix had
// kept them.
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
      Folded(plain.substr(plain.size() - kDataStream.size())) == kDataStream) {
    plain.resize(plain.size() - kDataStream.size());
  }
  if (plain == path) return path;
  const std::wstring full = FullPathOf(plain);
  return full.empty() ? plain : full;
}

}  // namespace

std::wstring ResolvedPath(std::wstring_view name) {
  if (name.empty()) return {};
  if (!ResolvesIntoWindowsFolder(name)) return FullPathOf(std::wstring(name));
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return FullPathOf(std::wstring(windows, length) + L"\\" + std::wstring(name));
}

// Kernel object names are limited in length and may not hold "\", so the path is hashed
// (FNV-1a, 64 bits, over its UTF-16 code units). A collision would only make two files
// share one lock.
std::wstring LockNameOf(const std::wstring& resolvedPath) {
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : Folded(LongForm(WithoutAliases(resolvedPath)))) {
    const auto unit = static_cast<std::uint16_t>(c);
    for (int shift : {0, 8}) {
      hash ^= (unit >> shift) & 0xFF;
      hash *= 1099511628211ull;
    }
  }
  wchar_t digits[17] = {};
  for (int i = 15; i >= 0; --i, hash >>= 4) digits[i] = L"0123456789ABCDEF"[hash & 0xF];
  // The protocol's version: 2 since waiters wait without a turn and holders are named
  // by their thread's creation time.
  return std::wstring(L"Local\\VoskTolvane.IniFile.2.") + digits;
}

}  // namespace profile_service
