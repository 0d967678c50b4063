// Seeded random calls: every member, through the function table and through IDispatch,
// given random texts, arrays of random shapes, and (late bound) variants of random kinds
// and counts. Whatever comes in, a call returns: S_OK, or a failure from the known set
// that explains itself, and the files outside the test's own folder stay as they were.
//
// The calls follow a seed printed at the start; set ROBUSTNESS_RANDOM_SEED to replay them.
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "automation/module_state.h"
#include "tests/robustness/robustness_support.h"

namespace robustness {
namespace {

using namespace std::string_literals;

using dispatch_calls::MemberName;

struct MemberShape {
  MemberName member;
  int texts;         // text parameters, first
  bool byReference;  // whether they are taken by reference
  bool arrays;       // then Keys and Values

  std::string Name() const { return (testing::Message() << member.name).GetString(); }
};
const MemberShape kMethods[] = {
    {dispatch_calls::kReadValue, 2, true, false},          {dispatch_calls::kReadSection, 1, true, true},
    {dispatch_calls::kCreateKeyAndValue, 3, false, false}, {dispatch_calls::kWriteValue, 3, true, false},
    {dispatch_calls::kSectionAdd, 1, false, false},        {dispatch_calls::kSectionWriteAtOnce, 1, true, true},
    {dispatch_calls::kRenameKey, 3, false, false},         {dispatch_calls::kRenameSection, 2, false, false},
    {dispatch_calls::kDeleteSection, 1, false, false},     {dispatch_calls::kDeleteKey, 2, false, false},
};

class RandomInput {
 public:
  explicit RandomInput(uint32_t seed) : random_(seed) {}

  int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }
  bool OneIn(int n) { return Below(n) == 0; }

  Text AnyText() {
    switch (Below(12)) {
      case 0: return std::nullopt;
      case 1: return L"";
      case 2: return std::wstring(300, L'v');
      case 3: return OneIn(4) ? std::wstring(1 << 20, L'h') : std::wstring(32767, L'h');
      case 4: return L"s";
      case 5: return L"k";
      default: break;
    }
    static const wchar_t kAlphabet[] = L"aAbB =[];\"\t\r\n\x4e00\xff1d\xff3c\x0100\x00e9.\\/:?*";
    std::wstring text;
    const int length = Below(12);
    for (int i = 0; i < length; ++i) {
      text += OneIn(16) ? L'\0' : kAlphabet[Below(static_cast<int>(std::size(kAlphabet)) - 1)];
    }
    return text;
  }

  UniqueSafeArray AnyArray() {
    switch (Below(10)) {
      case 0: return UniqueSafeArray();
      case 1: {  // two dimensions
        SAFEARRAYBOUND bounds[2] = {{2, 0}, {static_cast<ULONG>(Below(3)), 0}};
        return UniqueSafeArray(SafeArrayCreate(VT_BSTR, 2, bounds));
      }
      case 2: {  // not text
        SAFEARRAYBOUND bound{static_cast<ULONG>(Below(3)), 0};
        return UniqueSafeArray(SafeArrayCreate(OneIn(2) ? VT_I4 : VT_VARIANT, 1, &bound));
      }
      default: break;
    }
    static const LONG kLowerBounds[] = {0, 0, 0, 1, -3, 0x7FFFFFF0, 0x7FFFFFFF, LONG_MIN};
    const LONG lower = kLowerBounds[Below(static_cast<int>(std::size(kLowerBounds)))];
    std::vector<std::wstring> elements(static_cast<size_t>(Below(4)));
    for (std::wstring& element : elements) element = AnyText().value_or(L"");
    SAFEARRAYBOUND bound{static_cast<ULONG>(elements.size()), lower};
    UniqueSafeArray array(SafeArrayCreate(VT_BSTR, 1, &bound));
    if (!array.Get()) return array;
    if (!elements.empty()) {
      com_types::SafeArrayData<BSTR> data(array.Get());
      for (size_t i = 0; i < elements.size(); ++i) data[i] = Bstr(elements[i]).Release();
    }
    if (OneIn(8)) array.Get()->fFeatures |= FADF_FIXEDSIZE;
    return array;
  }

  std::mt19937& Engine() { return random_; }

 private:
  std::mt19937 random_;
};

// A variant a script might hand over; `holder` keeps what it points at alive.
struct Held {
  UniqueVariant variable;
  UniqueBstr text;
  UniqueSafeArray array;
};
VARIANTARG AnyVariant(RandomInput& input, Held& held) {
  VARIANT* v = held.variable.Get();
  switch (input.Below(12)) {
    case 0: break;  // Empty
    case 1: V_VT(v) = VT_NULL; break;
    case 2:
      V_VT(v) = VT_I4;
      V_I4(v) = input.Below(1000) - 500;
      break;
    case 3:
      V_VT(v) = VT_R8;
      V_R8(v) = 1.5e300;
      break;
    case 4:
      V_VT(v) = VT_BOOL;
      V_BOOL(v) = VARIANT_TRUE;
      break;
    case 5:
      V_VT(v) = VT_DISPATCH;
      V_DISPATCH(v) = nullptr;
      break;
    case 6:
      V_VT(v) = VT_ERROR;
      V_ERROR(v) = DISP_E_PARAMNOTFOUND;
      break;
    case 7: {
      UniqueSafeArray texts = input.AnyArray();
      if (texts.Get()) {
        VARTYPE type = VT_EMPTY;
        SafeArrayGetVartype(texts.Get(), &type);
        V_VT(v) = VT_ARRAY | type;
        V_ARRAY(v) = texts.Release();
      }
      break;
    }
    case 8: {  // a reference to nothing
      VARIANTARG reference;
      VariantInit(&reference);
      V_VT(&reference) = VT_BYREF | (input.OneIn(2) ? VT_VARIANT : VT_BSTR);
      V_BYREF(&reference) = nullptr;
      return reference;
    }
    case 9: {  // a typed by-reference text
      held.text = Bstr(input.AnyText());
      return ByReference(held.text.InOut());
    }
    default:
      V_VT(v) = VT_BSTR;
      V_BSTR(v) = Bstr(input.AnyText()).Release();
      break;
  }
  // Scripts pass their variables by reference; some callers pass values.
  if (input.OneIn(3)) {
    VARIANTARG byValue = *v;  // borrowed: the holder frees it
    return byValue;
  }
  return ByReference(v);
}

// An array's shape, for the trace.
std::string Shape(SAFEARRAY* array) {
  if (!array) return "(none)";
  std::string shape = std::to_string(SafeArrayGetDim(array)) + "d";
  for (UINT d = 0; d < SafeArrayGetDim(array); ++d) {
    shape +=
        " [" + std::to_string(array->rgsabound[d].lLbound) + " +" + std::to_string(array->rgsabound[d].cElements) + "]";
  }
  VARTYPE type = VT_EMPTY;
  SafeArrayGetVartype(array, &type);
  return shape + " vt " + std::to_string(type) + " features " + std::to_string(array->fFeatures);
}

// The result of one early-bound call, by member.
HRESULT CallEarly(_Tolvane* object, const MemberShape& member, std::vector<UniqueBstr>& texts, SAFEARRAY** keys,
                  SAFEARRAY** values) {
  VARIANT_BOOL flag;
  LONG count;
  UniqueVariant variant;
  UniqueBstr text;
  HRESULT status = E_FAIL;
  const std::string name = member.Name();
  if (name == "ReadValue") status = object->ReadValue(texts[0].InOut(), texts[1].InOut(), text.InOut());
  if (name == "ReadSection") status = object->ReadSection(texts[0].InOut(), keys, values, variant.Get());
  if (name == "CreateKeyAndValue")
    status = object->CreateKeyAndValue(texts[0].Get(), texts[1].Get(), texts[2].Get(), &flag);
  if (name == "WriteValue") status = object->WriteValue(texts[0].InOut(), texts[1].InOut(), texts[2].InOut(), &flag);
  if (name == "SectionAdd") status = object->SectionAdd(texts[0].Get(), &flag);
  if (name == "SectionWriteAtOnce") status = object->SectionWriteAtOnce(texts[0].InOut(), keys, values, &count);
  if (name == "RenameKey") status = object->RenameKey(texts[0].Get(), texts[1].Get(), texts[2].Get());
  if (name == "RenameSection") status = object->RenameSection(texts[0].Get(), texts[1].Get());
  if (name == "DeleteSection") status = object->DeleteSection(texts[0].Get());
  if (name == "DeleteKey") status = object->DeleteKey(texts[0].Get(), texts[1].Get());
  return status;
}

TEST(RandomCalls, AnyInputEndsInAKnownOutcomeAndTouchesNoOtherFile) {
  const uint32_t seed = SeedFrom("ROBUSTNESS_RANDOM_SEED");
  RandomInput input(seed);
  IniFolder folder;
  const Listing windowsBefore = ListFiles(WindowsFolder(), L"*.ini");
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.Path().c_str()));  // relative names stay inside it
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  const std::wstring file = folder.PathOf(L"random.ini");
  constexpr char kFixture[] = "[s]\r\nk=1\r\nj=2\r\n[t]\r\nk=3\r\n";

  constexpr int kCalls = 3000;
  const bool trace = std::getenv("ROBUSTNESS_TRACE") != nullptr;  // names each call: a crash shows where
  int failures = 0, lateBound = 0;
  {
    ComPtr<_Tolvane> object = NewObject();
    ASSERT_TRUE(object);
    for (int call = 1; call <= kCalls; ++call) {
      if (call % 100 == 1) {
        WriteBytes(file, kFixture);  // keeps the file small, whatever was written into it
        object = NewObject();
        SetFileName(object.Get(), file);
      }
      if (input.OneIn(40)) {  // another file name now and then, always inside the folder
        const Text part = input.AnyText();
        std::wstring name;
        switch (input.Below(4)) {
          case 0: name = L""; break;
          case 1: name = L".\\" + part.value_or(L"x") + L".ini"; break;
          case 2: name = folder.PathOf(L"missing\\" + part.value_or(L"x")); break;
          default: name = file; break;
        }
        if (name.find(L"..") != std::wstring::npos) name = file;  // no way out of the folder
        SetFileName(object.Get(), name);
      }
      const MemberShape& member = kMethods[input.Below(static_cast<int>(std::size(kMethods)))];
      SCOPED_TRACE(std::string("call ") + std::to_string(call) + ": " + member.Name() + " (seed " +
                   std::to_string(seed) + ")");
      if (trace) fprintf(stderr, "call %d: %s\n", call, member.Name().c_str());
      UniqueSafeArray keys = input.AnyArray(), values = input.AnyArray();
      const bool lockKeys = keys.Get() && input.OneIn(10);
      if (lockKeys) SafeArrayLock(keys.Get());
      if (input.OneIn(2)) {
        std::vector<UniqueBstr> texts;
        for (int i = 0; i < member.texts; ++i) texts.push_back(Bstr(input.AnyText()));
        SAFEARRAY* keySlot = keys.Release();
        SAFEARRAY* valueSlot = values.Release();
        SAFEARRAY** valueArgument = input.OneIn(20) ? &keySlot : &valueSlot;  // one variable for both
        if (trace)
          fprintf(stderr, "  function table, Keys %s, Values %s\n", Shape(keySlot).c_str(), Shape(valueSlot).c_str());
        SetErrorInfo(0, nullptr);
        const HRESULT status = CallEarly(object.Get(), member, texts, &keySlot, valueArgument);
        keys.Reset(keySlot);
        values.Reset(valueSlot);
        ExpectExplained(status, FAILED(status) ? TakeErrorDescription() : L"");
        if (FAILED(status)) ++failures;
      } else {
        ++lateBound;
        const int count = input.OneIn(10) ? input.Below(5) : member.texts + (member.arrays ? 2 : 0);
        std::vector<Held> held(static_cast<size_t>(count));
        std::vector<VARIANTARG> arguments;
        for (int i = 0; i < count; ++i) arguments.push_back(AnyVariant(input, held[i]));
        const WORD flags = input.OneIn(2) ? DISPATCH_METHOD : dispatch_calls::kScriptCall;
        if (trace) {
          fprintf(stderr, "  IDispatch:");
          for (const VARIANTARG& argument : arguments) {
            const VARIANT* shown = &argument;
            fprintf(stderr, " %04x", V_VT(shown));
            if (V_VT(shown) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(shown)) shown = V_VARIANTREF(shown);
            if (V_VT(shown) & VT_ARRAY) fprintf(stderr, "->%04x %s", V_VT(shown), Shape(V_ARRAY(shown)).c_str());
          }
          fprintf(stderr, "\n");
        }
        const Outcome outcome = Invoke(object.Get(), member.member.dispid, flags, arguments, ArgumentPassing::Borrowed);
        ExpectExplained(outcome);
        if (FAILED(outcome.status)) ++failures;
        for (Held& h : held) {  // a locked array cannot be freed
          if ((V_VT(h.variable.Get()) & VT_ARRAY) && V_ARRAY(h.variable.Get()) &&
              V_ARRAY(h.variable.Get())->cLocks != 0) {
            SafeArrayUnlock(V_ARRAY(h.variable.Get()));
          }
        }
      }
      if (lockKeys && keys.Get() && keys.Get()->cLocks != 0) SafeArrayUnlock(keys.Get());

      // The object still answers.
      EXPECT_EQ(Invoke(object.Get(), dispatch_calls::kLastErrorA.dispid, DISPATCH_PROPERTYGET, {}).status, S_OK);
      if (HasFailure()) break;
    }
    EXPECT_EQ(Invoke(object.Get(), dispatch_calls::kIniFileName.dispid, DISPATCH_PROPERTYGET, {}).status, S_OK);
    EXPECT_EQ(Invoke(object.Get(), dispatch_calls::kSectionsCount.dispid, DISPATCH_PROPERTYGET, {}).status, S_OK);
  }
  CoUninitialize();
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(automation::Current(automation::Count::Objects), 0);
  EXPECT_EQ(ListFiles(WindowsFolder(), L"*.ini"), windowsBefore);
  printf("%d random calls, %d late-bound; %d ended in a fault\n", kCalls, lateBound, failures);
}

}  // namespace
}  // namespace robustness
