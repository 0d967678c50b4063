// Bad input through every door: each text parameter of each member given absent, empty,
// huge and awkward texts; each array parameter given arrays of every awkward shape; the
// file name pointing where it should not. Called through the function table, through
// IDispatch with typed arguments, and through IDispatch as a script passes its variables.
// Every call either gives its documented result or fails with a known HRESULT and a
// readable description, and no file but the named one ever changes.
#include <algorithm>
#include <functional>

#include "tests/robustness/robustness_support.h"
#include "profile_object/fault.h"
#include "tests/support/ini_reader.h"

namespace robustness {
namespace {

using namespace std::string_literals;
using dispatch_calls::Binding;
using dispatch_calls::kBindings;
using dispatch_calls::kCreateKeyAndValue;
using dispatch_calls::kDeleteKey;
using dispatch_calls::kDeleteSection;
using dispatch_calls::kIniFileName;
using dispatch_calls::kLastErrorA;
using dispatch_calls::kReadSection;
using dispatch_calls::kReadValue;
using dispatch_calls::kRenameKey;
using dispatch_calls::kRenameSection;
using dispatch_calls::kScriptCall;
using dispatch_calls::kSectionAdd;
using dispatch_calls::kSectionsCount;
using dispatch_calls::kSectionWriteAtOnce;
using dispatch_calls::kWriteValue;
using dispatch_calls::MemberName;
using dispatch_calls::NameOf;
using ini_reader::IniSection;
using ini_reader::Lowercase;
using ini_reader::Trimmed;

constexpr char kFixture[] = "[s]\r\nk=1\r\nj=2\r\n[t]\r\nk=3\r\n[u]\r\n";
constexpr char kSibling[] = "[s]\r\nk=sibling\r\n";

// ---- How a call is made ---------------------------------------------------------------------

enum class Role { Section, Key, Value, FileName };

struct TextParameter {
  Role role;
  bool byReference;
};

// The members taking text, with what each text means to the file.
struct Member {
  MemberName id;
  std::vector<TextParameter> texts;
  bool writes;     // may change the file
  bool refuses;    // applies the write rules to its texts
  bool hasArrays;  // ReadSection and SectionWriteAtOnce: texts, then Keys and Values

  bool Is(const MemberName& member) const { return id.dispid == member.dispid; }
  std::string Name() const { return (testing::Message() << id.name).GetString(); }
};

const Member kMembers[] = {
    {kReadValue, {{Role::Section, true}, {Role::Key, true}}, false, false, false},
    {kReadSection, {{Role::Section, true}}, false, false, true},
    {kCreateKeyAndValue, {{Role::Section, false}, {Role::Key, false}, {Role::Value, false}}, true, true, false},
    {kWriteValue, {{Role::Section, true}, {Role::Key, true}, {Role::Value, true}}, true, true, false},
    {kSectionAdd, {{Role::Section, false}}, true, true, false},
    {kSectionWriteAtOnce, {{Role::Section, true}}, true, true, true},
    {kRenameKey, {{Role::Section, false}, {Role::Key, false}, {Role::Key, false}}, true, false, false},
    {kRenameSection, {{Role::Section, false}, {Role::Section, false}}, true, false, false},
    {kDeleteSection, {{Role::Section, false}}, true, false, false},
    {kDeleteKey, {{Role::Section, false}, {Role::Key, false}}, true, false, false},
};

// What a call gave back, whatever the binding.
struct Result {
  HRESULT status = E_FAIL;
  std::wstring description;    // of the error information or the EXCEPINFO
  std::optional<LONG> number;  // a Boolean (-1 / 0) or count result
  std::vector<Text> texts;     // the by-reference texts as they came back
  bool lateBound = false;
  SCODE exceptionCode = S_OK;  // of the EXCEPINFO, for DISP_E_EXCEPTION
};

// A failing call explains itself, in the way its binding reports failures.
void ExpectExplained(const Result& result) {
  if (!result.lateBound) return robustness::ExpectExplained(result.status, result.description);
  Outcome outcome;
  outcome.status = result.status;
  outcome.exception.scode = result.exceptionCode;
  outcome.exception.description = result.description;
  robustness::ExpectExplained(outcome);
}

// The status a call ends with, whatever the binding: a late-bound member's fault comes
// back as DISP_E_EXCEPTION carrying it.
HRESULT FaultOf(const Result& result) {
  return result.lateBound && result.status == DISP_E_EXCEPTION ? result.exceptionCode : result.status;
}

// Arguments for one call: texts in parameter order and, for the two array members, the
// Keys and Values arrays (typed callers' SAFEARRAY* variables).
struct Arguments {
  std::vector<Text> texts;
  SAFEARRAY* keys = nullptr;
  SAFEARRAY* values = nullptr;
};

// Copies an array of BSTR into an array of VARIANT with the same shape and features,
// the way a script holds it.
UniqueSafeArray ScriptArrayOf(SAFEARRAY* texts) {
  const UINT dimensions = SafeArrayGetDim(texts);
  // The descriptor keeps its dimensions last first; SafeArrayCreate takes them first first.
  std::vector<SAFEARRAYBOUND> bounds(texts->rgsabound, texts->rgsabound + dimensions);
  std::reverse(bounds.begin(), bounds.end());
  UniqueSafeArray variants(SafeArrayCreate(VT_VARIANT, dimensions, bounds.data()));
  if (!variants.Get()) throw std::bad_alloc();
  VARTYPE type = VT_EMPTY;
  SafeArrayGetVartype(texts, &type);
  ULONG count = 1;
  for (UINT d = 0; d < dimensions; ++d) count *= texts->rgsabound[d].cElements;
  if (count != 0 && type == VT_BSTR) {
    com_types::SafeArrayData<VARIANT> to(variants.Get());
    BSTR* from = static_cast<BSTR*>(texts->pvData);
    for (ULONG i = 0; i < count; ++i) {
      V_VT(&to[i]) = VT_BSTR;
      V_BSTR(&to[i]) = UniqueBstr::Copy(from[i], SysStringLen(from[i])).Release();
    }
  }
  variants.Get()->fFeatures |= texts->fFeatures & (FADF_FIXEDSIZE | FADF_STATIC);
  if (texts->cLocks != 0) SafeArrayLock(variants.Get());  // unlocked by the caller after the call
  return variants;
}

Result CallMember(_Tolvane* object, const Member& member, Binding binding, Arguments& arguments) {
  Result result;
  std::vector<UniqueBstr> texts;
  for (const Text& text : arguments.texts) texts.push_back(Bstr(text));
  auto bstr = [&](size_t i) { return texts[i].Get(); };
  auto slot = [&](size_t i) { return texts[i].InOut(); };

  if (binding == Binding::FunctionTable) {
    SetErrorInfo(0, nullptr);
    VARIANT_BOOL flag = 1;
    LONG count = 12345;
    UniqueBstr text;
    UniqueVariant variant;
    if (member.Is(kReadValue)) {
      result.status = object->ReadValue(slot(0), slot(1), text.InOut());
    } else if (member.Is(kReadSection)) {
      result.status = object->ReadSection(slot(0), &arguments.keys, &arguments.values, variant.Get());
    } else if (member.Is(kCreateKeyAndValue)) {
      result.status = object->CreateKeyAndValue(bstr(0), bstr(1), bstr(2), &flag);
      result.number = flag;
    } else if (member.Is(kWriteValue)) {
      result.status = object->WriteValue(slot(0), slot(1), slot(2), &flag);
      result.number = flag;
    } else if (member.Is(kSectionAdd)) {
      result.status = object->SectionAdd(bstr(0), &flag);
      result.number = flag;
    } else if (member.Is(kSectionWriteAtOnce)) {
      result.status = object->SectionWriteAtOnce(slot(0), &arguments.keys, &arguments.values, &count);
      result.number = count;
    } else if (member.Is(kRenameKey)) {
      result.status = object->RenameKey(bstr(0), bstr(1), bstr(2));
    } else if (member.Is(kRenameSection)) {
      result.status = object->RenameSection(bstr(0), bstr(1));
    } else if (member.Is(kDeleteSection)) {
      result.status = object->DeleteSection(bstr(0));
    } else if (member.Is(kDeleteKey)) {
      result.status = object->DeleteKey(bstr(0), bstr(1));
    }
    if (FAILED(result.status)) result.description = TakeErrorDescription();
    for (const UniqueBstr& t : texts) result.texts.push_back(TextOf(t.Get()));
    return result;
  }

  std::vector<VARIANTARG> given;
  std::vector<UniqueVariant> variables(arguments.texts.size() + 2);  // a script's variables
  for (size_t i = 0; i < arguments.texts.size(); ++i) {
    if (binding == Binding::TypedDispatch) {
      given.push_back(member.texts[i].byReference ? ByReference(slot(i)) : ByValue(bstr(i)));
    } else {
      V_VT(variables[i].Get()) = VT_BSTR;
      V_BSTR(variables[i].Get()) = texts[i].Release();
      given.push_back(ByReference(variables[i].Get()));
    }
  }
  if (member.hasArrays) {
    if (binding == Binding::TypedDispatch) {
      given.push_back(ByReference(&arguments.keys));
      given.push_back(ByReference(&arguments.values));
    } else {
      for (int which = 0; which < 2; ++which) {
        SAFEARRAY* typed = which == 0 ? arguments.keys : arguments.values;
        VARIANT* variable = variables[arguments.texts.size() + which].Get();
        if (typed) {
          V_VT(variable) = VT_ARRAY | VT_VARIANT;
          V_ARRAY(variable) = ScriptArrayOf(typed).Release();
        }
        given.push_back(ByReference(variable));
      }
    }
  }
  const WORD flags = binding == Binding::ScriptDispatch ? kScriptCall : DISPATCH_METHOD;
  Outcome outcome = Invoke(object, member.id.dispid, flags, given, ArgumentPassing::Borrowed);
  result.lateBound = true;
  result.status = outcome.status;
  result.exceptionCode = outcome.exception.scode;
  result.description = outcome.exception.description.value_or(L"");
  const VARIANT* value = outcome.result.Get();
  if (SUCCEEDED(outcome.status)) {
    if (V_VT(value) == VT_BOOL) result.number = V_BOOL(value);
    if (V_VT(value) == VT_I4) result.number = V_I4(value);
  }
  for (size_t i = 0; i < arguments.texts.size(); ++i) {
    if (binding == Binding::TypedDispatch) {
      result.texts.push_back(TextOf(texts[i].Get()));
    } else {
      const VARIANT* variable = variables[i].Get();
      result.texts.push_back(V_VT(variable) == VT_BSTR ? TextOf(V_BSTR(variable)) : Text(L"(not text)"));
    }
  }
  // A script array locked for the call is unlocked again, so that it can be freed.
  for (size_t which = 0; member.hasArrays && binding == Binding::ScriptDispatch && which < 2; ++which) {
    VARIANT* variable = variables[arguments.texts.size() + which].Get();
    SAFEARRAY* typed = which == 0 ? arguments.keys : arguments.values;
    if (typed && typed->cLocks != 0 && (V_VT(variable) & VT_ARRAY) && V_ARRAY(variable)->cLocks != 0) {
      SafeArrayUnlock(V_ARRAY(variable));
    }
  }
  return result;
}

Outcome CallProperty(_Tolvane* object, const MemberName& property) {
  return Invoke(object, property.dispid, DISPATCH_PROPERTYGET, {});
}

// ---- What the file may look like afterwards ---------------------------------------------------

// The text as the ANSI profile functions receive it: each character as the code page's
// nearest match, except a look-alike of a character with meaning where it stands in a
// text of its role, which arrives as "?". (The awkward texts hold no look-alike blanks.)
std::string Ansi(const std::wstring& text, Role role) {
  std::string converted;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c < 0x80) {
      converted += static_cast<char>(c);
      continue;
    }
    char match[4] = {};
    const int size = WideCharToMultiByte(CP_ACP, 0, &c, 1, match, sizeof match, nullptr, nullptr);
    const bool atAnEnd = text.find_first_not_of(L" \t") == i || text.find_last_not_of(L" \t") == i;
    const std::string_view meaningful = role == Role::FileName  ? "=[];\"\\/:|<>*?. \t"
                                        : role == Role::Section ? "]"
                                        : role == Role::Key     ? (text.find_first_not_of(L" \t") == i ? "=;[" : "=")
                                                                : (atAnEnd ? "\"'" : "");
    const bool lookAlike = size == 1 && meaningful.find(match[0]) != std::string_view::npos;
    converted.append(lookAlike ? "?" : std::string(match, static_cast<size_t>(size)));
  }
  return converted;
}
std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), converted.data(), size);
  return converted;
}
Text RoundTrip(const Text& text, Role role) { return text ? Text(Wide(Ansi(*text, role))) : std::nullopt; }

// The file's sections, failing the test on any line the file syntax would misread.
// Lines before the first header belong to the unnamed section "", which the service
// writes for an empty section name.
std::vector<IniSection> ReadWellFormed(const std::string& bytes) {
  ini_reader::IniFile file = ini_reader::ReadIni(bytes);
  for (const std::string& misread : file.misread) ADD_FAILURE() << misread;
  return std::move(file.sections);
}

// ---- The fixture ------------------------------------------------------------------------------

class BadInput : public test_support::ComApartment {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ComApartment::SetUp());
    object_ = NewObject();
    ASSERT_TRUE(object_);
    file_ = folder_.PathOf(L"named.ini");
    sibling_ = folder_.PathOf(L"sibling.ini");
    WriteBytes(sibling_, kSibling);
    windowsBefore_ = ListFiles(WindowsFolder(), L"*.ini");
  }
  void TearDown() override {
    object_ = {};
    EXPECT_EQ(ReadBytes(sibling_), kSibling) << "a file other than the named one changed";
    EXPECT_EQ(ListFiles(WindowsFolder(), L"*.ini"), windowsBefore_) << "the Windows folder's INI files changed";
    ComApartment::TearDown();
  }

  void GivenFixture() {
    WriteBytes(file_, kFixture);
    SetFileName(object_.Get(), file_);
  }

  // Checks the file after a call with `texts`: still well-formed; a read or a refused
  // write left it as it was; sections the call did not name are as they were.
  void ExpectOnlyNamedSectionsChanged(const Member& member, std::vector<Text> texts, bool unchanged,
                                      Binding binding = Binding::FunctionTable) {
    // A script has no absent text: its null text is the empty one.
    if (binding == Binding::ScriptDispatch) {
      for (Text& text : texts) text = text.value_or(L"");
    }
    const std::optional<std::string> after = ReadBytes(file_);
    ASSERT_TRUE(after) << "the named file disappeared";
    if (unchanged || !member.writes) {
      EXPECT_EQ(*after, kFixture) << "the file changed";
      return;
    }
    const std::vector<IniSection> before = ReadWellFormed(kFixture), now = ReadWellFormed(*after);
    std::set<std::string> named;
    for (size_t i = 0; i < texts.size(); ++i) {
      if (member.texts[i].role == Role::Section && texts[i])
        named.insert(Lowercase(Trimmed(Ansi(*texts[i], Role::Section))));
    }
    std::vector<const IniSection*> unnamedBefore, unnamedNow;
    for (const IniSection& section : before) {
      if (!named.count(Lowercase(section.name))) unnamedBefore.push_back(&section);
    }
    for (const IniSection& section : now) {
      if (!named.count(Lowercase(section.name))) unnamedNow.push_back(&section);
    }
    // An absent section name in a delete deletes nothing, and names nothing else.
    ASSERT_EQ(unnamedNow.size(), unnamedBefore.size()) << "a section the call did not name appeared or vanished";
    for (size_t i = 0; i < unnamedNow.size(); ++i) {
      EXPECT_EQ(unnamedNow[i]->name, unnamedBefore[i]->name);
      EXPECT_EQ(unnamedNow[i]->lines, unnamedBefore[i]->lines) << "section " << unnamedNow[i]->name;
    }
  }

  IniFolder folder_;
  std::wstring file_, sibling_;
  Listing windowsBefore_;
  ComPtr<_Tolvane> object_;
};

// Texts that no write may put into the file as they are.
bool WriteRulesRefuse(Role role, const std::wstring& text) {
  if (text.find_first_of(L"\r\n"s + L'\0') != std::wstring::npos) return true;
  if (role == Role::Section) return text.find(L']') != std::wstring::npos;
  if (role == Role::Key) {
    const size_t first = text.find_first_not_of(L" \t\v\f\x1a");
    return text.find(L'=') != std::wstring::npos ||
           (first != std::wstring::npos && (text[first] == L';' || text[first] == L'['));
  }
  return false;
}

const std::wstring kHuge(1 << 20, L'x');  // 1 MiB of text

const std::vector<std::pair<const char*, Text>> kAwkwardTexts = {
    {"absent", std::nullopt},
    {"empty", L""},
    {"1 MiB", kHuge},
    {"outside code page 1252", L"\u4e00\u0391\u0100"},
    {"look-alike of =", L"k\uff1dq"},
    {"look-alike of [", L"\uff3bk"},
    {"look-alike of ]", L"s\uff3dx"},
    {"look-alike of ;", L"\uff1bk"},
    {"look-alike of \\", L"a\uff3cb"},
    {"NUL", L"a\0b"s},
    {"CR", L"a\rb"},
    {"LF", L"a\nb"},
    {"CR LF and a header", L"x\r\n[admin]\r\nallowed=1"},
    {"=", L"a=b"},
    {"[", L"[a"},
    {"]", L"a]"},
    {";", L";a"},
    {"leading and trailing spaces", L"  a b  "},
    {"blanks only", L"   "},
};

// The text each parameter gets when it is not the one under test.
Text Ordinary(const Member& member, size_t parameter) {
  if (member.Is(kRenameKey) && parameter == 2) return L"renamed";
  if (member.Is(kRenameSection) && parameter == 1) return L"renamed";
  switch (member.texts[parameter].role) {
    case Role::Section: return L"s";
    case Role::Key: return L"k";
    case Role::Value: return L"v";
    case Role::FileName: break;
  }
  return L"";
}

TEST_F(BadInput, EveryTextParameterTakesAwkwardTextsInEveryCallingForm) {
  for (const Member& member : kMembers) {
    for (size_t position = 0; position < member.texts.size(); ++position) {
      for (const auto& [label, awkward] : kAwkwardTexts) {
        for (Binding binding : kBindings) {
          SCOPED_TRACE(member.Name() + ", parameter " + std::to_string(position + 1) + " " + label + ", " +
                       NameOf(binding));
          GivenFixture();
          Arguments arguments;
          for (size_t i = 0; i < member.texts.size(); ++i) {
            arguments.texts.push_back(i == position ? awkward : Ordinary(member, i));
          }
          UniqueSafeArray keys, values;
          if (member.Is(kSectionWriteAtOnce)) {
            keys = TextArray({L"a", L"b"});
            values = TextArray({L"1", L"2"});
          }
          arguments.keys = keys.Release();
          arguments.values = values.Release();
          const Result result = CallMember(object_.Get(), member, binding, arguments);
          keys.Reset(arguments.keys);
          values.Reset(arguments.values);

          // Awkward text is an outcome, never a fault.
          EXPECT_EQ(result.status, S_OK) << "0x" << std::hex << result.status << " "
                                         << testing::PrintToString(result.description);
          ExpectExplained(result);

          const bool refused = member.refuses && awkward && WriteRulesRefuse(member.texts[position].role, *awkward);
          if (refused) {
            if (result.number) {
              EXPECT_EQ(*result.number, 0);
            }
            EXPECT_EQ(LastErrorOf(object_.Get()).rfind(L"Refused to write:", 0), 0u)
                << testing::PrintToString(LastErrorOf(object_.Get()));
          }
          // A write that did not happen says why.
          if (member.writes && result.number == 0) {
            EXPECT_FALSE(LastErrorOf(object_.Get()).empty());
          }
          // A new name the write rules refuse, or a key name that names nothing, leaves a
          // rename with nothing to do.
          const bool namesNothing = !awkward || awkward->find_first_not_of(L" \t") == std::wstring::npos;
          const bool newName = position == member.texts.size() - 1;
          const bool renameRefused =
              !member.refuses && (member.Is(kRenameKey) || member.Is(kRenameSection)) &&
              ((newName && (namesNothing || WriteRulesRefuse(member.texts[position].role, *awkward))) ||
               (member.texts[position].role == Role::Key && namesNothing));
          ExpectOnlyNamedSectionsChanged(member, arguments.texts, refused || renameRefused, binding);

          // By-reference texts come back as the service saw them; refused ones untouched.
          if (SUCCEEDED(result.status) && binding != Binding::ScriptDispatch) {
            for (size_t i = 0; i < member.texts.size(); ++i) {
              if (!member.texts[i].byReference) continue;
              const Text expected = refused ? arguments.texts[i] : RoundTrip(arguments.texts[i], member.texts[i].role);
              EXPECT_EQ(result.texts[i], expected)
                  << "parameter " << i + 1 << " came back as " << Printable(result.texts[i]);
            }
          }
          if (SUCCEEDED(result.status) && !refused && (member.Is(kWriteValue) || member.Is(kCreateKeyAndValue))) {
            // What was written reads back: the file syntax trims blanks, and a value
            // reads at most 254 characters.
            if (result.number == VARIANT_TRUE && arguments.texts[0] && arguments.texts[1] && arguments.texts[2]) {
              UniqueBstr section = Bstr(arguments.texts[0]), key = Bstr(arguments.texts[1]);
              UniqueBstr read;
              ASSERT_EQ(object_->ReadValue(section.InOut(), key.InOut(), read.InOut()), S_OK);
              const Text value = TextOf(read.Get());
              const std::string stored = Trimmed(Ansi(*arguments.texts[2], Role::Value)).substr(0, 254);
              EXPECT_EQ(value.value_or(L""), Wide(stored)) << "read back " << Printable(value);
            }
          }
        }
      }
    }
  }
}

// SectionWriteAtOnce reads its texts from the arrays too: each awkward text as a key and
// as a value.
TEST_F(BadInput, SectionWriteAtOnceTakesAwkwardTextsInItsArrays) {
  const Member& member = kMembers[5];
  ASSERT_TRUE(member.Is(kSectionWriteAtOnce));
  for (const int which : {0, 1}) {
    for (const auto& [label, awkward] : kAwkwardTexts) {
      if (!awkward) continue;  // an array element is a BSTR; the null one reads as empty
      for (Binding binding : kBindings) {
        SCOPED_TRACE(std::string(which == 0 ? "key " : "value ") + label + ", " + NameOf(binding));
        GivenFixture();
        UniqueSafeArray keys = TextArray({L"a", which == 0 ? *awkward : L"b"});
        UniqueSafeArray values = TextArray({L"1", which == 1 ? *awkward : L"2"});
        Arguments arguments{{L"s"}, keys.Release(), values.Release()};
        const Result result = CallMember(object_.Get(), member, binding, arguments);
        keys.Reset(arguments.keys);
        values.Reset(arguments.values);
        EXPECT_EQ(result.status, S_OK);
        const bool refused = WriteRulesRefuse(which == 0 ? Role::Key : Role::Value, *awkward);
        if (refused) {
          EXPECT_EQ(result.number, 0);
          EXPECT_EQ(LastErrorOf(object_.Get()).rfind(L"Refused to write:", 0), 0u);
        } else {
          EXPECT_EQ(result.number, 1);
        }
        ExpectOnlyNamedSectionsChanged(member, arguments.texts, refused, binding);
      }
    }
  }
}

// ---- Arrays ----------------------------------------------------------------------------------

// An array of an awkward shape, built for the test and released by it.
using profile_object::kArrayFixedOrLocked;
using profile_object::kInvalidArgument;
using profile_object::kOverflow;
using profile_object::kSubscriptOutOfRange;
using profile_object::kTypeMismatch;

struct ArrayCase {
  const char* label;
  std::function<UniqueSafeArray()> make;
  bool locked = false;  // held locked while the call runs
  // The fault each member must end with through typed callers (S_OK: none); nullopt
  // where only the general promises apply.
  std::optional<HRESULT> read = std::nullopt, write = std::nullopt;
};

UniqueSafeArray WithFeatures(UniqueSafeArray array, USHORT features) {
  array.Get()->fFeatures |= features;
  return array;
}

UniqueSafeArray TwoDimensional() {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  UniqueSafeArray array(SafeArrayCreate(VT_BSTR, 2, bounds));
  com_types::SafeArrayData<BSTR> data(array.Get());
  for (int i = 0; i < 4; ++i) data[i] = UniqueBstr::Copy(L"x").Release();
  return array;
}

UniqueSafeArray OfIntegers() {
  SAFEARRAYBOUND bound{2, 0};
  return UniqueSafeArray(SafeArrayCreate(VT_I4, 1, &bound));
}

UniqueSafeArray OfVariants() {
  SAFEARRAYBOUND bound{2, 0};
  return UniqueSafeArray(SafeArrayCreate(VT_VARIANT, 1, &bound));
}

const std::vector<ArrayCase>& ArrayCases() {
  static const std::vector<ArrayCase> cases = {
      {"unallocated", [] { return UniqueSafeArray(); }, false, S_OK, kSubscriptOutOfRange},
      {"empty (0 to -1)", [] { return TextArray({}); }, false, S_OK, S_OK},
      {"negative lower bound",
       [] {
         return TextArray({L"a", L"b"}, -5);
       },
       false, S_OK, S_OK},
      {"lower bound near the top",
       [] {
         return TextArray({L"a", L"b"}, 0x7FFFFFF0);
       },
       false, S_OK, S_OK},
      {"bounds past a 32-bit index",
       [] {
         return TextArray({L"a", L"b"}, 0x7FFFFFFF);
       },
       false, S_OK, kOverflow},
      {"lowest lower bound", [] { return TextArray({L"a"}, LONG_MIN); }, false, S_OK, S_OK},
      {"empty, at the lowest lower bound", [] { return TextArray({}, LONG_MIN); }, false, S_OK, kOverflow},
      {"empty, at the highest lower bound", [] { return TextArray({}, LONG_MAX); }, false, S_OK, S_OK},
      {"two-dimensional", [] { return TwoDimensional(); }, false, kTypeMismatch, kTypeMismatch},
      {"of integers", [] { return OfIntegers(); }, false, kTypeMismatch, kTypeMismatch},
      {"of variants", [] { return OfVariants(); }, false, kTypeMismatch, kTypeMismatch},
      {"fixed-size",
       [] {
         return WithFeatures(TextArray({L"a", L"b"}), FADF_FIXEDSIZE);
       },
       false, kArrayFixedOrLocked, S_OK},
      {"locked",
       [] {
         return TextArray({L"a", L"b"});
       },
       true, kArrayFixedOrLocked, S_OK},
  };
  return cases;
}

TEST_F(BadInput, ArrayParametersTakeArraysOfEveryShape) {
  for (const Member& member : {kMembers[1], kMembers[5]}) {
    const bool isRead = member.Is(kReadSection);
    for (const int which : {0, 1}) {
      for (const ArrayCase& awkward : ArrayCases()) {
        for (Binding binding : kBindings) {
          SCOPED_TRACE(member.Name() + (which == 0 ? " Keys " : " Values ") + awkward.label + ", " + NameOf(binding));
          GivenFixture();
          UniqueSafeArray keys = which == 0 ? awkward.make() : TextArray({L"a", L"b"});
          UniqueSafeArray values = which == 1 ? awkward.make() : TextArray({L"1", L"2"});
          SAFEARRAY* odd = which == 0 ? keys.Get() : values.Get();
          if (awkward.locked) SafeArrayLock(odd);
          Arguments arguments{{L"s"}, keys.Release(), values.Release()};
          const Result result = CallMember(object_.Get(), member, binding, arguments);
          keys.Reset(arguments.keys);
          values.Reset(arguments.values);
          SAFEARRAY* oddAfter = which == 0 ? keys.Get() : values.Get();
          if (awkward.locked) {
            EXPECT_EQ(oddAfter, odd) << "a locked array was replaced";
            SafeArrayUnlock(odd);
          }
          ExpectExplained(result);
          const std::optional<HRESULT> expected = isRead ? awkward.read : awkward.write;
          if (expected && binding != Binding::ScriptDispatch) {
            EXPECT_EQ(FaultOf(result), *expected) << "0x" << std::hex << FaultOf(result);
          }
          // Reads never change the file; a write either fails and changes nothing, or
          // writes the pairs it was given into the named section only.
          ExpectOnlyNamedSectionsChanged(member, arguments.texts, isRead || FAILED(result.status), binding);
          if (isRead && SUCCEEDED(result.status) && binding != Binding::ScriptDispatch) {
            // The section was read into new arrays of its two pairs.
            ASSERT_TRUE(keys.Get() && values.Get());
            EXPECT_EQ(Elements(keys.Get()), (std::vector<Text>{L"k", L"j"}));
            EXPECT_EQ(Elements(values.Get()), (std::vector<Text>{L"1", L"2"}));
          }
        }
      }
    }
  }
}

// Keys ending at the highest index, and an empty Values whose upper bound lies below the
// lowest one: read as 32-bit numbers the two upper bounds would agree, and Values would
// then be read at an index it does not have.
TEST_F(BadInput, AnUpperBoundBelowTheLowestIndexIsAnOverflow) {
  GivenFixture();
  UniqueSafeArray keys = TextArray({L"a"}, LONG_MAX), values = TextArray({}, LONG_MIN);
  Arguments arguments{{L"s"}, keys.Release(), values.Release()};
  const Result result = CallMember(object_.Get(), kMembers[5], Binding::FunctionTable, arguments);
  keys.Reset(arguments.keys);
  values.Reset(arguments.values);
  EXPECT_EQ(result.status, kOverflow);
  EXPECT_FALSE(result.description.empty());
  EXPECT_EQ(ReadBytes(file_), kFixture);
}

// ---- File names ------------------------------------------------------------------------------

TEST_F(BadInput, FileNamesThatDoNotNameAWritableFileChangeNothingElse) {
  // Run from the scratch folder, so that relative names stay inside it.
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder_.Path().c_str()));

  const std::wstring directory = folder_.PathOf(L"folder.ini");
  CreateDirectoryW(directory.c_str(), nullptr);
  CreateDirectoryW(folder_.PathOf(L"sub").c_str(), nullptr);
  const std::wstring readOnly = folder_.PathOf(L"readonly.ini");
  WriteBytes(readOnly, kFixture);
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring locked = folder_.PathOf(L"locked.ini");
  WriteBytes(locked, kFixture);
  HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);

  struct Case {
    const char* label;
    std::wstring name;
    bool mayWrite;  // the name is a file the platform may write: only it may change
  };
  const Case cases[] = {
      {"empty", L"", false},
      {"relative to the current folder", L".\\relative.ini", true},
      {"relative, in a sub-folder", L"sub\\relative.ini", true},
      {"a directory", directory, false},
      {"in a missing folder", folder_.PathOf(L"missing\\x.ini"), false},
      {"read-only", readOnly, true},  // Wine run as root may still write it
      {"locked by another handle", locked, false},
      {"longer than MAX_PATH", folder_.PathOf(std::wstring(300, L'a') + L".ini"), false},
      {"longer than MAX_PATH, in folders", folder_.PathOf(std::wstring(200, L'b') + L"\\" + std::wstring(100, L'c')),
       false},
      {"a path of MAX_PATH characters", folder_.PathOf(std::wstring(MAX_PATH - folder_.Path().size() - 1, L'd')),
       false},
      {"a path one character shorter", folder_.PathOf(std::wstring(MAX_PATH - folder_.Path().size() - 2, L'e')), true},
      {"1 MiB", folder_.PathOf(kHuge), false},
      {"outside code page 1252", folder_.PathOf(L"\u4e00.ini"), false},
      {"look-alike separators", folder_.PathOf(L"sub\uff3c..\uff3csibling.ini"), false},
      {"look-alike dots of the parent folder", folder_.PathOf(L"sub\\\uff0e\uff0e\\sibling.ini"), false},
      {"a nearest match, as other programs name the file", folder_.PathOf(L"\u0100sibling.ini"), true},
  };

  for (const Case& c : cases) {
    for (const Member& member : kMembers) {
      SCOPED_TRACE(std::string(c.label) + ", " + member.Name());
      WriteBytes(locked, kFixture);  // fails while locked; the bytes are the fixture's
      const Listing before = ListFiles(folder_.Path());
      const Listing subBefore = ListFiles(folder_.PathOf(L"sub"));
      SetFileName(object_.Get(), c.name);
      Arguments arguments;
      for (size_t i = 0; i < member.texts.size(); ++i) arguments.texts.push_back(Ordinary(member, i));
      UniqueSafeArray keys = TextArray({L"a"}), values = TextArray({L"1"});
      arguments.keys = keys.Release();
      arguments.values = values.Release();
      const Result result = CallMember(object_.Get(), member, Binding::FunctionTable, arguments);
      keys.Reset(arguments.keys);
      values.Reset(arguments.values);
      EXPECT_EQ(result.status, S_OK) << testing::PrintToString(result.description);

      // Nothing in the folder changed but the named file, and that only where the
      // platform may write it, and the named file's lock file.
      Listing after = ListFiles(folder_.Path());
      Listing subAfter = ListFiles(folder_.PathOf(L"sub"));
      Listing beforeWithoutNamed = before, subBeforeWithoutNamed = subBefore;
      wchar_t full[MAX_PATH] = {};
      GetFullPathNameW(Wide(Ansi(c.name, Role::FileName)).c_str(), MAX_PATH, full, nullptr);
      const std::wstring fullName = full;
      const std::wstring leaf = fullName.substr(fullName.rfind(L'\\') + 1);
      for (Listing* listing : {&after, &subAfter, &beforeWithoutNamed, &subBeforeWithoutNamed}) {
        if (c.mayWrite) listing->erase(leaf);
        listing->erase(leaf + L"-lock");
      }
      EXPECT_EQ(after, beforeWithoutNamed) << "a file other than the named one changed";
      EXPECT_EQ(subAfter, subBeforeWithoutNamed) << "a file other than the named one changed";

      // A failure is explained in LastErrorA (deletes report nothing).
      if (!c.mayWrite && result.number && *result.number == 0) {
        EXPECT_FALSE(LastErrorOf(object_.Get()).empty());
      }
      if (!c.mayWrite && (member.Is(kWriteValue) || member.Is(kSectionAdd) || member.Is(kCreateKeyAndValue))) {
        EXPECT_EQ(result.number, 0) << "a write to a name that cannot be written claimed success";
      }
    }
  }
  EXPECT_EQ(ReadBytes(locked).value_or(""), "");  // still locked: unreadable
  CloseHandle(lock);
  EXPECT_EQ(ReadBytes(locked), kFixture);
  SetCurrentDirectoryW(previous);
}

// Property get and put with awkward names and through Invoke.
TEST_F(BadInput, TheFileNamePropertyTakesAnyTextUnchanged) {
  for (const auto& [label, awkward] : kAwkwardTexts) {
    SCOPED_TRACE(label);
    UniqueBstr name = Bstr(awkward);
    BSTR given = name.Get();
    ASSERT_EQ(object_->put_IniFileName(name.InOut()), S_OK);
    EXPECT_EQ(name.Get(), given) << "the by-reference name was replaced";
    UniqueBstr stored;
    ASSERT_EQ(object_->get_IniFileName(stored.InOut()), S_OK);
    EXPECT_EQ(TextOf(stored.Get()).value_or(L""), awkward.value_or(L""));

    UniqueVariant variable;
    V_VT(variable.Get()) = VT_BSTR;
    V_BSTR(variable.Get()) = Bstr(awkward).Release();
    const Outcome put = Put(object_.Get(), kIniFileName.dispid, ByReference(variable.Get()), ArgumentPassing::Borrowed);
    EXPECT_EQ(put.status, S_OK);
    const Outcome got = CallProperty(object_.Get(), kIniFileName);
    ASSERT_EQ(got.status, S_OK);
    ASSERT_EQ(V_VT(got.result.Get()), VT_BSTR);
    EXPECT_EQ(TextOf(V_BSTR(got.result.Get())).value_or(L""), awkward.value_or(L""));
    EXPECT_EQ(CallProperty(object_.Get(), kLastErrorA).status, S_OK);
    EXPECT_EQ(CallProperty(object_.Get(), kSectionsCount).status, S_OK);
  }
}

// A name with a NUL inside would reach the service cut at the NUL, naming another
// section or key: reads find nothing, deletes and renames touch nothing.
TEST_F(BadInput, NamesCutShortByANulNameNothingElse) {
  GivenFixture();
  const std::wstring section = L"s\0x"s, key = L"k\0x"s;
  UniqueBstr s = Bstr(section), k = Bstr(key), plainS = Bstr(L"s"), plainK = Bstr(L"k"), other = Bstr(L"n");
  UniqueBstr read;
  ASSERT_EQ(object_->ReadValue(s.InOut(), plainK.InOut(), read.InOut()), S_OK);
  EXPECT_TRUE(read.IsAbsent());  // not the value of k in section s
  ASSERT_EQ(object_->ReadValue(plainS.InOut(), k.InOut(), read.InOut()), S_OK);
  EXPECT_TRUE(read.IsAbsent());
  EXPECT_FALSE(LastErrorOf(object_.Get()).empty());
  EXPECT_EQ(object_->DeleteKey(plainS.Get(), k.Get()), S_OK);
  EXPECT_EQ(object_->DeleteKey(s.Get(), plainK.Get()), S_OK);
  EXPECT_EQ(object_->DeleteSection(s.Get()), S_OK);
  EXPECT_EQ(object_->RenameKey(plainS.Get(), k.Get(), other.Get()), S_OK);
  EXPECT_EQ(object_->RenameKey(s.Get(), plainK.Get(), other.Get()), S_OK);
  EXPECT_EQ(object_->RenameSection(s.Get(), other.Get()), S_OK);
  EXPECT_EQ(ReadBytes(file_), kFixture);
}

// ReadSection fills two arrays: one variable passed for both would be filled twice.
TEST_F(BadInput, OneArrayForBothKeysAndValuesIsAnInvalidArgument) {
  GivenFixture();
  UniqueBstr s = Bstr(L"s");
  UniqueSafeArray both = TextArray({L"a"});
  SAFEARRAY* slot = both.Get();
  SAFEARRAY* same = both.Get();
  UniqueVariant result;
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(object_->ReadSection(s.InOut(), &slot, &slot, result.Get()), kInvalidArgument);
  EXPECT_FALSE(TakeErrorDescription().empty());
  EXPECT_EQ(object_->ReadSection(s.InOut(), &slot, &same, result.Get()), kInvalidArgument);
  EXPECT_EQ(slot, both.Get());
  EXPECT_EQ(Elements(both.Get()), (std::vector<Text>{L"a"}));
  EXPECT_EQ(ReadBytes(file_), kFixture);
}

// Null pointers where the interface takes pointers: refused, never followed.
TEST_F(BadInput, NullPointersAreRefusedWithEPointer) {
  GivenFixture();
  UniqueBstr s = Bstr(L"s"), k = Bstr(L"k"), v = Bstr(L"v");
  SAFEARRAY* keys = nullptr;
  SAFEARRAY* values = nullptr;
  VARIANT_BOOL flag;
  LONG count;
  UniqueVariant variant;
  EXPECT_EQ(object_->get_IniFileName(nullptr), E_POINTER);
  EXPECT_EQ(object_->put_IniFileName(nullptr), E_POINTER);
  EXPECT_EQ(object_->get_LastErrorA(nullptr), E_POINTER);
  EXPECT_EQ(object_->ReadValue(nullptr, k.InOut(), nullptr), E_POINTER);
  UniqueBstr text;
  EXPECT_EQ(object_->ReadValue(nullptr, k.InOut(), text.InOut()), E_POINTER);
  EXPECT_EQ(object_->ReadValue(s.InOut(), nullptr, text.InOut()), E_POINTER);
  EXPECT_TRUE(text.IsAbsent());
  EXPECT_EQ(object_->ReadSection(s.InOut(), nullptr, &values, variant.Get()), E_POINTER);
  EXPECT_EQ(object_->ReadSection(s.InOut(), &keys, nullptr, variant.Get()), E_POINTER);
  EXPECT_EQ(object_->ReadSection(nullptr, &keys, &values, variant.Get()), E_POINTER);
  EXPECT_EQ(object_->ReadSection(s.InOut(), &keys, &values, nullptr), E_POINTER);
  EXPECT_EQ(object_->WriteValue(nullptr, k.InOut(), v.InOut(), &flag), E_POINTER);
  EXPECT_EQ(object_->WriteValue(s.InOut(), nullptr, v.InOut(), &flag), E_POINTER);
  EXPECT_EQ(object_->WriteValue(s.InOut(), k.InOut(), nullptr, &flag), E_POINTER);
  EXPECT_EQ(object_->CreateKeyAndValue(s.Get(), k.Get(), v.Get(), nullptr), E_POINTER);
  EXPECT_EQ(object_->get_SectionsCount(nullptr), E_POINTER);
  EXPECT_EQ(object_->SectionAdd(s.Get(), nullptr), E_POINTER);
  EXPECT_EQ(object_->SectionWriteAtOnce(nullptr, &keys, &values, &count), E_POINTER);
  EXPECT_EQ(object_->SectionWriteAtOnce(s.InOut(), nullptr, &values, &count), E_POINTER);
  EXPECT_EQ(object_->SectionWriteAtOnce(s.InOut(), &keys, nullptr, &count), E_POINTER);
  EXPECT_EQ(object_->SectionWriteAtOnce(s.InOut(), &keys, &values, nullptr), E_POINTER);
  EXPECT_EQ(ReadBytes(file_), kFixture);

  // Late bound: by-reference arguments whose pointer is null.
  for (const MemberName& member : {kReadValue, kWriteValue}) {
    SCOPED_TRACE(testing::Message() << member.name);
    std::vector<VARIANTARG> typed = {ByReference(static_cast<BSTR*>(nullptr)), ByReference(k.InOut())};
    std::vector<VARIANTARG> script = {ByReference(static_cast<VARIANT*>(nullptr)), ByReference(k.InOut())};
    if (member.dispid == kWriteValue.dispid) {
      typed.push_back(ByReference(v.InOut()));
      script.push_back(ByReference(v.InOut()));
    }
    robustness::ExpectExplained(
        Invoke(object_.Get(), member.dispid, DISPATCH_METHOD, typed, ArgumentPassing::Borrowed));
    robustness::ExpectExplained(Invoke(object_.Get(), member.dispid, kScriptCall, script, ArgumentPassing::Borrowed));
  }
  for (const MemberName& member : {kReadSection, kSectionWriteAtOnce}) {
    SCOPED_TRACE(testing::Message() << member.name);
    robustness::ExpectExplained(Invoke(object_.Get(), member.dispid, DISPATCH_METHOD,
                                       {ByReference(s.InOut()), ByReference(static_cast<SAFEARRAY**>(nullptr)),
                                        ByReference(static_cast<SAFEARRAY**>(nullptr))},
                                       ArgumentPassing::Borrowed));
    robustness::ExpectExplained(Invoke(object_.Get(), member.dispid, kScriptCall,
                                       {ByReference(s.InOut()), ByReference(static_cast<VARIANT*>(nullptr)),
                                        ByReference(static_cast<VARIANT*>(nullptr))},
                                       ArgumentPassing::Borrowed));
  }
  EXPECT_EQ(ReadBytes(file_), kFixture);
}

}  // namespace
}  // namespace robustness
