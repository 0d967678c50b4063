#include "tests/support/ini_reader.h"

#include <algorithm>
#include <cctype>

namespace ini_reader {

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) { return Lowercase(Trimmed(a)) == Lowercase(Trimmed(b)); }

const IniSection* IniFile::Find(const std::string& name) const {
  for (const IniSection& section : sections) {
    if (SameName(section.name, name)) return &section;
  }
  return nullptr;
}

namespace {

// What the file syntax would misread in `line`; empty when nothing.
std::string MisreadingOf(const std::string& line) {
  if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return "a stray CR, LF or NUL";
  if (!line.empty() && line[0] == '[') {
    return line.back() != ']' || line.find(']') != line.size() - 1 ? "a malformed section header" : "";
  }
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return "a line without \"=\"";
  const std::string key = Trimmed(line.substr(0, equals));
  if (!key.empty() && (key[0] == ';' || key[0] == '[')) return "a key that reads as something else";
  return "";
}

}  // namespace

IniFile ReadIni(const std::string& bytes) {
  IniFile file;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      file.misread.push_back("the file does not end with a line break");
      end = bytes.size();
    }
    const std::string line = bytes.substr(start, end - start);
    start = end + 2;
    if (const std::string misreading = MisreadingOf(line); !misreading.empty()) {
      file.misread.push_back(misreading + ": " + line);
    }
    if (!line.empty() && line[0] == '[') {
      file.sections.push_back({Trimmed(line.substr(1, line.find(']') - 1)), {}});
      continue;
    }
    if (file.sections.empty()) file.sections.push_back({"", {}});
    file.sections.back().lines.push_back(line);
  }
  return file;
}

std::string KeyOf(const std::string& line) { return Lowercase(Trimmed(line.substr(0, line.find('=')))); }

bool HasLine(const IniSection* section, const std::string& line) {
  return section && std::find(section->lines.begin(), section->lines.end(), line) != section->lines.end();
}

bool HasKey(const IniSection* section, const std::string& key) {
  if (!section) return false;
  return std::any_of(section->lines.begin(), section->lines.end(),
                     [&](const std::string& line) { return KeyOf(line) == KeyOf(key); });
}

}  // namespace ini_reader
