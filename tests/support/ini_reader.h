// INI text read back the way the profile functions read it, for tests that check what a
// call left in a file: sections in order, each with its lines as written; names compared
// without regard to case or surrounding blanks.
#pragma once

#include <string>
#include <vector>

namespace ini_reader {

// Lower case, ASCII letters only (the profile functions' own comparison for the names
// these tests use).
std::string Lowercase(std::string text);
// Whether the profile functions take the two section or key names for one.
bool SameName(const std::string& a, const std::string& b);
std::string Trimmed(const std::string& text);

struct IniSection {
  std::string name;  // trimmed; "" for the lines before the first header
  std::vector<std::string> lines;
};

struct IniFile {
  std::vector<IniSection> sections;
  // What the file syntax would read as something else than was written, one text for
  // each such line, saying what is wrong: a header with "]" inside its name or none at
  // its end, a line without "=", a key beginning with ";" or "[", a stray CR, LF or NUL,
  // a last line without its line break.
  std::vector<std::string> misread;

  const IniSection* Find(const std::string& name) const;
};

IniFile ReadIni(const std::string& bytes);

// The key of an entry line ("k=v" -> "k"), lower-cased and trimmed.
std::string KeyOf(const std::string& line);
bool HasLine(const IniSection* section, const std::string& line);
bool HasKey(const IniSection* section, const std::string& key);

}  // namespace ini_reader
