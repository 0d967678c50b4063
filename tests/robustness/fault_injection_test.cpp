// Service failures at every step: each operation is run once to count its calls to the
// profile service, then once for every one of those calls with that call failing (a zero
// result and ERROR_ACCESS_DENIED, as the platform fails). The file must end either as it
// was or as the operation leaves it, never half-written. A rename is built from several
// writes, so it may also stop with its copy partly or wholly made; but then its source is
// still there whole, and nothing that was in the file is lost.
#include <functional>

#include "tests/robustness/robustness_support.h"
#include "tests/support/ini_reader.h"
#include "tests/support/service_double.h"

namespace robustness {
namespace {

using ini_reader::HasKey;
using ini_reader::HasLine;
using ini_reader::IniFile;
using ini_reader::IniSection;
using ini_reader::KeyOf;
using ini_reader::SameName;
using service_double::ServiceDouble;
using service_double::ServiceFunction;

constexpr char kBefore[] = "[s]\r\nk=1\r\nj=2\r\n[t]\r\nk=3\r\nz=9\r\n[e]\r\n[x]\r\nq=\" quoted \"\r\n";

std::string Shown(const std::optional<std::string>& bytes) {
  if (!bytes) return "(no file)";
  std::string shown;
  for (char c : *bytes) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return shown;
}

// What a rename may leave when one of its writes fails: sections it does not name as
// they were; its source whole; in its target, only lines that were there before or that
// the rename puts there, and every key that was there before.
void ExpectNothingLost(const IniFile& before, const IniFile& after, const IniFile& now,
                       const std::string& sourceSection, const std::optional<std::string>& sourceKey,
                       const std::string& targetSection) {
  for (const IniSection& section : before.sections) {
    if (SameName(section.name, sourceSection) || SameName(section.name, targetSection)) continue;
    const IniSection* kept = now.Find(section.name);
    ASSERT_TRUE(kept) << "section " << section.name << " was lost";
    EXPECT_EQ(kept->lines, section.lines) << "section " << section.name << " changed";
  }
  const IniSection* sourceBefore = before.Find(sourceSection);
  const IniSection* sourceNow = now.Find(sourceSection);
  ASSERT_TRUE(sourceNow) << "the source section was lost";
  if (sourceKey) {
    for (const std::string& line : sourceBefore->lines) {
      if (KeyOf(line) == KeyOf(*sourceKey)) {
        EXPECT_TRUE(HasLine(sourceNow, line)) << "the source key was lost";
      }
    }
  } else {
    EXPECT_EQ(sourceNow->lines, sourceBefore->lines) << "the source section is not whole";
  }
  const IniSection* targetBefore = before.Find(targetSection);
  const IniSection* targetAfter = after.Find(targetSection);
  const IniSection* targetNow = now.Find(targetSection);
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
HRESULT SectionWriteAtOnce(_Tolvane* object, const wchar_t* section, std::vector<Text> keys, std::vector<Text> values) {
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
             [](_Tolvane* o) {
               return SectionWriteAtOnce(o, L"t", {L"a", L"b"}, {L"1", L"2"});
             }),
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
      KeyRename(
          "RenameKey, to a new name", [](_Tolvane* o) { return RenameKey(o, L"s", L"k", L"n"); }, "s", "k"),
      KeyRename(
          "RenameKey, onto an existing key", [](_Tolvane* o) { return RenameKey(o, L"s", L"k", L"J"); }, "s", "k"),
      KeyRename(
          "RenameKey, a quoted value", [](_Tolvane* o) { return RenameKey(o, L"x", L"q", L"r"); }, "x", "q"),
      SectionRename(
          "RenameSection, to a new section", [](_Tolvane* o) { return RenameSection(o, L"s", L"n"); }, "s", "n"),
      SectionRename(
          "RenameSection, into an existing section", [](_Tolvane* o) { return RenameSection(o, L"s", L"T"); }, "s",
          "t"),
      SectionRename(
          "RenameSection, an empty section to a new one", [](_Tolvane* o) { return RenameSection(o, L"e", L"n"); }, "e",
          "n"),
      SectionRename(
          "RenameSection, an empty section into one with keys",
          [](_Tolvane* o) { return RenameSection(o, L"e", L"t"); }, "e", "t"),
  };
  return scenarios;
}

class FaultInjection : public test_support::ComApartment {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ComApartment::SetUp());
    file_ = folder_.PathOf(L"faults.ini");
  }

  // Runs the scenario on a fresh object over a fresh copy of the file, the service
  // failing its call number `failAt` (0: none). Returns the status and the calls the
  // service received.
  struct Run {
    HRESULT status;
    std::wstring description;
    std::wstring lastError;
    std::vector<ServiceFunction> calls;
    bool failed;
  };
  Run RunOnce(const Scenario& scenario, int failAt) {
    WriteBytes(file_, kBefore);
    ComPtr<_Tolvane> object = NewObject();
    SetFileName(object.Get(), file_);
    ServiceDouble service({.failAt = failAt});
    SetErrorInfo(0, nullptr);
    Run run{};
    run.status = scenario.call(object.Get());
    run.calls = service.Calls();
    run.failed = service.Failed();
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
    ASSERT_FALSE(clean.calls.empty());
    const std::optional<std::string> after = ReadBytes(file_);
    ASSERT_TRUE(after);
    const int callCount = static_cast<int>(clean.calls.size());
    for (int failAt = 1; failAt <= callCount; ++failAt) {
      const Run run = RunOnce(scenario, failAt);
      ++runs;
      std::string calls;
      for (ServiceFunction function : run.calls) calls += std::string(service_double::NameOf(function)) + " ";
      SCOPED_TRACE("call " + std::to_string(failAt) + " of " + std::to_string(callCount) + " failed: " + calls);
      EXPECT_TRUE(run.failed);
      ExpectExplained(run.status, run.description);
      const std::optional<std::string> now = ReadBytes(file_);
      ASSERT_TRUE(now);
      if (*now == kBefore && *now != *after && scenario.kind == Scenario::Single && scenario.reports) {
        EXPECT_FALSE(run.lastError.empty()) << "nothing was done, and nothing was said";
      }
      if (*now == kBefore || *now == *after) continue;
      if (scenario.kind == Scenario::Single) {
        ADD_FAILURE() << "half-done: " << Shown(now) << "\n  before: " << Shown(kBefore)
                      << "\n  after:  " << Shown(after);
        continue;
      }
      // A rename that stopped part-way: its source whole, and nothing lost.
      ExpectNothingLost(ini_reader::ReadIni(kBefore), ini_reader::ReadIni(*after), ini_reader::ReadIni(*now),
                        scenario.source, scenario.sourceKey, scenario.target);
    }
  }
  printf("%d runs with one failing service call\n", runs);
}

// The outcome a caller sees when the one write of a single-write member fails, or the
// first write of a rename (its copy): the member's failure value and the system's message.
TEST_F(FaultInjection, AFailedWriteIsReportedAndChangesNothing) {
  struct Case {
    const char* name;
    std::function<LONG(_Tolvane*)> call;
    LONG failure;
    bool firstWriteOnly = false;  // a rename's later writes keep its copy (see the test above)
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
      {"RenameSection, to a new section",
       [](_Tolvane* o) {
         EXPECT_EQ(RenameSection(o, L"s", L"n"), S_OK);
         return 0L;
       },
       0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Fail every write: whichever write the member makes first.
    for (int failAt = 1; failAt <= 6; ++failAt) {
      WriteBytes(file_, kBefore);
      ComPtr<_Tolvane> object = NewObject();
      SetFileName(object.Get(), file_);
      LONG result = 0;
      std::vector<ServiceFunction> calls;
      {
        ServiceDouble service({.failAt = failAt});
        result = c.call(object.Get());
        calls = service.Calls();
      }
      if (calls.size() < static_cast<size_t>(failAt) || !service_double::IsWrite(calls[failAt - 1])) continue;
      EXPECT_EQ(result, c.failure) << "call " << failAt;
      EXPECT_EQ(ReadBytes(file_), kBefore);
      EXPECT_EQ(LastErrorOf(object.Get()), SystemMessage(ERROR_ACCESS_DENIED));
      if (c.firstWriteOnly) break;
    }
  }
}

// A write that reports success but left the file cut short, as the platform's write does
// on a full disk (within a line, at a section's end, the last line lost), is found: the
// file is put back and the member fails with the system's message.
TEST_F(FaultInjection, AWriteThatLeftTheFileCutIsPutBackAndFails) {
  for (const LONGLONG cutAt : {LONGLONG{10}, LONGLONG{37}, LONGLONG{-14}}) {
    WriteBytes(file_, kBefore);
    ComPtr<_Tolvane> object = NewObject();
    SetFileName(object.Get(), file_);
    ServiceDouble service({.cutWrittenFileAt = cutAt});
    UniqueBstr s = Bstr(L"s"), k = Bstr(L"k"), v = Bstr(L"new");
    VARIANT_BOOL written = VARIANT_TRUE;
    EXPECT_EQ(object->WriteValue(s.InOut(), k.InOut(), v.InOut(), &written), S_OK);
    EXPECT_EQ(written, VARIANT_FALSE) << "cut at " << cutAt;
    EXPECT_EQ(ReadBytes(file_), kBefore);
    EXPECT_EQ(LastErrorOf(object.Get()), SystemMessage(ERROR_DISK_FULL));
  }
}

}  // namespace
}  // namespace robustness
