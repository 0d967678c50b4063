// What the processes of the file-sharing test do to one shared file, and what the file
// must hold afterwards: the workers and the test read both from here.
#pragma once

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ini_reader.h"

namespace file_sharing {

using Pairs = std::vector<std::pair<std::string, std::string>>;
// Section name -> its "key=value" lines, sorted.
using Sections = std::map<std::string, std::vector<std::string>>;

enum class Member { WriteValue, CreateKeyAndValue, SectionWriteAtOnce };
struct Write {
  Member member;
  std::string section;
  Pairs pairs;  // one pair for the single-key members
};

inline constexpr int kRenamedSections = 10;

inline std::string Numbered(const std::string& prefix, int number) { return prefix + std::to_string(number); }
inline constexpr char kReaderSection[] = "fixed";
inline constexpr char kReaderKey[] = "key";
inline constexpr char kReaderValue[] = "untouched";

// Writer `writer`'s calls, each into sections that only it writes: `keys` keys through
// WriteValue and as many through CreateKeyAndValue, and a whole section of five pairs
// through SectionWriteAtOnce every tenth key.
inline std::vector<Write> WritesOf(int writer, int keys) {
  const std::string single = Numbered("w", writer), created = Numbered("c", writer);
  std::vector<Write> writes;
  for (int k = 0; k < keys; ++k) {
    const std::string key = Numbered("key", k);
    writes.push_back({Member::WriteValue, single, {{key, Numbered(single + "v", k)}}});
    writes.push_back({Member::CreateKeyAndValue, created, {{key, Numbered(created + "v", k)}}});
    if (k % 10 != 0) continue;
    const std::string section = Numbered(Numbered("s", writer) + ".", k);
    Pairs pairs;
    for (int p = 0; p < 5; ++p) pairs.push_back({Numbered("pair", p), Numbered(section + "v", p)});
    writes.push_back({Member::SectionWriteAtOnce, section, pairs});
  }
  return writes;
}

// The renamer renames key "old" of section "r<j>" to "new", then the section to "moved<j>".
inline std::string RenamedSection(int j) { return Numbered("r", j); }
inline std::string MovedSection(int j) { return Numbered("moved", j); }

// The churners change one file again and again until they are killed: one writes key
// "c" of section "counter", one renames section "moving" to "moved" and back. Section
// "big" makes each write long.
inline constexpr int kBigEntries = 3000, kMovingEntries = 800;
inline std::string ChurnedFile() {
  std::string file = "[big]\r\n";
  for (int i = 0; i < kBigEntries; ++i) file += Numbered("key", i) + "=" + Numbered("a fairly long value ", i) + "\r\n";
  file += "[counter]\r\nc=0\r\n[moving]\r\n";
  for (int i = 0; i < kMovingEntries; ++i) file += Numbered("m", i) + "=" + Numbered("v", i) + "\r\n";
  return file;
}

// The file before the workers start: the reader's key and the sections to be renamed.
inline std::string InitialFile() {
  std::string file = std::string("[") + kReaderSection + "]\r\n" + kReaderKey + "=" + kReaderValue + "\r\n";
  for (int j = 0; j < kRenamedSections; ++j) {
    file += "[";
    file += RenamedSection(j) + "]\r\n" + Numbered("old=a", j) + "\r\n" + Numbered("kept=b", j) + "\r\n";
  }
  return file;
}

// The file after `writers` writers of `keys` keys each, and the renamer when `renamed`.
inline Sections ExpectedFile(int writers, int keys, bool renamed) {
  Sections expected;
  expected[kReaderSection] = {std::string(kReaderKey) + "=" + kReaderValue};
  for (int j = 0; j < kRenamedSections; ++j) {
    expected[renamed ? MovedSection(j) : RenamedSection(j)] = {Numbered(renamed ? "new=a" : "old=a", j),
                                                               Numbered("kept=b", j)};
  }
  for (int writer = 0; writer < writers; ++writer) {
    for (const Write& write : WritesOf(writer, keys)) {
      for (const auto& [key, value] : write.pairs) expected[write.section].push_back(key + "=" + value);
    }
  }
  for (auto& [section, lines] : expected) std::sort(lines.begin(), lines.end());
  return expected;
}

// Whatever in the file departs from `expected`: lines the file syntax would misread, a
// section header seen twice, missing and unexpected lines.
inline std::vector<std::string> Departures(const std::string& bytes, const Sections& expected) {
  const ini_reader::IniFile read = ini_reader::ReadIni(bytes);
  std::vector<std::string> departures = read.misread;
  Sections found;
  for (const ini_reader::IniSection& section : read.sections) {
    if (found.count(section.name)) departures.push_back("section header twice: [" + section.name + "]");
    std::vector<std::string>& lines = found[section.name];
    lines.insert(lines.end(), section.lines.begin(), section.lines.end());
  }
  for (auto& [name, sectionLines] : found) std::sort(sectionLines.begin(), sectionLines.end());
  Sections all = expected;
  all.insert(found.begin(), found.end());
  const std::vector<std::string> none;
  for (const auto& [name, unused] : all) {
    const std::vector<std::string>& want = expected.count(name) ? expected.at(name) : none;
    const std::vector<std::string>& have = found.count(name) ? found.at(name) : none;
    std::vector<std::string> missing, extra;  // sorted differences count repeated lines too
    std::set_difference(want.begin(), want.end(), have.begin(), have.end(), std::back_inserter(missing));
    std::set_difference(have.begin(), have.end(), want.begin(), want.end(), std::back_inserter(extra));
    if (!expected.count(name)) departures.push_back("unexpected section [" + name + "]");
    for (const std::string& line : missing) departures.push_back("missing from [" + name + "]: " + line);
    for (const std::string& line : extra) departures.push_back("unexpected in [" + name + "]: " + line);
  }
  return departures;
}

}  // namespace file_sharing
