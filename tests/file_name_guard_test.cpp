// Without a file name, member by member and in every calling form: the guarded members
// make no file access, say "Missing IniFilename" and return their no-file value; the
// unguarded ones reach the service, which refuses the empty name, so that they too touch
// no file (a bare name would resolve into the Windows folder). Either way the call
// succeeds, and the caller's variables come back as they were passed.
#include <functional>

#include "automation/tolvane_object.h"
#include "tests/support/com_apartment.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/test_support.h"

namespace {

using dispatch_calls::ArgumentPassing;
using dispatch_calls::Binding;
using dispatch_calls::ByReference;
using dispatch_calls::ByValue;
using dispatch_calls::MemberName;
using test_support::Bstr;
using test_support::ComPtr;
using test_support::CurrentFolder;
using test_support::Elements;
using test_support::ListFiles;
using test_support::Text;
using test_support::TextArray;
using test_support::TextOf;
using test_support::UniqueBstr;
using test_support::UniqueSafeArray;
using test_support::UniqueVariant;
using test_support::WindowsFolder;

using Texts = std::vector<Text>;

enum class Role { Section, Key, Value, NewName, Keys, Values };
struct Parameter {
  Role role;
  bool byReference;
};

// Whether the caller's array variables hold arrays, or none yet (unallocated typed arrays,
// Empty script variables).
enum class Arrays { Allocated, None };

// The caller's variables for one call. The texts hold a character the ANSI code page
// cannot, so that a text that reached the service would come back converted; a script's
// section is a number, which would come back as text.
class Variables {
 public:
  explicit Variables(Arrays arrays) : arrays_(arrays) {
    V_VT(scriptSection_.Get()) = VT_I4;
    V_I4(scriptSection_.Get()) = 5;
    if (arrays == Arrays::Allocated) {
      keys_ = TextArray({L"k"});
      values_ = TextArray({L"v"});
      scriptKeys_ = dispatch_calls::ScriptArray({L"k"});
      scriptValues_ = dispatch_calls::ScriptArray({L"v"});
    }
    sectionMade_ = section.Get();
    keysMade_ = keys_.Get();
    valuesMade_ = values_.Get();
    scriptKeysMade_ = arrays == Arrays::Allocated ? V_ARRAY(scriptKeys_.Get()) : nullptr;
  }
  Variables(const Variables&) = delete;
  Variables& operator=(const Variables&) = delete;

  UniqueBstr section = Bstr(L"s\u4e00"), key = Bstr(L"k\u4e00"), value = Bstr(L"v\u4e00"), newName = Bstr(L"n");
  SAFEARRAY** Keys() { return keys_.InOut(); }
  SAFEARRAY** Values() { return values_.InOut(); }

  VARIANTARG Typed(const Parameter& parameter) {
    switch (parameter.role) {
      case Role::Keys: return ByReference(Keys());
      case Role::Values: return ByReference(Values());
      default: break;
    }
    UniqueBstr& text = TextFor(parameter.role);
    return parameter.byReference ? ByReference(text.InOut()) : ByValue(text.Get());
  }
  // A script passes every variable by reference, whatever the parameter.
  VARIANTARG Script(const Parameter& parameter) {
    switch (parameter.role) {
      case Role::Section: return ByReference(scriptSection_.Get());
      case Role::Key: return ByReference(scriptKey_.Get());
      case Role::Value: return ByReference(scriptValue_.Get());
      case Role::NewName: return ByReference(scriptNewName_.Get());
      case Role::Keys: return ByReference(scriptKeys_.Get());
      case Role::Values: return ByReference(scriptValues_.Get());
    }
    return {};
  }

  // Every variable as it was made: the same texts and arrays, none replaced.
  void ExpectAsMade() const {
    EXPECT_EQ(section.Get(), sectionMade_);
    EXPECT_EQ(TextOf(section.Get()), L"s\u4e00");
    EXPECT_EQ(TextOf(key.Get()), L"k\u4e00");
    EXPECT_EQ(TextOf(value.Get()), L"v\u4e00");
    EXPECT_EQ(keys_.Get(), keysMade_);
    EXPECT_EQ(values_.Get(), valuesMade_);
    EXPECT_EQ(V_VT(scriptSection_.Get()), VT_I4);
    EXPECT_EQ(TextOf(V_BSTR(scriptKey_.Get())), L"k\u4e00");
    if (arrays_ == Arrays::None) {
      EXPECT_EQ(V_VT(scriptKeys_.Get()), VT_EMPTY);
      EXPECT_EQ(V_VT(scriptValues_.Get()), VT_EMPTY);
      return;
    }
    EXPECT_EQ(Elements(keys_.Get()), (Texts{L"k"}));
    EXPECT_EQ(Elements(values_.Get()), (Texts{L"v"}));
    EXPECT_EQ(V_ARRAY(scriptKeys_.Get()), scriptKeysMade_);
    EXPECT_EQ(dispatch_calls::TextsOfScriptArray(scriptKeys_.Get()), (Texts{L"k"}));
    EXPECT_EQ(dispatch_calls::TextsOfScriptArray(scriptValues_.Get()), (Texts{L"v"}));
  }

 private:
  UniqueBstr& TextFor(Role role) {
    switch (role) {
      case Role::Key: return key;
      case Role::Value: return value;
      case Role::NewName: return newName;
      default: return section;
    }
  }

  Arrays arrays_;
  UniqueSafeArray keys_, values_;
  UniqueVariant scriptSection_, scriptKey_ = dispatch_calls::TextVariant(L"k\u4e00"),
                                scriptValue_ = dispatch_calls::TextVariant(L"v\u4e00"),
                                scriptNewName_ = dispatch_calls::TextVariant(L"n"), scriptKeys_, scriptValues_;
  BSTR sectionMade_ = nullptr;
  SAFEARRAY* keysMade_ = nullptr;
  SAFEARRAY* valuesMade_ = nullptr;
  SAFEARRAY* scriptKeysMade_ = nullptr;
};

// What LastErrorA holds after the call, on an object that had no error before it.
enum class Reported {
  MissingFileName,  // "Missing IniFilename"
  SystemMessage,    // the service's refusal of the empty name
  Nothing,          // the deletes report nothing
  Unspecified,      // RenameSection promises only to change nothing
};

// The member's result: nothing (VT_EMPTY), a Boolean or number, or a text.
struct NoFileValue {
  VARTYPE type;
  LONG number = 0;
  const wchar_t* text = nullptr;
};

struct Row {
  MemberName member;
  WORD kind;  // DISPATCH_METHOD or DISPATCH_PROPERTYGET
  std::vector<Parameter> parameters;
  NoFileValue noFile;
  Reported reported;
  // The call through the function table, its result put into `result`, whose type the
  // test has set to that of the no-file value, as Invoke would.
  std::function<HRESULT(_Tolvane*, Variables&, VARIANT* result)> early;
  Arrays arrays = Arrays::Allocated;
};

constexpr Parameter kSection{Role::Section, false}, kSectionByReference{Role::Section, true}, kKey{Role::Key, false},
    kKeyByReference{Role::Key, true}, kValue{Role::Value, false}, kValueByReference{Role::Value, true},
    kNewName{Role::NewName, false}, kKeys{Role::Keys, true}, kValues{Role::Values, true};
constexpr NoFileValue kNoResult{VT_EMPTY}, kFalse{VT_BOOL, VARIANT_FALSE};

// ReadSection replaces the caller's arrays: it is called with arrays and without.
Row ReadSectionRow(Arrays arrays) {
  return {dispatch_calls::kReadSection,
          DISPATCH_METHOD,
          {kSectionByReference, kKeys, kValues},
          kFalse,
          Reported::MissingFileName,
          [](_Tolvane* o, Variables& v, VARIANT* result) {
            return o->ReadSection(v.section.InOut(), v.Keys(), v.Values(), result);
          },
          arrays};
}

const std::vector<Row>& Rows() {
  using namespace dispatch_calls;
  static const std::vector<Row> rows = {
      {kReadValue,
       DISPATCH_METHOD,
       {kSectionByReference, kKeyByReference},
       {VT_BSTR, 0, L"False"},
       Reported::MissingFileName,
       [](_Tolvane* o, Variables& v, VARIANT* result) {
         return o->ReadValue(v.section.InOut(), v.key.InOut(), &V_BSTR(result));
       }},
      {kWriteValue,
       DISPATCH_METHOD,
       {kSectionByReference, kKeyByReference, kValueByReference},
       kFalse,
       Reported::MissingFileName,
       [](_Tolvane* o, Variables& v, VARIANT* result) {
         return o->WriteValue(v.section.InOut(), v.key.InOut(), v.value.InOut(), &V_BOOL(result));
       }},
      {kCreateKeyAndValue,
       DISPATCH_METHOD,
       {kSection, kKey, kValue},
       kFalse,
       Reported::SystemMessage,
       [](_Tolvane* o, Variables& v, VARIANT* result) {
         return o->CreateKeyAndValue(v.section.Get(), v.key.Get(), v.value.Get(), &V_BOOL(result));
       }},
      {kDeleteKey,
       DISPATCH_METHOD,
       {kSection, kKey},
       kNoResult,
       Reported::Nothing,
       [](_Tolvane* o, Variables& v, VARIANT*) { return o->DeleteKey(v.section.Get(), v.key.Get()); }},
      {kRenameKey,
       DISPATCH_METHOD,
       {kSection, kKey, kNewName},
       kNoResult,
       Reported::MissingFileName,  // as the read it stands for
       [](_Tolvane* o, Variables& v, VARIANT*) { return o->RenameKey(v.section.Get(), v.key.Get(), v.newName.Get()); }},
      {kSectionsCount,
       DISPATCH_PROPERTYGET,
       {},
       {VT_I4, -1},
       Reported::MissingFileName,
       [](_Tolvane* o, Variables&, VARIANT* result) { return o->get_SectionsCount(&V_I4(result)); }},
      ReadSectionRow(Arrays::Allocated),
      ReadSectionRow(Arrays::None),
      {kSectionAdd,
       DISPATCH_METHOD,
       {kSection},
       kFalse,
       Reported::MissingFileName,
       [](_Tolvane* o, Variables& v, VARIANT* result) { return o->SectionAdd(v.section.Get(), &V_BOOL(result)); }},
      {kSectionWriteAtOnce,
       DISPATCH_METHOD,
       {kSectionByReference, kKeys, kValues},
       {VT_I4, 0},
       Reported::MissingFileName,
       [](_Tolvane* o, Variables& v, VARIANT* result) {
         return o->SectionWriteAtOnce(v.section.InOut(), v.Keys(), v.Values(), &V_I4(result));
       }},
      {kDeleteSection,
       DISPATCH_METHOD,
       {kSection},
       kNoResult,
       Reported::Nothing,
       [](_Tolvane* o, Variables& v, VARIANT*) { return o->DeleteSection(v.section.Get()); }},
      {kRenameSection,
       DISPATCH_METHOD,
       {kSection, kNewName},
       kNoResult,
       Reported::Unspecified,
       [](_Tolvane* o, Variables& v, VARIANT*) { return o->RenameSection(v.section.Get(), v.newName.Get()); }},
  };
  return rows;
}

void ExpectNoFileValue(const VARIANT* result, const NoFileValue& expected) {
  ASSERT_EQ(V_VT(result), expected.type);
  switch (expected.type) {
    case VT_BOOL: EXPECT_EQ(V_BOOL(result), expected.number); break;
    case VT_I4: EXPECT_EQ(V_I4(result), expected.number); break;
    case VT_BSTR: EXPECT_EQ(TextOf(V_BSTR(result)), expected.text); break;
    default: break;
  }
}

void ExpectReported(Reported reported, const Text& lastError) {
  switch (reported) {
    case Reported::MissingFileName: EXPECT_EQ(lastError, L"Missing IniFilename"); break;
    case Reported::SystemMessage:
      EXPECT_FALSE(lastError.value_or(L"").empty());
      EXPECT_NE(lastError, L"Missing IniFilename");
      break;
    case Reported::Nothing: EXPECT_EQ(lastError.value_or(L""), L""); break;
    case Reported::Unspecified: break;
  }
}

// LastErrorA, read the way the binding reads it.
Text LastErrorOf(_Tolvane* object, Binding binding) {
  if (binding == Binding::FunctionTable) {
    UniqueBstr text;
    EXPECT_EQ(object->get_LastErrorA(text.InOut()), S_OK);
    return TextOf(text.Get());
  }
  const dispatch_calls::Outcome got =
      dispatch_calls::Invoke(object, dispatch_calls::kLastErrorA.dispid, DISPATCH_PROPERTYGET);
  EXPECT_EQ(got.status, S_OK);
  return dispatch_calls::TextOf(got.result.Get());
}

class FileNameGuard : public test_support::ComApartment {};

TEST_F(FileNameGuard, EveryMemberWithoutAFileNameTouchesNoFileAndGivesItsNoFileValue) {
  // A name without a folder that reached the platform would resolve into the Windows folder.
  const test_support::Listing windowsBefore = ListFiles(WindowsFolder(), L"*.ini");
  const test_support::Listing currentBefore = ListFiles(CurrentFolder(), L"*.ini");
  for (const Row& row : Rows()) {
    for (Binding binding : dispatch_calls::kBindings) {
      SCOPED_TRACE(testing::Message() << row.member.name << (row.arrays == Arrays::None ? ", no arrays" : "") << ", "
                                      << dispatch_calls::NameOf(binding));
      ComPtr<_Tolvane> object(automation::CreateTolvaneObject());
      ASSERT_TRUE(object);
      Variables variables(row.arrays);

      // An outcome, not a fault: the call succeeds and leaves no error information.
      UniqueVariant result;
      SetErrorInfo(0, nullptr);
      if (binding == Binding::FunctionTable) {
        V_VT(result.Get()) = row.noFile.type;
        EXPECT_EQ(row.early(object.Get(), variables, result.Get()), S_OK);
        EXPECT_FALSE(dispatch_calls::TakeErrorInformation());
      } else {
        std::vector<VARIANTARG> arguments;
        for (const Parameter& parameter : row.parameters) {
          arguments.push_back(binding == Binding::TypedDispatch ? variables.Typed(parameter)
                                                                : variables.Script(parameter));
        }
        const WORD flags = binding == Binding::ScriptDispatch ? dispatch_calls::kScriptCall : row.kind;
        dispatch_calls::Outcome outcome = dispatch_calls::Invoke(object.Get(), row.member.dispid, flags,
                                                                 std::move(arguments), ArgumentPassing::Borrowed);
        EXPECT_EQ(outcome.status, S_OK);
        EXPECT_EQ(outcome.exception.scode, S_OK);
        result = std::move(outcome.result);
      }
      ExpectNoFileValue(result.Get(), row.noFile);

      ExpectReported(row.reported, LastErrorOf(object.Get(), binding));
      variables.ExpectAsMade();
      EXPECT_EQ(ListFiles(WindowsFolder(), L"*.ini"), windowsBefore) << "an INI file in the Windows folder changed";
      EXPECT_EQ(ListFiles(CurrentFolder(), L"*.ini"), currentBefore) << "an INI file in the current folder changed";
    }
  }
}

}  // namespace
