// A random walk over every operation, applied at once to the object and to a small
// in-memory model of the INI file: sections in order, keys in order, names compared
// without regard to case. After each step the file's bytes must be exactly what the model
// renders, and every read must answer what the model holds. Names and values come from a
// small alphabet, so that keys meet under other cases, renames land on existing names,
// values are empty or longer than one read can return.
//
// The walk starts from a seed printed at the start; set ROBUSTNESS_MODEL_SEED to replay it.
#include <algorithm>
#include <cstdio>

#include "tests/robustness/robustness_support.h"
#include "tests/support/ini_reader.h"

namespace robustness {
namespace {

using Pair = std::pair<std::string, std::string>;
using ini_reader::SameName;

// What the service does with the file, as far as these operations reach it.
class Model {
 public:
  struct Section {
    std::string name;
    std::vector<Pair> entries;
  };

  std::string Bytes() const {
    std::string bytes;
    for (const Section& section : sections_) {
      bytes += "[" + section.name + "]\r\n";
      for (const auto& [key, value] : section.entries) bytes += key + "=" + value + "\r\n";
    }
    return bytes;
  }

  const Section* Find(const std::string& name) const {
    for (const Section& section : sections_) {
      if (SameName(section.name, name)) return &section;
    }
    return nullptr;
  }
  Section* Find(const std::string& name) { return const_cast<Section*>(std::as_const(*this).Find(name)); }
  static Pair* FindKey(Section& section, const std::string& key) {
    for (Pair& entry : section.entries) {
      if (SameName(entry.first, key)) return &entry;
    }
    return nullptr;
  }
  size_t SectionCount() const { return sections_.size(); }

  // A key is updated in place, keeping its name; a new key goes last, a new section last.
  void Write(const std::string& section, const std::string& key, const std::string& value) {
    Section* found = Find(section);
    if (!found) {
      sections_.push_back({section, {{key, value}}});
      return;
    }
    if (Pair* entry = FindKey(*found, key)) {
      entry->second = value;
    } else {
      found->entries.push_back({key, value});
    }
  }
  // The first key of that name goes; the section stays, even when it is left empty.
  void DeleteKey(const std::string& section, const std::string& key) {
    Section* found = Find(section);
    if (!found) return;
    auto entry = std::find_if(found->entries.begin(), found->entries.end(),
                              [&](const Pair& pair) { return SameName(pair.first, key); });
    if (entry != found->entries.end()) found->entries.erase(entry);
  }
  void DeleteSection(const std::string& section) {
    sections_.erase(
        std::remove_if(sections_.begin(), sections_.end(), [&](const Section& s) { return SameName(s.name, section); }),
        sections_.end());
  }
  void AddSection(const std::string& section) {
    if (!Find(section)) sections_.push_back({section, {}});
  }
  // The whole-section write keeps every pair as given, duplicates included; with no pair
  // at all the section goes.
  void WriteSection(const std::string& section, const std::vector<Pair>& pairs) {
    if (pairs.empty()) return DeleteSection(section);
    if (Section* found = Find(section)) {
      found->entries = pairs;
    } else {
      sections_.push_back({section, pairs});
    }
  }
  void RenameKey(const std::string& section, const std::string& current, const std::string& renamed) {
    if (SameName(current, renamed)) return;
    Section* found = Find(section);
    if (!found) return;
    const Pair* entry = FindKey(*found, current);
    if (!entry) return;
    const std::string value = entry->second;
    Write(section, renamed, value);
    DeleteKey(section, current);
  }
  void RenameSection(const std::string& current, const std::string& renamed) {
    if (SameName(current, renamed)) return;
    const Section* found = Find(current);
    if (!found) return;
    const std::vector<Pair> entries = found->entries;
    if (Find(renamed)) {
      // Key by key: of several lines under one key name only the first, the one readers
      // see, is carried over.
      std::vector<std::string> copied;
      for (const auto& [key, value] : entries) {
        if (std::find_if(copied.begin(), copied.end(), [&](const std::string& k) { return SameName(k, key); }) !=
            copied.end()) {
          continue;
        }
        copied.push_back(key);
        Write(renamed, key, value);
      }
    } else {
      sections_.push_back({renamed, entries});
    }
    DeleteSection(current);
  }

 private:
  std::vector<Section> sections_;
};

// ---- The object, through its function table ----------------------------------------------------

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class Walk : public test_support::ComApartment {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ComApartment::SetUp());
    object_ = NewObject();
    ASSERT_TRUE(object_);
    file_ = folder_.PathOf(L"walk.ini");
    SetFileName(object_.Get(), file_);
  }
  void TearDown() override {
    object_ = {};
    ComApartment::TearDown();
  }

  bool WriteValue(const std::string& section, const std::string& key, const std::string& value) {
    UniqueBstr s = Bstr(WideOfAscii(section)), k = Bstr(WideOfAscii(key)), v = Bstr(WideOfAscii(value));
    VARIANT_BOOL written = VARIANT_FALSE;
    EXPECT_EQ(object_->WriteValue(s.InOut(), k.InOut(), v.InOut(), &written), S_OK);
    return written == VARIANT_TRUE;
  }
  bool CreateKeyAndValue(const std::string& section, const std::string& key, const std::string& value) {
    UniqueBstr s = Bstr(WideOfAscii(section)), k = Bstr(WideOfAscii(key)), v = Bstr(WideOfAscii(value));
    VARIANT_BOOL written = VARIANT_FALSE;
    EXPECT_EQ(object_->CreateKeyAndValue(s.Get(), k.Get(), v.Get(), &written), S_OK);
    return written == VARIANT_TRUE;
  }
  std::optional<std::string> ReadValue(const std::string& section, const std::string& key) {
    UniqueBstr s = Bstr(WideOfAscii(section)), k = Bstr(WideOfAscii(key));
    UniqueBstr value;
    EXPECT_EQ(object_->ReadValue(s.InOut(), k.InOut(), value.InOut()), S_OK);
    const Text text = TextOf(value.Get());
    return text ? std::optional<std::string>(Narrow(*text)) : std::nullopt;
  }
  // The pairs read, or nullopt when ReadSection answered False.
  std::optional<std::vector<Pair>> ReadSection(const std::string& section) {
    UniqueBstr s = Bstr(WideOfAscii(section));
    SAFEARRAY* keys = nullptr;
    SAFEARRAY* values = nullptr;
    UniqueVariant result;
    EXPECT_EQ(object_->ReadSection(s.InOut(), &keys, &values, result.Get()), S_OK);
    UniqueSafeArray ownedKeys(keys), ownedValues(values);
    if (V_VT(result.Get()) == VT_BOOL) {
      EXPECT_EQ(V_BOOL(result.Get()), VARIANT_FALSE);
      EXPECT_EQ(keys, nullptr);
      return std::nullopt;
    }
    std::vector<Pair> pairs;
    const std::vector<std::wstring> k = AbsentAsEmpty(Elements(keys)), v = AbsentAsEmpty(Elements(values));
    EXPECT_EQ(k.size(), v.size());
    for (size_t i = 0; i < std::min(k.size(), v.size()); ++i) pairs.push_back({Narrow(k[i]), Narrow(v[i])});
    return pairs;
  }
  LONG SectionsCount() {
    LONG count = -2;
    EXPECT_EQ(object_->get_SectionsCount(&count), S_OK);
    return count;
  }

  IniFolder folder_;
  std::wstring file_;
  ComPtr<_Tolvane> object_;
};

const std::vector<std::string> kSections = {"s", "S", "t", "T", "u", "v w"};
const std::vector<std::string> kKeys = {"a", "A", "b", "B", "ab", "c d"};
const std::vector<std::string> kValues = {
    "", "1", "x y", "v=w", "z;[q]", std::string(300, 'L'), std::string(254, 'M') + "m"};

TEST_F(Walk, RandomOperationsKeepTheFileExactlyAsTheModelSaysAndLoseNothing) {
  const uint32_t seed = SeedFrom("ROBUSTNESS_MODEL_SEED");
  std::mt19937 random(seed);
  auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)];
  };
  Model model;
  constexpr int kSteps = 400;
  int reads = 0, writes = 0;
  std::string previous;
  for (int step = 1; step <= kSteps; ++step) {
    const int operation = std::uniform_int_distribution<int>(0, 10)(random);
    const std::string section = pick(kSections), other = pick(kSections);
    const std::string key = pick(kKeys), otherKey = pick(kKeys), value = pick(kValues);
    std::string done;
    switch (operation) {
      case 0:
        done = "WriteValue(" + section + ", " + key + ", " + value.substr(0, 8) + ")";
        EXPECT_TRUE(WriteValue(section, key, value)) << done;
        model.Write(section, key, value);
        break;
      case 1:
        done = "CreateKeyAndValue(" + section + ", " + key + ", " + value.substr(0, 8) + ")";
        EXPECT_TRUE(CreateKeyAndValue(section, key, value)) << done;
        model.Write(section, key, value);
        break;
      case 2: {
        done = "DeleteKey(" + section + ", " + key + ")";
        UniqueBstr s = Bstr(WideOfAscii(section)), k = Bstr(WideOfAscii(key));
        EXPECT_EQ(object_->DeleteKey(s.Get(), k.Get()), S_OK);
        model.DeleteKey(section, key);
        break;
      }
      case 3: {
        done = "RenameKey(" + section + ", " + key + ", " + otherKey + ")";
        UniqueBstr s = Bstr(WideOfAscii(section)), c = Bstr(WideOfAscii(key)), r = Bstr(WideOfAscii(otherKey));
        EXPECT_EQ(object_->RenameKey(s.Get(), c.Get(), r.Get()), S_OK);
        model.RenameKey(section, key, otherKey);
        break;
      }
      case 4: {
        done = "SectionAdd(" + section + ")";
        UniqueBstr s = Bstr(WideOfAscii(section));
        VARIANT_BOOL added = VARIANT_FALSE;
        EXPECT_EQ(object_->SectionAdd(s.Get(), &added), S_OK);
        EXPECT_EQ(added, VARIANT_TRUE) << done;
        model.AddSection(section);
        break;
      }
      case 5: {
        const int count = std::uniform_int_distribution<int>(0, 4)(random);
        std::vector<Text> keys, values;
        std::vector<Pair> pairs;
        for (int i = 0; i < count; ++i) {
          pairs.push_back({pick(kKeys), pick(kValues)});
          keys.push_back(WideOfAscii(pairs.back().first));
          values.push_back(WideOfAscii(pairs.back().second));
        }
        done = "SectionWriteAtOnce(" + section + ", " + std::to_string(count) + " pairs)";
        UniqueBstr s = Bstr(WideOfAscii(section));
        UniqueSafeArray k = TextArray(keys), v = TextArray(values);
        SAFEARRAY* keySlot = k.Get();
        SAFEARRAY* valueSlot = v.Get();
        LONG last = 12345;
        EXPECT_EQ(object_->SectionWriteAtOnce(s.InOut(), &keySlot, &valueSlot, &last), S_OK);
        EXPECT_EQ(last, count - 1) << done;
        model.WriteSection(section, pairs);
        break;
      }
      case 6: {
        done = "DeleteSection(" + section + ")";
        UniqueBstr s = Bstr(WideOfAscii(section));
        EXPECT_EQ(object_->DeleteSection(s.Get()), S_OK);
        model.DeleteSection(section);
        break;
      }
      case 7: {
        done = "RenameSection(" + section + ", " + other + ")";
        UniqueBstr c = Bstr(WideOfAscii(section)), r = Bstr(WideOfAscii(other));
        EXPECT_EQ(object_->RenameSection(c.Get(), r.Get()), S_OK);
        model.RenameSection(section, other);
        break;
      }
      case 8: {
        done = "ReadValue(" + section + ", " + key + ")";
        std::optional<std::string> expected;
        if (Model::Section* found = model.Find(section)) {
          if (Pair* entry = Model::FindKey(*found, key); entry && !entry->second.empty()) {
            expected = entry->second.substr(0, 254);
          }
        }
        EXPECT_EQ(ReadValue(section, key), expected) << done;
        ++reads;
        break;
      }
      case 9: {
        done = "ReadSection(" + section + ")";
        std::optional<std::vector<Pair>> expected;
        if (const Model::Section* found = model.Find(section); found && !found->entries.empty()) {
          expected = found->entries;
        }
        EXPECT_EQ(ReadSection(section), expected) << done;
        ++reads;
        break;
      }
      default:
        done = "SectionsCount";
        EXPECT_EQ(SectionsCount(), static_cast<LONG>(model.SectionCount())) << done;
        ++reads;
        break;
    }
    if (operation < 8) ++writes;
    const std::string bytes = ReadBytes(file_).value_or("");
    ASSERT_EQ(bytes, model.Bytes()) << "after step " << step << ": " << done << " (seed " << seed
                                    << "), from the file\n"
                                    << previous;
    previous = bytes;
    if (HasFailure()) {
      ADD_FAILURE() << "first failure at step " << step << ": " << done << " (seed " << seed << ")";
      return;
    }
  }
  // Everything the model holds reads back whole, section by section.
  for (const std::string& name : kSections) {
    const Model::Section* found = model.Find(name);
    std::optional<std::vector<Pair>> expected;
    if (found && !found->entries.empty()) expected = found->entries;
    EXPECT_EQ(ReadSection(name), expected) << name;
  }
  printf("%d steps: %d changes, %d reads; %zu sections at the end\n", kSteps, writes, reads, model.SectionCount());
}

}  // namespace
}  // namespace robustness
