// The benchmark: what the object's members cost next to the bare profile calls they
// stand on, measured side by side in one run on real INI files. Prints one line per
// figure (NAME VALUE UNIT), then the ratios, each with the target it is read against.
// Lines starting with "#" say how the figures were taken. The exit code says only
// whether the run worked, never whether a target was met.
//
//   wine tolvane_bench.exe [--samples]   (--samples: every sample as a "#" line)
// tools/run-bench.sh registers the DLL first, which the script loop needs.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
#include "automation/tolvane_object.h"
#include "bench/ini_files.h"
#include "bench/script_run.h"
#include "bench/timing.h"
#include "profile_service/profile_service.h"
#include "tests/support/service_double.h"

namespace bench {
namespace {

using com_types::ComPtr;
using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;
using service_double::MemoryAnswers;
using service_double::ServiceDouble;

// ---- Sizes of the work ----------------------------------------------------------------

constexpr int kRounds = 7;  // of batches too short to time call by call
constexpr int kReadValueKeys = 1000;
constexpr int kReadValueCalls = 3000;  // calls of each variant, timed one by one, cycling through the keys
constexpr int kReadValueWarmUp = 100;
constexpr int kWriteValueCalls = 300;  // of each variant, timed one by one, cycling through the keys
constexpr int kLoneReadCalls = 12;     // of each variant, each after the file was left alone
constexpr DWORD kLoneReadPauseMilliseconds = 1000;
constexpr int kOwnWorkCalls = 1000;
constexpr int kCallRounds = 30;  // for the section members, whose calls take milliseconds
constexpr int kCallWarmUp = 2;
constexpr int kRenameExistingRounds = 3;  // one rename key by key takes seconds
constexpr int kScriptCalls = 2000;
constexpr int kScriptRounds = 5;

// A section list of 3,000 entries must fit the 32,767 characters that one whole-section
// read takes, so these entries are short: "k0123=07B".
constexpr const char* kShortKey = "k%04d";
constexpr const char* kShortValue = "%03X";

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::runtime_error(what);
}

// ---- Output ---------------------------------------------------------------------------

struct Ratio {
  std::string name;
  double value;
  std::string target;  // empty: shown for information
  bool met;
};

class Report {
 public:
  void Figure(const std::string& name, double value, const char* unit) {
    std::printf("%s %s %s\n", name.c_str(), Format(value).c_str(), unit);
    std::fflush(stdout);
  }
  // The median of the variant `name`, in `unit`s (`scale` of them a second).
  void Figure(const Medians& medians, const std::string& name, double scale, const char* unit) {
    Figure(name, medians[name] * scale, unit);
  }
  void Note(const std::string& text) {
    std::printf("# %s\n", text.c_str());
    std::fflush(stdout);
  }
  void Count(const std::string& name, int value, const char* unit) {
    std::printf("%s %d %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
  }
  void AtMost(const std::string& name, double value, double limit) {
    ratios_.push_back({name, value, "target <= " + Limit(limit), value <= limit});
  }
  void Equal(const std::string& name, double value, double expected, const std::string& meaning) {
    ratios_.push_back({name, value, "target = " + Limit(expected) + ", " + meaning, value == expected});
  }
  void Information(const std::string& name, double value) { ratios_.push_back({name, value, "", true}); }

  void PrintRatios() const {
    for (const Ratio& ratio : ratios_) {
      if (ratio.target.empty()) {
        std::printf("ratio %s %.2f\n", ratio.name.c_str(), ratio.value);
      } else {
        std::printf("ratio %s %.2f (%s, %s)\n", ratio.name.c_str(), ratio.value, ratio.target.c_str(),
                    ratio.met ? "met" : "MISSED");
      }
    }
    std::fflush(stdout);
  }

 private:
  static std::string Limit(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
  }
  static std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value >= 100 ? "%.1f" : value >= 10 ? "%.2f" : "%.3f", value);
    return text;
  }

  std::vector<Ratio> ratios_;
};

constexpr double kMicroseconds = 1e6;
constexpr double kMilliseconds = 1e3;

// ---- Objects and arguments ------------------------------------------------------------

DISPID DispatchIdOf(const wchar_t* name) {
  for (const com_types::Member& member : com_types::kMembers) {
    if (std::wstring(member.name) == name) return member.dispid;
  }
  throw std::runtime_error("no such member");
}

void PointAt(_Tolvane* object, const std::wstring& file) {
  UniqueBstr name = UniqueBstr::Copy(file.c_str());
  Require(object->put_IniFileName(name.InOut()) == S_OK, "IniFileName could not be set");
}

// The object linked into this program, on `file`.
ComPtr<_Tolvane> LinkedObject(const std::wstring& file) {
  ComPtr<_Tolvane> object(automation::CreateTolvaneObject());
  Require(static_cast<bool>(object), "the object could not be created");
  PointAt(object.Get(), file);
  return object;
}

// The object from the registered DLL, on `file`; empty when the class is not registered.
ComPtr<_Tolvane> RegisteredObject(const std::wstring& file) {
  CLSID classId{};
  ComPtr<_Tolvane> object;
  if (FAILED(CLSIDFromProgID(L"Voskini15T.Tolvane", &classId)) ||
      FAILED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, com_types::kInterfaceId,
                              reinterpret_cast<void**>(object.Put())))) {
    return {};
  }
  PointAt(object.Get(), file);
  return object;
}

std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(size, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), converted.data(), size);
  return converted;
}

std::wstring TextOf(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// A one-dimensional array of BSTR, 0-based, holding the keys or the values of `pairs`.
UniqueSafeArray TextArray(const Pairs& pairs, bool keys) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(pairs.size()), 0};
  UniqueSafeArray array(SafeArrayCreate(VT_BSTR, 1, &bound));
  Require(array.Get() != nullptr, "out of memory");
  com_types::SafeArrayData<BSTR> elements(array.Get());
  for (size_t i = 0; i < pairs.size(); ++i) {
    elements[i] = UniqueBstr::Copy(Wide(keys ? pairs[i].first : pairs[i].second).c_str()).Release();
  }
  return array;
}

// The entries of a section as the service lists them (which fits in one list here).
int EntriesIn(const char* section, const std::string& file) {
  std::vector<char> list(profile_service::kListBufferSize);
  const DWORD count = GetPrivateProfileSectionA(section, list.data(), profile_service::kListBufferSize, file.c_str());
  int entries = 0;
  for (DWORD i = 0; i < count; ++i) entries += list[i] == '\0';
  return entries;
}

class Benchmark {
 public:
  // The read file as the component leaves a file it changed: with its lock file, made by
  // a write (of a value the file already holds). Its twin was never changed through the
  // component: its readers lock the file itself, call by call.
  Benchmark() : readValueFile_(folder_.PathOf(L"readvalue.ini")), unchangedFile_(folder_.PathOf(L"unchanged.ini")) {
    for (const std::wstring& file : {readValueFile_, unchangedFile_}) {
      WriteIniFile(file, SectionText("data", NumberedPairs(kReadValueKeys, "key%04d", "value%04d")));
    }
    GiveLockFile(readValueFile_, L"data", L"key0000", L"value0000");
  }

  // Writes a value the file holds, through the component: the file then has its lock file.
  static void GiveLockFile(const std::wstring& file, const wchar_t* sectionName, const wchar_t* keyName,
                           const std::wstring& held) {
    UniqueBstr section = UniqueBstr::Copy(sectionName), key = UniqueBstr::Copy(keyName),
               value = UniqueBstr::Copy(held.c_str());
    VARIANT_BOOL written = VARIANT_FALSE;
    LinkedObject(file)->WriteValue(section.InOut(), key.InOut(), value.InOut(), &written);
    Require(written == VARIANT_TRUE, "a read file could not be written");
  }

  void Run() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    report_.Note("times from QueryPerformanceCounter, which ticks " + std::to_string(frequency.QuadPart) +
                 " times a second");
    report_.Note(
        "a figure is the median of its samples, taken in rounds after warm-up rounds; the variants "
        "of a comparison take turns within a round, each round starting one variant further on");
    ReadValue();
    ReadValueLone();
    ReadValueUnicode();
    WriteValue();
    ReadSection();
    SectionWriteAtOnce();
    RenameSection();
    ScriptLoop();
    std::printf("\n");
    report_.PrintRatios();
  }

 private:
  // One ReadValue through the function table, timed; a result other than `expected`
  // counts as a failure.
  static double TimedReadValue(_Tolvane* object, UniqueBstr& section, UniqueBstr& key, const std::wstring& expected,
                               int& failures) {
    BSTR result = nullptr;
    Stopwatch watch;
    const HRESULT status = object->ReadValue(section.InOut(), key.InOut(), &result);
    const double seconds = watch.Seconds();
    UniqueBstr value(result);
    failures += status != S_OK || TextOf(value.Get()) != expected;
    return seconds;
  }

  // ReadValue through the function table and through IDispatch::Invoke, against the
  // bare GetPrivateProfileStringA call with the object's arguments, call by call. The
  // *_own_work variants answer the service call from memory, leaving what the object
  // adds; their calls are too short to time one by one, so they are timed in batches.
  void ReadValue() {
    const std::string fileA = Ansi(readValueFile_);
    const Pairs pairs = NumberedPairs(kReadValueKeys, "key%04d", "value%04d");
    std::vector<UniqueBstr> keys;
    std::vector<UniqueVariant> keyVariables(kReadValueKeys);
    std::vector<std::wstring> values;
    for (int i = 0; i < kReadValueKeys; ++i) {
      keys.push_back(UniqueBstr::Copy(Wide(pairs[i].first).c_str()));
      V_VT(keyVariables[i].Get()) = VT_BSTR;
      V_BSTR(keyVariables[i].Get()) = UniqueBstr::Copy(Wide(pairs[i].first).c_str()).Release();
      values.push_back(Wide(pairs[i].second));
    }
    UniqueBstr section = UniqueBstr::Copy(L"data");
    UniqueVariant sectionVariable;
    V_VT(sectionVariable.Get()) = VT_BSTR;
    V_BSTR(sectionVariable.Get()) = UniqueBstr::Copy(L"data").Release();
    const DISPID readValueId = DispatchIdOf(L"ReadValue");
    int failures = 0;

    ComPtr<_Tolvane> linked = LinkedObject(readValueFile_), unchanged = LinkedObject(unchangedFile_);
    registered_ = RegisteredObject(readValueFile_);

    // One call each, for key `index`; they check what they read, untimed.
    auto raw = [&](int index) {
      char buffer[profile_service::kValueBufferSize];
      Stopwatch watch;
      GetPrivateProfileStringA("data", pairs[index % kReadValueKeys].first.c_str(), "", buffer,
                               profile_service::kValueBufferSize, fileA.c_str());
      const double seconds = watch.Seconds();
      failures += buffer != pairs[index % kReadValueKeys].second;
      return seconds;
    };
    auto throughTable = [&](_Tolvane* object) {
      return [&, object](int index) {
        return TimedReadValue(object, section, keys[index % kReadValueKeys], values[index % kReadValueKeys], failures);
      };
    };
    // Typed arguments (by-reference BSTR), as a compiled client passes them, or the
    // by-reference VARIANT variables a script engine passes.
    auto invoke = [&](int index, bool scriptForm, UniqueVariant& value) {
      VARIANT arguments[2];  // last first
      if (scriptForm) {
        V_VT(&arguments[0]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&arguments[0]) = keyVariables[index % kReadValueKeys].Get();
        V_VT(&arguments[1]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&arguments[1]) = sectionVariable.Get();
      } else {
        V_VT(&arguments[0]) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&arguments[0]) = keys[index % kReadValueKeys].InOut();
        V_VT(&arguments[1]) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&arguments[1]) = section.InOut();
      }
      DISPPARAMS parameters{arguments, nullptr, 2, 0};
      const WORD flags = scriptForm ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD;
      return linked->Invoke(readValueId, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, value.Get(), nullptr,
                            nullptr);
    };
    auto throughInvoke = [&](bool scriptForm) {
      return [&, scriptForm](int index) {
        UniqueVariant value;
        Stopwatch watch;
        const HRESULT status = invoke(index, scriptForm, value);
        const double seconds = watch.Seconds();
        failures += status != S_OK || V_VT(value.Get()) != VT_BSTR ||
                    TextOf(V_BSTR(value.Get())) != values[index % kReadValueKeys];
        return seconds;
      };
    };

    std::vector<Variant<TimedCall>> variants{{"readvalue_raw", raw},
                                             {"readvalue_vtable", throughTable(linked.Get())},
                                             {"readvalue_invoke", throughInvoke(false)},
                                             {"readvalue_invoke_script_form", throughInvoke(true)},
                                             {"readvalue_vtable_unchanged_file", throughTable(unchanged.Get())}};
    if (registered_) variants.push_back({"readvalue_vtable_dll", throughTable(registered_.Get())});
    const Medians perCall = InterleavedCallMedians(variants, kReadValueCalls, kReadValueWarmUp);
    Require(failures == 0, "ReadValue read something else");

    const MemoryAnswers fromMemory{pairs[0].second, {}};
    enum Through { kFunctionTable, kInvoke, kInvokeInScriptForm };
    auto ownWork = [&](Through through) {
      return [&, through] {
        ServiceDouble standIn({.fromMemory = &fromMemory});
        UniqueVariant value;
        Stopwatch watch;
        for (int i = 0; i < kOwnWorkCalls; ++i) {
          if (through == kFunctionTable) {
            BSTR result = nullptr;
            failures += linked->ReadValue(section.InOut(), keys[i % kReadValueKeys].InOut(), &result) != S_OK;
            UniqueBstr owned(result);
          } else {
            value.Clear();
            failures += invoke(i, through == kInvokeInScriptForm, value) != S_OK;
          }
        }
        return watch.Seconds() / kOwnWorkCalls;
      };
    };
    const Medians ownWorkPerCall =
        InterleavedMedians({{"readvalue_vtable_own_work", ownWork(kFunctionTable)},
                            {"readvalue_invoke_own_work", ownWork(kInvoke)},
                            {"readvalue_invoke_script_form_own_work", ownWork(kInvokeInScriptForm)}},
                           kRounds);
    Require(failures == 0, "ReadValue failed");

    report_.Note("ReadValue: " + std::to_string(kReadValueCalls) + " rounds of one call per variant over a " +
                 std::to_string(kReadValueKeys) + "-key section, each key in turn, after " +
                 std::to_string(kReadValueWarmUp) + " warm-up rounds; median call");
    const double rawCall = perCall["readvalue_raw"];
    report_.Figure(perCall, "readvalue_raw", kMicroseconds, "us");
    report_.Figure(perCall, "readvalue_vtable", kMicroseconds, "us");
    report_.Figure(perCall, "readvalue_invoke", kMicroseconds, "us");
    report_.Figure(perCall, "readvalue_invoke_script_form", kMicroseconds, "us");
    report_.AtMost("readvalue_vtable_vs_raw", perCall["readvalue_vtable"] / rawCall, 1.10);
    // The same call against its own target: every ReadValue holds the file's lock (in a loop,
    // most find it still held by their thread's read window).
    report_.AtMost("readvalue_locked_vs_raw", perCall["readvalue_vtable"] / rawCall, 1.10);
    report_.AtMost("readvalue_invoke_vs_raw", perCall["readvalue_invoke"] / rawCall, 1.10);
    // A file never changed through the component has no lock file: each read locks the
    // file itself, for the call only.
    report_.Figure(perCall, "readvalue_vtable_unchanged_file", kMicroseconds, "us");
    report_.Information("readvalue_unchanged_file_vs_raw", perCall["readvalue_vtable_unchanged_file"] / rawCall);
    report_.Information("readvalue_invoke_script_form_vs_raw", perCall["readvalue_invoke_script_form"] / rawCall);
    if (registered_) {
      report_.Figure(perCall, "readvalue_vtable_dll", kMicroseconds, "us");
      report_.Information("readvalue_vtable_dll_vs_raw", perCall["readvalue_vtable_dll"] / rawCall);
    } else {
      report_.Note("readvalue_vtable_dll: skipped, Voskini15T.Tolvane is not registered");
    }
    report_.Note("ReadValue *_own_work: the service call answered from memory; " + std::to_string(kRounds) +
                 " rounds of " + std::to_string(kOwnWorkCalls) + " calls; per call");
    report_.Figure(ownWorkPerCall, "readvalue_vtable_own_work", kMicroseconds, "us");
    report_.Figure(ownWorkPerCall, "readvalue_invoke_own_work", kMicroseconds, "us");
    report_.Figure(ownWorkPerCall, "readvalue_invoke_script_form_own_work", kMicroseconds, "us");
    // What the object adds to the bare call, in proportion: steadier than the ratios above.
    report_.Information("readvalue_vtable_own_work_plus_raw_vs_raw",
                        (rawCall + ownWorkPerCall["readvalue_vtable_own_work"]) / rawCall);
    report_.Information("readvalue_invoke_own_work_plus_raw_vs_raw",
                        (rawCall + ownWorkPerCall["readvalue_invoke_own_work"]) / rawCall);
  }

  // A lone ReadValue, after the file was left alone for a second (the read window long
  // over: the lock is taken anew), against a lone bare GetPrivateProfileStringA.
  void ReadValueLone() {
    const std::string fileA = Ansi(readValueFile_);
    ComPtr<_Tolvane> object = LinkedObject(readValueFile_);
    UniqueBstr section = UniqueBstr::Copy(L"data"), key = UniqueBstr::Copy(L"key0500");
    int failures = 0;
    auto raw = [&](int) {
      char buffer[profile_service::kValueBufferSize];
      Sleep(kLoneReadPauseMilliseconds);
      Stopwatch watch;
      GetPrivateProfileStringA("data", "key0500", "", buffer, profile_service::kValueBufferSize, fileA.c_str());
      const double seconds = watch.Seconds();
      failures += std::string(buffer) != "value0500";
      return seconds;
    };
    auto throughTable = [&](int) {
      Sleep(kLoneReadPauseMilliseconds);
      return TimedReadValue(object.Get(), section, key, L"value0500", failures);
    };
    const Medians perCall = InterleavedCallMedians(
        {{"readvalue_lone_raw", raw}, {"readvalue_lone_vtable", throughTable}}, kLoneReadCalls, 1);
    Require(failures == 0, "a lone ReadValue read something else");
    report_.Note("lone ReadValue: " + std::to_string(kLoneReadCalls) + " rounds of one call per variant, each " +
                 std::to_string(kLoneReadPauseMilliseconds) + " ms after the last call; median call");
    report_.Figure(perCall, "readvalue_lone_raw", kMicroseconds, "us");
    report_.Figure(perCall, "readvalue_lone_vtable", kMicroseconds, "us");
    report_.AtMost("readvalue_lone_vs_raw", perCall["readvalue_lone_vtable"] / perCall["readvalue_lone_raw"], 1.5);
  }

  // ReadValue of a Unicode file (one that begins with the UTF-16LE byte-order mark), with
  // a section, keys and values outside the ANSI code page, against the bare
  // GetPrivateProfileStringW call with the same texts, call by call.
  void ReadValueUnicode() {
    const std::wstring file = folder_.PathOf(L"unicode.ini");
    std::wstring text = L"\xFEFF[\u0434\u0430\u043d\u043d\u044b\u0435]\r\n";  // [данные]
    std::vector<UniqueBstr> keys;
    std::vector<std::wstring> values;
    for (int i = 0; i < kReadValueKeys; ++i) {
      const std::wstring number = std::to_wstring(10000 + i);
      keys.push_back(UniqueBstr::Copy((L"\u043a\u043b\u044e\u0447" + number).c_str()));  // ключ
      values.push_back(L"\u0437\u043d\u0430\u0447\u0435\u043d\u0438\u0435" + number);    // значение
      text += TextOf(keys.back().Get()) + L"=" + values.back() + L"\r\n";
    }
    WriteIniFile(file, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    ComPtr<_Tolvane> object = LinkedObject(file);
    UniqueBstr section = UniqueBstr::Copy(L"\u0434\u0430\u043d\u043d\u044b\u0435");
    GiveLockFile(file, section.Get(), keys[0].Get(), values[0]);
    int failures = 0;

    auto raw = [&](int index) {
      wchar_t buffer[profile_service::kValueBufferSize];
      Stopwatch watch;
      GetPrivateProfileStringW(section.Get(), keys[index % kReadValueKeys].Get(), L"", buffer,
                               profile_service::kValueBufferSize, file.c_str());
      const double seconds = watch.Seconds();
      failures += buffer != values[index % kReadValueKeys];
      return seconds;
    };
    auto throughTable = [&](int index) {
      return TimedReadValue(object.Get(), section, keys[index % kReadValueKeys], values[index % kReadValueKeys],
                            failures);
    };
    const Medians perCall =
        InterleavedCallMedians({{"readvalue_unicode_raw", raw}, {"readvalue_unicode_vtable", throughTable}},
                               kReadValueCalls, kReadValueWarmUp);
    Require(failures == 0, "ReadValue of a Unicode file read something else");
    report_.Note("ReadValue of a Unicode file: as ReadValue, Cyrillic section, keys and values");
    report_.Figure(perCall, "readvalue_unicode_raw", kMicroseconds, "us");
    report_.Figure(perCall, "readvalue_unicode_vtable", kMicroseconds, "us");
    report_.AtMost("readvalue_unicode_vs_raw", perCall["readvalue_unicode_vtable"] / perCall["readvalue_unicode_raw"],
                   1.10);
  }

  // WriteValue through the function table against the bare WritePrivateProfileStringA
  // call with the object's arguments, call by call, on a 1,000-key section. Every call
  // gives its key a value other than the one it holds (the platform writes nothing for
  // an unchanged value) and of the same length, so the file keeps its size.
  void WriteValue() {
    const std::wstring file = folder_.PathOf(L"writevalue.ini");
    const std::string fileA = Ansi(file);
    const Pairs pairs = NumberedPairs(kReadValueKeys, "key%04d", "value%04d");
    WriteIniFile(file, SectionText("data", pairs));
    ComPtr<_Tolvane> object = LinkedObject(file);
    UniqueBstr section = UniqueBstr::Copy(L"data");
    int failures = 0;

    auto valueOf = [](const char* variant, int index) {
      char value[16];
      std::snprintf(value, sizeof value, "%s%06d", variant, index);
      return std::string(value);
    };
    auto holds = [&](const std::string& key, const std::string& value) {
      char buffer[profile_service::kValueBufferSize];
      GetPrivateProfileStringA("data", key.c_str(), "", buffer, profile_service::kValueBufferSize, fileA.c_str());
      return value == buffer;
    };
    auto raw = [&](int index) {
      const std::string& key = pairs[index % kReadValueKeys].first;
      const std::string value = valueOf("raw", index);
      Stopwatch watch;
      const BOOL written = WritePrivateProfileStringA("data", key.c_str(), value.c_str(), fileA.c_str());
      const double seconds = watch.Seconds();
      failures += !written || !holds(key, value);
      return seconds;
    };
    auto throughTable = [&](int index) {
      const std::string& key = pairs[index % kReadValueKeys].first;
      const std::string value = valueOf("obj", index);
      UniqueBstr keyArgument = UniqueBstr::Copy(Wide(key).c_str());
      UniqueBstr valueArgument = UniqueBstr::Copy(Wide(value).c_str());
      VARIANT_BOOL written = VARIANT_FALSE;
      Stopwatch watch;
      const HRESULT status = object->WriteValue(section.InOut(), keyArgument.InOut(), valueArgument.InOut(), &written);
      const double seconds = watch.Seconds();
      failures += status != S_OK || written != VARIANT_TRUE || !holds(key, value);
      return seconds;
    };

    const Medians perCall = InterleavedCallMedians({{"writevalue_raw", raw}, {"writevalue_vtable", throughTable}},
                                                   kWriteValueCalls, kCallWarmUp);
    Require(failures == 0, "WriteValue or WritePrivateProfileStringA wrote something else");
    report_.Note("WriteValue: " + std::to_string(kWriteValueCalls) + " rounds of one call per variant over a " +
                 std::to_string(kReadValueKeys) + "-key section, each key in turn, after " +
                 std::to_string(kCallWarmUp) + " warm-up rounds; each call writes a new value; median call");
    report_.Figure(perCall, "writevalue_raw", kMilliseconds, "ms");
    report_.Figure(perCall, "writevalue_vtable", kMilliseconds, "ms");
    // Each write of the object saves the file in its journal and flushes it, then flushes
    // the file: two flushes to disk that the bare write does not make.
    report_.AtMost("writevalue_vs_raw", perCall["writevalue_vtable"] / perCall["writevalue_raw"], 3.0);
  }

  // ReadSection of 1,500 and 3,000 entries, against the bare GetPrivateProfileSectionA
  // call with the object's arguments. The object's time includes releasing the two
  // arrays and the pair array it hands back, which every caller must do; one figure
  // leaves that out. Two more rewrite the file (untimed) before each call, so that the
  // platform must read and parse it again instead of answering from its parsed copy;
  // two more answer the service call from memory, leaving the object's own work; and
  // one times what one BSTR costs to allocate and free, of which a read makes four
  // per entry (key, value, and both again in the pair array).
  void ReadSection() {
    struct SectionFile {
      std::wstring path;
      std::string bytes;
      MemoryAnswers fromMemory;
      int entries;
    };
    std::vector<SectionFile> files;
    for (int entries : {1500, 3000}) {
      const Pairs pairs = NumberedPairs(entries, kShortKey, kShortValue);
      files.push_back({folder_.PathOf(L"section_" + std::to_wstring(entries) + L".ini"),
                       SectionText("data", pairs),
                       {{}, EntryList(pairs)},
                       entries});
      WriteIniFile(files.back().path, files.back().bytes);
    }
    const SectionFile* const of1500 = &files[0];
    const SectionFile* const of3000 = &files[1];
    int failures = 0;

    auto raw = [&](const SectionFile* file, bool reparse) {
      return [&, file, reparse, fileA = Ansi(file->path)](int) {
        std::vector<char> buffer(profile_service::kListBufferSize);
        if (reparse) WriteIniFile(file->path, file->bytes);
        Stopwatch watch;
        const DWORD count =
            GetPrivateProfileSectionA("data", buffer.data(), profile_service::kListBufferSize, fileA.c_str());
        const double seconds = watch.Seconds();
        int listed = 0;
        for (DWORD i = 0; i < count; ++i) listed += buffer[i] == '\0';
        failures += listed != file->entries;
        return seconds;
      };
    };
    enum Service { kPlatform, kReparsed, kStandIn };
    auto object = [&](const SectionFile* file, Service service, bool timeRelease) {
      return [&, file, service, timeRelease, object = LinkedObject(file->path)](int) {
        UniqueBstr section = UniqueBstr::Copy(L"data");
        UniqueSafeArray keys, values;
        UniqueVariant result;
        if (service == kReparsed) WriteIniFile(file->path, file->bytes);
        std::optional<ServiceDouble> standIn;
        if (service == kStandIn) standIn.emplace(service_double::Behaviour{.fromMemory = &file->fromMemory});
        Stopwatch watch;
        const HRESULT status = object->ReadSection(section.InOut(), keys.InOut(), values.InOut(), result.Get());
        double seconds = watch.Seconds();
        LONG upper = -1;
        SafeArrayGetUBound(keys.Get(), 1, &upper);
        failures += status != S_OK || upper != file->entries - 1 || V_VT(result.Get()) != (VT_ARRAY | VT_BSTR);
        Stopwatch releasing;
        keys.Reset();
        values.Reset();
        result.Clear();
        if (timeRelease) seconds += releasing.Seconds();
        return seconds;
      };
    };
    auto allocateAndFree = [](int) {
      constexpr int kTexts = 12000;
      std::vector<UniqueBstr> texts;
      texts.reserve(kTexts);
      Stopwatch watch;
      for (int i = 0; i < kTexts; ++i) texts.push_back(UniqueBstr::Copy(L"k1234", 5));
      texts.clear();
      return watch.Seconds() / kTexts;
    };

    const Medians perCall = InterleavedCallMedians({{"readsection_raw_3000", raw(of3000, false)},
                                                    {"readsection_3000", object(of3000, kPlatform, true)},
                                                    {"readsection_raw_1500", raw(of1500, false)},
                                                    {"readsection_1500", object(of1500, kPlatform, true)},
                                                    {"readsection_3000_unreleased", object(of3000, kPlatform, false)},
                                                    {"readsection_raw_3000_reparsed", raw(of3000, true)},
                                                    {"readsection_3000_reparsed", object(of3000, kReparsed, true)},
                                                    {"readsection_1500_own_work", object(of1500, kStandIn, true)},
                                                    {"readsection_3000_own_work", object(of3000, kStandIn, true)},
                                                    {"bstr_allocate_and_free", allocateAndFree}},
                                                   kCallRounds, kCallWarmUp);
    Require(failures == 0, "ReadSection or GetPrivateProfileSectionA read something else");
    report_.Note("ReadSection: " + std::to_string(kCallRounds) + " rounds of one call per variant after " +
                 std::to_string(kCallWarmUp) +
                 " warm-up rounds; the object's figures include releasing what it returns (but *_unreleased); "
                 "*_reparsed: the file rewritten before each call; *_own_work: the service call answered from "
                 "memory; median call");
    for (const char* name : {"readsection_raw_3000", "readsection_3000", "readsection_raw_1500", "readsection_1500",
                             "readsection_3000_unreleased", "readsection_raw_3000_reparsed",
                             "readsection_3000_reparsed", "readsection_1500_own_work", "readsection_3000_own_work"}) {
      report_.Figure(perCall, name, kMilliseconds, "ms");
    }
    report_.Figure(perCall, "bstr_allocate_and_free", kMicroseconds, "us");
    const double raw3000 = perCall["readsection_raw_3000"];
    report_.AtMost("readsection_vs_raw", perCall["readsection_3000"] / raw3000, 1.5);
    report_.AtMost("readsection_3000_vs_1500", perCall["readsection_3000"] / perCall["readsection_1500"], 2.3);
    report_.Information("readsection_raw_3000_vs_1500", raw3000 / perCall["readsection_raw_1500"]);
    report_.Information("readsection_own_work_3000_vs_1500",
                        perCall["readsection_3000_own_work"] / perCall["readsection_1500_own_work"]);
    report_.Information("readsection_unreleased_vs_raw", perCall["readsection_3000_unreleased"] / raw3000);
    report_.Information("readsection_reparsed_vs_raw_reparsed",
                        perCall["readsection_3000_reparsed"] / perCall["readsection_raw_3000_reparsed"]);
    // The least that any read into 12,000 new BSTRs can cost: the bare read, and their
    // allocation and release.
    report_.Information("readsection_bstr_floor_vs_raw",
                        (raw3000 + 4 * 3000 * perCall["bstr_allocate_and_free"]) / raw3000);
  }

  // SectionWriteAtOnce of 1,500 and 3,000 pairs into a new section of a small file,
  // which is written afresh (untimed) before each call, and the bare
  // WritePrivateProfileSectionA of the same pairs. The *_own_work variants answer the
  // service call without writing.
  void SectionWriteAtOnce() {
    struct Prepared {
      std::wstring file;
      UniqueSafeArray keys, values;
      std::string entries;
      int count;
    };
    std::vector<Prepared> sizes;
    for (int count : {1500, 3000}) {
      const Pairs pairs = NumberedPairs(count, kShortKey, kShortValue);
      sizes.push_back({folder_.PathOf(L"write_" + std::to_wstring(count) + L".ini"), TextArray(pairs, true),
                       TextArray(pairs, false), EntryList(pairs), count});
    }
    const std::string smallFile = SectionText("other", NumberedPairs(3, "key%04d", "value%04d"));
    const MemoryAnswers noAnswers;
    int failures = 0;

    auto object = [&](const Prepared* prepared, bool ownWork) {
      return [&, prepared, ownWork, object = LinkedObject(prepared->file)](int) {
        UniqueBstr section = UniqueBstr::Copy(L"data");
        SAFEARRAY* keys = prepared->keys.Get();
        SAFEARRAY* values = prepared->values.Get();
        LONG last = -1;
        std::optional<ServiceDouble> standIn;
        if (ownWork) {
          standIn.emplace(service_double::Behaviour{.fromMemory = &noAnswers});
        } else {
          WriteIniFile(prepared->file, smallFile);
        }
        Stopwatch watch;
        const HRESULT status = object->SectionWriteAtOnce(section.InOut(), &keys, &values, &last);
        const double seconds = watch.Seconds();
        standIn.reset();
        failures += status != S_OK || last != prepared->count - 1 ||
                    (!ownWork && EntriesIn("data", Ansi(prepared->file)) != prepared->count);
        return seconds;
      };
    };
    auto raw = [&](const Prepared* prepared) {
      return [&, prepared, fileA = Ansi(prepared->file)](int) {
        WriteIniFile(prepared->file, smallFile);
        Stopwatch watch;
        const BOOL written = WritePrivateProfileSectionA("data", prepared->entries.data(), fileA.c_str());
        const double seconds = watch.Seconds();
        failures += !written || EntriesIn("data", fileA) != prepared->count;
        return seconds;
      };
    };

    const Medians perCall = InterleavedCallMedians({{"sectionwrite_1500", object(&sizes[0], false)},
                                                    {"sectionwrite_3000", object(&sizes[1], false)},
                                                    {"sectionwrite_raw_1500", raw(&sizes[0])},
                                                    {"sectionwrite_raw_3000", raw(&sizes[1])},
                                                    {"sectionwrite_1500_own_work", object(&sizes[0], true)},
                                                    {"sectionwrite_3000_own_work", object(&sizes[1], true)}},
                                                   kCallRounds, kCallWarmUp);
    Require(failures == 0, "SectionWriteAtOnce or WritePrivateProfileSectionA wrote something else");
    report_.Note("SectionWriteAtOnce: " + std::to_string(kCallRounds) + " rounds of one call per variant after " +
                 std::to_string(kCallWarmUp) +
                 " warm-up rounds, each into a new section of a 3-key file written afresh; *_own_work: the service "
                 "call answered without writing; median call");
    for (const char* name : {"sectionwrite_1500", "sectionwrite_3000", "sectionwrite_raw_1500", "sectionwrite_raw_3000",
                             "sectionwrite_1500_own_work", "sectionwrite_3000_own_work"}) {
      report_.Figure(perCall, name, kMilliseconds, "ms");
    }
    report_.AtMost("sectionwrite_3000_vs_1500", perCall["sectionwrite_3000"] / perCall["sectionwrite_1500"], 2.3);
    report_.Information("sectionwrite_raw_3000_vs_1500",
                        perCall["sectionwrite_raw_3000"] / perCall["sectionwrite_raw_1500"]);
    report_.Information("sectionwrite_own_work_3000_vs_1500",
                        perCall["sectionwrite_3000_own_work"] / perCall["sectionwrite_1500_own_work"]);
    report_.AtMost("sectionwrite_vs_raw", perCall["sectionwrite_3000"] / perCall["sectionwrite_raw_3000"], 3.0);
  }

  // RenameSection of a 1,000-key section into a new and into an existing section,
  // against one bare whole-section read and one whole-section write; then, counted,
  // the service calls each made, for 1,000 and for 100 keys.
  void RenameSection() {
    const std::wstring file = folder_.PathOf(L"rename.ini");
    const std::string fileA = Ansi(file);
    auto layout = [](int keys, bool targetExists) {
      const std::string source = SectionText("source", NumberedPairs(keys, "key%04d", "value%04d"));
      return targetExists ? SectionText("target", NumberedPairs(10, "own%04d", "mine%04d")) + source : source;
    };
    const std::string newTarget = layout(1000, false);
    const std::string existingTarget = layout(1000, true);
    ComPtr<_Tolvane> object = LinkedObject(file);
    UniqueBstr source = UniqueBstr::Copy(L"source");
    UniqueBstr target = UniqueBstr::Copy(L"target");
    int failures = 0;

    auto raw = [&](int) {
      std::vector<char> list(profile_service::kListBufferSize);
      WriteIniFile(file, newTarget);
      Stopwatch watch;
      const bool moved =
          GetPrivateProfileSectionA("source", list.data(), profile_service::kListBufferSize, fileA.c_str()) != 0 &&
          WritePrivateProfileSectionA("target", list.data(), fileA.c_str());
      const double seconds = watch.Seconds();
      failures += !moved || EntriesIn("target", fileA) != 1000;
      return seconds;
    };
    auto rename = [&](const std::string* before, int keysAfter) {
      return [&, before, keysAfter](int) {
        WriteIniFile(file, *before);
        Stopwatch watch;
        const HRESULT status = object->RenameSection(source.Get(), target.Get());
        const double seconds = watch.Seconds();
        failures += status != S_OK || EntriesIn("source", fileA) != 0 || EntriesIn("target", fileA) != keysAfter;
        return seconds;
      };
    };

    const Medians intoNew =
        InterleavedCallMedians({{"renamesection_raw_1000", raw}, {"renamesection_new_1000", rename(&newTarget, 1000)}},
                               kCallRounds, kCallWarmUp);
    const Medians intoExisting = InterleavedCallMedians(
        {{"renamesection_raw_1000", raw}, {"renamesection_existing_1000", rename(&existingTarget, 1010)}},
        kRenameExistingRounds, 1);
    Require(failures == 0, "RenameSection or the bare read and write moved something else");
    report_.Note(
        "RenameSection: the file (a 1,000-key section, and for an existing target a 10-key target "
        "section) is written afresh, untimed, before each call; raw = GetPrivateProfileSectionA of the "
        "section + WritePrivateProfileSectionA of its list under the new name");
    report_.Note("into a new section: " + std::to_string(kCallRounds) + " rounds of one call per variant after " +
                 std::to_string(kCallWarmUp) +
                 " warm-up rounds; into an existing one: " + std::to_string(kRenameExistingRounds) +
                 " rounds after 1 warm-up round, interleaved with raw calls of its own; median call");
    report_.Figure(intoNew, "renamesection_raw_1000", kMilliseconds, "ms");
    report_.Figure(intoNew, "renamesection_new_1000", kMilliseconds, "ms");
    report_.Figure(intoExisting, "renamesection_existing_1000", kMilliseconds, "ms");
    // The rename saves the file in its journal once, before its first write.
    report_.AtMost("renamesection_new_vs_raw", intoNew["renamesection_new_1000"] / intoNew["renamesection_raw_1000"],
                   4);
    report_.Information("renamesection_existing_vs_raw",
                        intoExisting["renamesection_existing_1000"] / intoExisting["renamesection_raw_1000"]);

    int newCalls[2] = {};
    for (bool targetExists : {false, true}) {
      for (int keys : {1000, 100}) {
        WriteIniFile(file, layout(keys, targetExists));
        int calls = 0;
        std::string breakdown;
        {
          ServiceDouble counter;
          Require(object->RenameSection(source.Get(), target.Get()) == S_OK, "RenameSection failed");
          calls = static_cast<int>(counter.Calls().size());
          breakdown = counter.Breakdown();
        }
        Require(EntriesIn("source", fileA) == 0 && EntriesIn("target", fileA) == keys + (targetExists ? 10 : 0),
                "RenameSection moved something else");
        const std::string name = std::string("renamesection_") + (targetExists ? "existing" : "new") +
                                 "_service_calls_" + std::to_string(keys) + "keys";
        report_.Count(name, calls, "calls");
        report_.Note(name + ": " + breakdown);
        if (!targetExists) newCalls[keys == 1000 ? 0 : 1] = calls;
      }
    }
    report_.Equal("renamesection_new_service_calls_1000_vs_100", static_cast<double>(newCalls[0]) / newCalls[1], 1,
                  "constant in the key count");
  }

  // ReadValue from a script: a cscript run of 2,000 calls less a run of none (each
  // run starts the script host, creates the object and makes one first read), against
  // the same 2,000 calls through the function table of the same registered class.
  void ScriptLoop() {
    if (!registered_) {
      report_.Note("VBScript loop: skipped, Voskini15T.Tolvane is not registered (tools/run-bench.sh registers it)");
      return;
    }
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring script = program;
    script = script.substr(0, script.find_last_of(L"\\/") + 1) + L"bench_readvalue_loop.vbs";
    if (GetFileAttributesW(script.c_str()) == INVALID_FILE_ATTRIBUTES) {
      report_.Note("VBScript loop: skipped, bench_readvalue_loop.vbs is not next to the program");
      return;
    }
    const std::wstring output = folder_.PathOf(L"script_output.txt");
    std::vector<double> timerSeconds;

    auto scriptRun = [&](int calls) {
      return [&, calls] {
        const ScriptRun run = RunScript(script, L"\"" + readValueFile_ + L"\" " + std::to_wstring(calls), output);
        char expected[64];
        std::snprintf(expected, sizeof expected, "last_value value%04d", calls ? (calls - 1) % kReadValueKeys : 0);
        Require(run.started && run.exitCode == 0 && run.output.find(expected) != std::string::npos,
                "the script loop did not run as expected; it wrote: " + run.output);
        const size_t timer = run.output.find("loop_seconds ");
        if (calls && timer != std::string::npos) {
          std::string figure = run.output.substr(timer + 13, run.output.find_first_of("\r\n", timer) - timer - 13);
          for (char& c : figure) c = c == ',' ? '.' : c;  // the script host writes the locale's decimal mark
          timerSeconds.push_back(std::atof(figure.c_str()));
        }
        return run.seconds;
      };
    };
    auto table = [&] {
      const Pairs pairs = NumberedPairs(kReadValueKeys, "key%04d", "value%04d");
      std::vector<UniqueBstr> keys;
      for (const auto& pair : pairs) keys.push_back(UniqueBstr::Copy(Wide(pair.first).c_str()));
      UniqueBstr section = UniqueBstr::Copy(L"data");
      int failures = 0;
      Stopwatch watch;
      for (int i = 0; i < kScriptCalls; ++i) {
        BSTR result = nullptr;
        failures += registered_->ReadValue(section.InOut(), keys[i % kReadValueKeys].InOut(), &result) != S_OK;
        UniqueBstr owned(result);
      }
      const double seconds = watch.Seconds();
      Require(failures == 0, "ReadValue failed");
      return seconds;
    };

    const std::string runOfCalls = "cscript_run_" + std::to_string(kScriptCalls) + "_calls";
    const Medians medians = InterleavedMedians(
        {{"cscript_run_0_calls", scriptRun(0)}, {runOfCalls, scriptRun(kScriptCalls)}, {"function_table_loop", table}},
        kScriptRounds);
    const double scriptPerCall = (medians[runOfCalls] - medians["cscript_run_0_calls"]) / kScriptCalls;
    const double tablePerCall = medians["function_table_loop"] / kScriptCalls;
    report_.Note(
        "VBScript loop: cscript //nologo bench_readvalue_loop.vbs, o.ReadValue(s, k) with plain variables; "
        "per call = (median run of " +
        std::to_string(kScriptCalls) + " calls - median run of 0 calls) / " + std::to_string(kScriptCalls) + ", " +
        std::to_string(kScriptRounds) +
        " rounds; both runs start the script host, "
        "create the object and make one first read");
    report_.Figure(medians, "cscript_run_0_calls", kMilliseconds, "ms");
    report_.Figure(medians, runOfCalls, kMilliseconds, "ms");
    report_.Figure("readvalue_vbscript", scriptPerCall * kMicroseconds, "us");
    if (timerSeconds.size() > 1) {  // the first is the warm-up
      timerSeconds.erase(timerSeconds.begin());
      report_.Figure("readvalue_vbscript_by_script_timer", Median(timerSeconds) / kScriptCalls * kMicroseconds, "us");
    }
    report_.Figure("readvalue_vtable_dll_2000_loop", tablePerCall * kMicroseconds, "us");
    report_.Information("readvalue_vbscript_vs_vtable", scriptPerCall / tablePerCall);
  }

  TempFolder folder_;
  Report report_;
  std::wstring readValueFile_, unchangedFile_;
  ComPtr<_Tolvane> registered_;
};

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  bench::ShowSamples(argc > 1 && std::string(argv[1]) == "--samples");
  if (FAILED(CoInitialize(nullptr))) {
    std::fprintf(stderr, "bench: COM could not be initialised\n");
    return 1;
  }
  int status = 0;
  try {
    bench::Stopwatch total;
    {
      bench::Benchmark benchmark;
      benchmark.Run();
    }
    std::printf("# total run time %.1f s\n", total.Seconds());
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "bench: %s\n", failure.what());
    status = 1;
  }
  CoUninitialize();
  return status;
}
