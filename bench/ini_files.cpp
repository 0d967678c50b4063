#include "bench/ini_files.h"

#include <cstdio>
#include <stdexcept>

namespace bench {

TempFolder::TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  folder_ = std::wstring(temp) + L"tolvane-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64());
  if (!CreateDirectoryW(folder_.c_str(), nullptr)) throw std::runtime_error("cannot create the temporary folder");
}

TempFolder::~TempFolder() {
  Sleep(100);  // the last reads' windows end, and with them the lock files' handles
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      const std::wstring path = PathOf(found.cFileName);
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder_.c_str());
}

Pairs NumberedPairs(int count, const char* keyFormat, const char* valueFormat) {
  Pairs pairs;
  pairs.reserve(count);
  char key[64], value[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(key, sizeof key, keyFormat, i);
    std::snprintf(value, sizeof value, valueFormat, i);
    pairs.emplace_back(key, value);
  }
  return pairs;
}

std::string SectionText(const std::string& name, const Pairs& pairs) {
  std::string text = "[" + name + "]\r\n";
  for (const auto& [key, value] : pairs) text += key + "=" + value + "\r\n";
  return text;
}

std::string EntryList(const Pairs& pairs) {
  std::string list;
  for (const auto& [key, value] : pairs) {
    list += key + "=" + value;
    list += '\0';
  }
  list += '\0';
  return list;
}

void WriteIniFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write an INI file");
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= 3600ULL * 10'000'000ULL;  // an hour, in 100 ns units
  const FILETIME anHourAgo{time.LowPart, time.HighPart};
  SetFileTime(file, nullptr, nullptr, &anHourAgo);
  CloseHandle(file);
  if (!wrote || written != bytes.size()) throw std::runtime_error("cannot write an INI file");
}

std::string Ansi(const std::wstring& text) {
  const int size =
      WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string converted(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), converted.data(), size, nullptr, nullptr);
  return converted;
}

}  // namespace bench
