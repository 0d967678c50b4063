#include "profile_service/file_identity.h"

#include <windows.h>

#include <cstdint>
#include <optional>

#include "profile_service/ansi_text.h"

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

// File names compare without regard to case, and "/" and "\" separate alike.
std::wstring Folded(std::wstring path) {
  for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
  if (path.empty()) return path;
  std::wstring folded(path.size(), L'\0');
  const int length = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()),
                                  folded.data(), static_cast<int>(folded.size()));
  return length == static_cast<int>(path.size()) ? folded : path;
}

}  // namespace

std::wstring OpenedPath(std::string_view name) {
  if (name.empty()) return {};
  const com_types::UniqueBstr wide = WideFromAnsi(name);
  std::wstring path(wide.Get(), wide.Length());
  if (ResolvesIntoWindowsFolder(name)) {
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    path = std::wstring(windows, length) + L"\\" + path;
  }
  return FullPathOf(path);
}

// Kernel object names are limited in length and may not hold "\", so the path is hashed
// (FNV-1a, 64 bits, over its UTF-16 code units). A collision would only make two files
// share one lock.
std::wstring LockNameOf(const std::wstring& openedPath) {
  std::uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : Folded(LongForm(openedPath))) {
    const auto unit = static_cast<std::uint16_t>(c);
    for (int shift : {0, 8}) {
      hash ^= (unit >> shift) & 0xFF;
      hash *= 1099511628211ull;
    }
  }
  wchar_t digits[17] = {};
  for (int i = 15; i >= 0; --i, hash >>= 4) digits[i] = L"0123456789ABCDEF"[hash & 0xF];
  return std::wstring(L"Local\\VoskTolvane.IniFile.") + digits;
}

}  // namespace profile_service
