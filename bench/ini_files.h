// The benchmark's INI files: real files in a folder of its own under the temporary
// directory, removed with everything in it when the run ends.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace bench {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::wstring PathOf(const std::wstring& name) const { return folder_ + L"\\" + name; }

 private:
  std::wstring folder_;
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

// `count` pairs, key and value each made by a printf format from the pair's index.
Pairs NumberedPairs(int count, const char* keyFormat, const char* valueFormat);
// "[name]\r\nk=v\r\n..." as the service itself writes a section.
std::string SectionText(const std::string& name, const Pairs& pairs);
// "k=v\0...\0\0", as the whole-section functions take and give an entry list.
std::string EntryList(const Pairs& pairs);

// Writes the file and dates it an hour back. The platform's profile functions keep a
// parsed copy of a file only once it is a few seconds old; before that they parse it
// again on every call, which would hide the cost of everything else.
void WriteIniFile(const std::wstring& path, const std::string& bytes);

std::string Ansi(const std::wstring& text);

}  // namespace bench
