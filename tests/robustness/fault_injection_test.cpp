// Service failures at every step: each operation is run once to count its calls to the
// profile service, then once for every one of those calls with that call failing (a zero
// result and ERROR_ACCESS_DENIED, as the platform fails). The file must end either as it
// was or as the operation leaves it, never half-written. A rename is built from several
// writes, so it may also stop with its copy partly or wholly made; but then its source is
// still there whole, and nothing that was in the file is lost.
#include <functional>

#include "tests/robustness/robustness_support.h"

namespace robustness {
namespace {

constexpr char kBefore[] = "[s]\r\nk=1\r\nj=2\r\n[t]\r\nk=3\r\nz=9\r\n[e]\r\n[x]\r\nq=\" quoted \"\r\n";

// A parsed file: sections in order, each with its lines in order.
struct Section {
  std::string name;
  std::vector<std::string> lines;
};
using File = std::vector<Section>;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

File Parse(const std::string& bytes) {
  File file;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(start, end - start);
    start = end + 2;
    if (!line.empty() && line.front() == '[' && line.back() == ']') {
      file.push_back({line.substr(1, line.size() - 2), {}});
    } else {
      if (file.empty()) file.push_back({"", {}});
      file.back().lines.push_back(line);
    }
  }
  return file;
}

const Section* Find(const File& file, const std::string& name) {
  for (const Section& section : file) {
    if (Lower(section.name) == Lower(name)) return &section;
  }
  return nullptr;
}

std::string KeyOf(const std::string& line) { return Lower(line.substr(0, line.find('='))); }

bool HasLine(const Section* section, const std::string& line) {
  return section && std::find(section->lines.begin(), section->lines.end(), line) != section->lines.end();
}
bool HasKey(const Section* section, const std::string& key) {
  if (!section) return false;
  for (const std::string& line : section->lines) {
    if (KeyOf(line) == Lower(key)) return true;
  }
  return false;
}

std::string Shown(const std::optional<std::string>& bytes) {
  if (!bytes) return "(no file)";
  std::string shown;
  for (char c : *bytes) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return shown;
}

// What a rename may leave when one of its writes fails: sections it does not name as
// they were; its source whole; in its target, only lines that were there before or that
// the rename puts there, and every key that was there before.
void ExpectNothingLost(const File& before, const File& after, const File& now, const std::string& sourceSection,
                       const std::optional<std::string>& sourceKey, const std::string& targetSection) {
  for (const Section& section : before) {
    const std::string name = Lower(section.name);
    if (name == Lower(sourceSection) || name == Lower(targetSection)) continue;
    const Section* kept = Find(now, section.name);
    ASSERT_TRUE(kept) << "section " << section.name << " was lost";
    EXPECT_EQ(kept->lines, section.lines) << "section " << section.name << " changed";
  }
  const Section* sourceBefore = Find(before, sourceSection);
  const Section* sourceNow = Find(now, sourceSection);
  ASSERT_TRUE(sourceNow) << "the source section was lost";
  if (sourceKey) {
    for (const std::string& line : sourceBefore->lines) {
      if (KeyOf(line) == Lower(*sourceKey)) {
        EXPECT_TRUE(HasLine(sourceNow, line)) << "the source key was lost";
      }
    }
  } else {
    EXPECT_EQ(sourceNow->lines, sourceBefore->lines) << "the source section is not whole";
  }
  const Section* targetBefore = Find(before, targetSection);
  const Section* targetAfter = Find(after, targetSection);
  const Section* targetNow = Find(now, targetSection);
  if (targetBefore) {
    ASSERT_TRUE(targetNow) << "the target section was lost";
    for (const std::string& line : targetBefore->lines) {
      EXPECT_TRUE(HasKey(targetNow, KeyOf(line))) << "key " << KeyOf(line) << " of the target was lost";
    }
  }
  if (targetNow) {
    for (const std::string& line : targetNow->lines) {
      EXPECT_TRUE(HasLine(targetBefore, line) || HasLine(targetAfter, line)) << "stray line " << line;
    }
  }
}

std::wstring SystemMessage(DWORD code) {
  wchar_t message[256] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message, 256, nullptr);
  return message;
}

struct Scenario {
  enum Kind { Single, RenameKey, RenameSection };
  const char* name;
  std::function<HRESULT(_Tolvane*)> call;
  Kind kind;
  std::string source, target;            // renames: the sections
  std::optional<std::string> sourceKey;  // RenameKey: the key
  bool reports;                          // says so in LastErrorA when it changes nothing
};

using Call = std::function<HRESULT(_Tolvane*)>;
Scenario Single(const char* name, Call call, bool reports = true) {
  return {name, std::move(call), Scenario::Single, "", "", std::nullopt, reports};
}
Scenario KeyRename(const char* name, Call call, const std::string& section, const std::string& key) {
  return {name, std::move(call), Scenario::RenameKey, section, section, key, false};
}
Scenario SectionRename(const char* name, Call call, const std::string& source, const std::string& target) {
  return {name, std::move(call), Scenario::RenameSection, source, target, std::nullopt, false};
}

HRESULT WriteValue(_Tolvane* object, const wchar_t* section, const wchar_t* key, const wchar_t* value) {
  UniqueBstr s = Bstr(section), k = Bstr(key), v = Bstr(value);
  VARIANT_BOOL written = VARIANT_FALSE;
  return object->WriteValue(s.InOut(), k.InOut(), v.InOut(), &written);
}
HRESULT CreateKeyAndValue(_Tolvane* object, const wchar_t* section, const wchar_t* key, const wchar_t* value) {
  UniqueBstr s = Bstr(section), k = Bstr(key), v = Bstr(value);
  VARIANT_BOOL written = VARIANT_FALSE;
  return object->CreateKeyAndValue(s.Get(), k.Get(), v.Get(), &written);
}
HRESULT SectionAdd(_Tolvane* object, const wchar_t* section) {
  UniqueBstr s = Bstr(section);
  VARIANT_BOOL added = VARIANT_FALSE;
  return object->SectionAdd(s.Get(), &added);
}
HRESULT SectionWriteAtOnce(_Tolvane* object, const wchar_t* section, std::vector<Text> keys,
                           std::vector<Text> values) {
  UniqueBstr s = Bstr(section);
  UniqueSafeArray k = TextArray(keys), v = TextArray(values);
  SAFEARRAY* keySlot = k.Get();
  SAFEARRAY* valueSlot = v.Get();
  LONG last = 0;
  return object->SectionWriteAtOnce(s.InOut(), &keySlot, &valueSlot, &last);
}
HRESULT RenameKey(_Tolvane* object, const wchar_t* section, const wchar_t* current, const wchar_t* renamed) {
  UniqueBstr s = Bstr(section), c = Bstr(current), r = Bstr(renamed);
  return object->RenameKey(s.Get(), c.Get(), r.Get());
}
HRESULT RenameSection(_Tolvane* object, const wchar_t* current, const wchar_t* renamed) {
  UniqueBstr c = Bstr(current), r = Bstr(renamed);
  return object->RenameSection(c.Get(), r.Get());
}

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      Single("WriteValue, an existing key", [](_Tolvane* o) { return WriteValue(o, L"s", L"k", L"new"); }),
      Single("WriteValue, a new key", [](_Tolvane* o) { return WriteValue(o, L"s", L"n", L"v"); }),
      Single("WriteValue, a new section", [](_Tolvane* o) { return WriteValue(o, L"n", L"k", L"v"); }),
      Single("CreateKeyAndValue", [](_Tolvane* o) { return CreateKeyAndValue(o, L"t", L"K", L"new"); }),
      Single(
          "DeleteKey",
          [](_Tolvane* o) {
            UniqueBstr s = Bstr(L"s"), k = Bstr(L"k");
            return o->DeleteKey(s.Get(), k.Get());
          },
          false),
      Single(
          "DeleteSection",
          [](_Tolvane* o) {
            UniqueBstr s = Bstr(L"t");
            return o->DeleteSection(s.Get());
          },
          false),
      Single("SectionAdd, a missing section", [](_Tolvane* o) { return SectionAdd(o, L"n"); }),
      Single("SectionAdd, a section with keys", [](_Tolvane* o) { return SectionAdd(o, L"s"); }),
      Single("SectionAdd, an empty section", [](_Tolvane* o) { return SectionAdd(o, L"E"); }),
      Single("SectionWriteAtOnce, an existing section",
             [](_Tolvane* o) { return SectionWriteAtOnce(o, L"t", {L"a", L"b"}, {L"1", L"2"}); }),
      Single("SectionWriteAtOnce, a new section",
             [](_Tolvane* o) { return SectionWriteAtOnce(o, L"n", {L"a"}, {L"1"}); }),
      Single("SectionWriteAtOnce, no pairs", [](_Tolvane* o) { return SectionWriteAtOnce(o, L"s", {}, {}); }),
      Single("ReadValue",
             [](_Tolvane* o) {
               UniqueBstr s = Bstr(L"s"), k = Bstr(L"k");
               UniqueBstr value;
               return o->ReadValue(s.InOut(), k.InOut(), value.InOut());
             }),
      Single("ReadSection",
             [](_Tolvane* o) {
               UniqueBstr s = Bstr(L"s");
               SAFEARRAY* keys = nullptr;
               SAFEARRAY* values = nullptr;
               UniqueVariant result;
               const HRESULT status = o->ReadSection(s.InOut(), &keys, &values, result.Get());
               UniqueSafeArray ownedKeys(keys), ownedValues(values);
               return status;
             }),
      Single("SectionsCount",
             [](_Tolvane* o) {
               LONG count = 0;
               return o->get_SectionsCount(&count);
             }),
      KeyRename("RenameKey, to a new name", [](_Tolvane* o) { return RenameKey(o, L"s", L"k", L"n"); }, "s", "k"),
      KeyRename("RenameKey, onto an existing key", [](_Tolvane* o) { return RenameKey(o, L"s", L"k", L"J"); }, "s",
                "k"),
      KeyRename("RenameKey, a quoted value", [](_Tolvane* o) { return RenameKey(o, L"x", L"q", L"r"); }, "x", "q"),
      SectionRename("RenameSection, to a new section", [](_Tolvane* o) { return RenameSection(o, L"s", L"n"); },
                    "s", "n"),
      SectionRename("RenameSection, into an existing section",
                    [](_Tolvane* o) { return RenameSection(o, L"s", L"T"); }, "s", "t"),
      SectionRename("RenameSection, an empty section to a new one",
                    [](_Tolvane* o) { return RenameSection(o, L"e", L"n"); }, "e", "n"),
      SectionRename("RenameSection, an empty section into one with keys",
                    [](_Tolvane* o) { return RenameSection(o, L"e", L"t"); }, "e", "t"),
  };
  return scenarios;
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    file_ = folder_.PathOf(L"faults.ini");
  }
  void TearDown() override { CoUninitialize(); }

  // Runs the scenario on a fresh object over a fresh copy of the file, the service
  // failing its call number `failAt` (0: none). Returns the status and how many calls
  // the service received.
  struct Run {
    HRESULT status;
    int calls;
    bool failed;
    std::wstring description;
    std::wstring lastError;
    std::vector<std::string> callNames;
  };
  Run RunOnce(const Scenario& scenario, int failAt) {
    WriteBytes(file_, kBefore);
    ComPtr<_Tolvane> object = NewObject();
    SetFileName(object.Get(), file_);
    FailingService service(failAt);
    SetErrorInfo(0, nullptr);
    Run run{};
    run.status = scenario.call(object.Get());
    run.calls = service.Calls();
    run.failed = service.Failed();
    run.callNames = service.CallNames();
    if (FAILED(run.status)) run.description = TakeErrorDescription();
    run.lastError = LastErrorOf(object.Get());
    return run;
  }

  IniFolder folder_;
  std::wstring file_;
};

TEST_F(FaultInjection, EveryFailingServiceCallLeavesTheFileBeforeOrAfterAndLosesNothing) {
  int runs = 0;
  for (const Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.name);
    const Run clean = RunOnce(scenario, 0);
    ASSERT_EQ(clean.status, S_OK);
    ASSERT_GT(clean.calls, 0);
    const std::optional<std::string> after = ReadBytes(file_);
    ASSERT_TRUE(after);
    for (int failAt = 1; failAt <= clean.calls; ++failAt) {
      const Run run = RunOnce(scenario, failAt);
      ++runs;
      std::string calls;
      for (const std::string& name : run.callNames) calls += name + " ";
      SCOPED_TRACE("call " + std::to_string(failAt) + " of " + std::to_string(clean.calls) + " failed: " + calls);
      EXPECT_TRUE(run.failed);
      ExpectExplained(run.status, run.description);
      const std::optional<std::string> now = ReadBytes(file_);
      ASSERT_TRUE(now);
      if (*now == kBefore && *now != *after && scenario.kind == Scenario::Single && scenario.reports) {
        EXPECT_FALSE(run.lastError.empty()) << "nothing was done, and nothing was said";
      }
      if (*now == kBefore || *now == *after) continue;
      if (scenario.kind == Scenario::Single) {
        ADD_FAILURE() << "half-done: " << Shown(now) << "\n  before: " << Shown(kBefore) << "\n  after:  "
                      << Shown(after);
        continue;
      }
      // A rename that stopped part-way: its source whole, and nothing lost.
      ExpectNothingLost(Parse(kBefore), Parse(*after), Parse(*now), scenario.source, scenario.sourceKey,
                        scenario.target);
    }
  }
  printf("%d runs with one failing service call\n", runs);
}

// The outcome a caller sees when the one write of a single-write member fails: the
// member's failure value and the system's message.
TEST_F(FaultInjection, AFailedWriteIsReportedAndChangesNothing) {
  struct Case {
    const char* name;
    std::function<LONG(_Tolvane*)> call;
    LONG failure;
  };
  const Case cases[] = {
      {"WriteValue",
       [](_Tolvane* o) {
         UniqueBstr s = Bstr(L"s"), k = Bstr(L"k"), v = Bstr(L"v");
         VARIANT_BOOL written = VARIANT_TRUE;
         EXPECT_EQ(o->WriteValue(s.InOut(), k.InOut(), v.InOut(), &written), S_OK);
         return static_cast<LONG>(written);
       },
       VARIANT_FALSE},
      {"CreateKeyAndValue",
       [](_Tolvane* o) {
         UniqueBstr s = Bstr(L"s"), k = Bstr(L"k"), v = Bstr(L"v");
         VARIANT_BOOL written = VARIANT_TRUE;
         EXPECT_EQ(o->CreateKeyAndValue(s.Get(), k.Get(), v.Get(), &written), S_OK);
         return static_cast<LONG>(written);
       },
       VARIANT_FALSE},
      {"SectionAdd",
       [](_Tolvane* o) {
         UniqueBstr s = Bstr(L"new");
         VARIANT_BOOL added = VARIANT_TRUE;
         EXPECT_EQ(o->SectionAdd(s.Get(), &added), S_OK);
         return static_cast<LONG>(added);
       },
       VARIANT_FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Fail every write: whichever write the member makes first.
    for (int failAt = 1; failAt <= 6; ++failAt) {
      WriteBytes(file_, kBefore);
      ComPtr<_Tolvane> object = NewObject();
      SetFileName(object.Get(), file_);
      LONG result = 0;
      std::vector<std::string> names;
      {
        FailingService service(failAt);
        result = c.call(object.Get());
        names = service.CallNames();
      }
      if (names.size() < static_cast<size_t>(failAt) || names[failAt - 1].rfind("write", 0) != 0) continue;
      EXPECT_EQ(result, c.failure) << "call " << failAt;
      EXPECT_EQ(ReadBytes(file_), kBefore);
      EXPECT_EQ(LastErrorOf(object.Get()), SystemMessage(ERROR_ACCESS_DENIED));
    }
  }
}

}  // namespace
}  // namespace robustness
