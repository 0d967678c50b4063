// Late-bound calls in the forms script engines use: by-reference VARIANT variables,
// arrays of VARIANT, script array objects, left-out arrays. The typed forms keep
// their behaviour.
#include <string>
#include <vector>

#include "profile_object/fault.h"
#include "tests/support/dispatch_calls.h"
#include "tests/support/test_support.h"

using dispatch_calls::ArgumentPassing;
using dispatch_calls::ByReference;
using dispatch_calls::ByValue;
using dispatch_calls::Invoke;
using dispatch_calls::kIniFileName;
using dispatch_calls::kReadSection;
using dispatch_calls::kReadValue;
using dispatch_calls::kScriptCall;
using dispatch_calls::kSectionWriteAtOnce;
using dispatch_calls::kWriteValue;
using dispatch_calls::Outcome;
using dispatch_calls::ScriptArray;
using dispatch_calls::TextsOfScriptArray;
using dispatch_calls::TextVariant;
using test_support::BoundsOf;
using test_support::Bstr;
using test_support::Text;
using test_support::UniqueSafeArray;
using test_support::UniqueVariant;

namespace {

// A stand-in for a JScript array object: "length" and the elements by index name.
class ScriptArrayObject final : public IDispatch {
 public:
  explicit ScriptArrayObject(std::vector<std::wstring> texts) : texts_(std::move(texts)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) return *object = nullptr, E_NOINTERFACE;
    *object = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* id) override {
    if (std::wstring(names[0]) == L"length") return *id = 1000, S_OK;
    const int index = _wtoi(names[0]);
    if (std::to_wstring(index) != names[0] || index >= static_cast<int>(texts_.size())) return DISP_E_UNKNOWNNAME;
    *id = index;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id == 1000) {
      V_VT(result) = VT_I4;
      V_I4(result) = static_cast<LONG>(texts_.size());
    } else {
      TextVariant(texts_[id]).MoveTo(result);
    }
    return S_OK;
  }

 private:
  std::vector<std::wstring> texts_;
};

// The calls pass the test's own VARIANTs (ArgumentPassing::Borrowed), as a script engine
// passes its variables.
class ScriptForms : public test_support::TolvaneTest {};

TEST_F(ScriptForms, VariablesPassedByReferenceReadAndWriteValues) {
  GivenFile("[s]\r\nk=v\r\n");
  UniqueVariant section = TextVariant(L"s"), key = TextVariant(L"k"), value = TextVariant(L"new");
  const Outcome read = Invoke(object_.Get(), kReadValue.dispid, kScriptCall,
                              {ByReference(section.Get()), ByReference(key.Get())}, ArgumentPassing::Borrowed);
  ASSERT_EQ(read.status, S_OK);
  EXPECT_EQ(V_VT(read.result.Get()), VT_BSTR);
  EXPECT_EQ(test_support::TextOf(V_BSTR(read.result.Get())), L"v");

  const Outcome written =
      Invoke(object_.Get(), kWriteValue.dispid, kScriptCall,
             {ByReference(section.Get()), ByReference(key.Get()), ByReference(value.Get())}, ArgumentPassing::Borrowed);
  ASSERT_EQ(written.status, S_OK);
  EXPECT_EQ(V_VT(written.result.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(written.result.Get()), VARIANT_TRUE);
  EXPECT_EQ(FileBytes(), "[s]\r\nk=new\r\n");
}

TEST_F(ScriptForms, ConvertedTextIsWrittenBackIntoTheCallersVariable) {
  GivenFile("[5]\r\nk=v\r\n");
  UniqueVariant section, key = TextVariant(L"k\u4e00");
  V_VT(section.Get()) = VT_I4;
  V_I4(section.Get()) = 5;
  ASSERT_EQ(Invoke(object_.Get(), kReadValue.dispid, kScriptCall, {ByReference(section.Get()), ByReference(key.Get())},
                   ArgumentPassing::Borrowed)
                .status,
            S_OK);
  ASSERT_EQ(V_VT(section.Get()), VT_BSTR);
  EXPECT_EQ(test_support::TextOf(V_BSTR(section.Get())), L"5");
  EXPECT_EQ(test_support::TextOf(V_BSTR(key.Get())), L"k?");
}

TEST_F(ScriptForms, FileNameCanBeSetFromAVariable) {
  UniqueVariant name = TextVariant(file_);
  ASSERT_EQ(dispatch_calls::Put(object_.Get(), kIniFileName.dispid, ByReference(name.Get()), ArgumentPassing::Borrowed)
                .status,
            S_OK);
  const Outcome got = Invoke(object_.Get(), kIniFileName.dispid, DISPATCH_PROPERTYGET);
  ASSERT_EQ(got.status, S_OK);
  EXPECT_EQ(test_support::TextOf(V_BSTR(got.result.Get())), file_);
}

TEST_F(ScriptForms, ReadSectionFillsEmptyVariablesWithIndexableArrays) {
  GivenFile("[s]\r\na=1\r\nb=2\r\n");
  UniqueVariant section = TextVariant(L"s"), keys, values;
  const Outcome read = Invoke(object_.Get(), kReadSection.dispid, kScriptCall,
                              {ByReference(section.Get()), ByReference(keys.Get()), ByReference(values.Get())},
                              ArgumentPassing::Borrowed);
  ASSERT_EQ(read.status, S_OK);
  EXPECT_EQ(TextsOfScriptArray(keys.Get()), (std::vector<Text>{L"a", L"b"}));
  EXPECT_EQ(TextsOfScriptArray(values.Get()), (std::vector<Text>{L"1", L"2"}));
  ASSERT_EQ(V_VT(read.result.Get()), VT_ARRAY | VT_VARIANT);
  SAFEARRAY* pairs = V_ARRAY(read.result.Get());
  EXPECT_EQ(SafeArrayGetDim(pairs), 2u);
  EXPECT_EQ(BoundsOf(pairs, 1), (test_support::Bounds{0, 1}));
  EXPECT_EQ(BoundsOf(pairs, 2), (test_support::Bounds{0, 1}));
  LONG valueOfSecond[2] = {1, 1};
  UniqueVariant element;
  ASSERT_EQ(SafeArrayGetElement(pairs, valueOfSecond, element.Get()), S_OK);
  EXPECT_EQ(test_support::TextOf(V_BSTR(element.Get())), L"2");
}

TEST_F(ScriptForms, ReadSectionTakesLeftOutOrNullArrays) {
  GivenFile("[s]\r\na=1\r\n");
  UniqueVariant section = TextVariant(L"s");
  const Outcome leftOut =
      Invoke(object_.Get(), kReadSection.dispid, kScriptCall, {ByReference(section.Get())}, ArgumentPassing::Borrowed);
  ASSERT_EQ(leftOut.status, S_OK);
  EXPECT_EQ(V_VT(leftOut.result.Get()), VT_ARRAY | VT_VARIANT);

  VARIANT null, missing;
  V_VT(&null) = VT_NULL;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  const Outcome nulls = Invoke(object_.Get(), kReadSection.dispid, kScriptCall,
                               {*TextVariant(L"s").Get(), null, missing}, ArgumentPassing::Borrowed);
  ASSERT_EQ(nulls.status, S_OK);
  EXPECT_EQ(V_VT(nulls.result.Get()), VT_ARRAY | VT_VARIANT);
}

TEST_F(ScriptForms, ReadSectionOfAMissingSectionLeavesTheVariablesAlone) {
  GivenFile("[s]\r\na=1\r\n");
  UniqueVariant section = TextVariant(L"other"), keys = ScriptArray({L"kept"}), values;
  SAFEARRAY* before = V_ARRAY(keys.Get());
  const Outcome read = Invoke(object_.Get(), kReadSection.dispid, kScriptCall,
                              {ByReference(section.Get()), ByReference(keys.Get()), ByReference(values.Get())},
                              ArgumentPassing::Borrowed);
  ASSERT_EQ(read.status, S_OK);
  EXPECT_EQ(V_VT(read.result.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(read.result.Get()), VARIANT_FALSE);
  EXPECT_EQ(V_ARRAY(keys.Get()), before);
  EXPECT_EQ(V_VT(values.Get()), VT_EMPTY);
}

TEST_F(ScriptForms, AFixedScriptArrayCannotBeRefilled) {
  GivenFile("[s]\r\na=1\r\n");
  UniqueVariant section = TextVariant(L"s"), keys = ScriptArray({L"x", L"y"}, FADF_FIXEDSIZE), values;
  const Outcome read = Invoke(object_.Get(), kReadSection.dispid, kScriptCall,
                              {ByReference(section.Get()), ByReference(keys.Get()), ByReference(values.Get())},
                              ArgumentPassing::Borrowed);
  EXPECT_EQ(read.status, DISP_E_EXCEPTION);
  EXPECT_EQ(read.exception.scode, profile_object::kArrayFixedOrLocked);
  EXPECT_EQ(TextsOfScriptArray(keys.Get()), (std::vector<Text>{L"x", L"y"}));
}

// One variable as both arrays fails as one typed array passed twice does, and keeps its contents.
TEST_F(ScriptForms, ReadSectionRefusesOneVariableAsBothArrays) {
  GivenFile("[s]\r\na=1\r\n");
  UniqueVariant section = TextVariant(L"s"), filled = ScriptArray({L"kept"}), unset;
  for (VARIANT* shared : {filled.Get(), unset.Get()}) {
    const Outcome read =
        Invoke(object_.Get(), kReadSection.dispid, kScriptCall,
               {ByReference(section.Get()), ByReference(shared), ByReference(shared)}, ArgumentPassing::Borrowed);
    EXPECT_EQ(read.status, DISP_E_EXCEPTION);
    EXPECT_EQ(read.exception.scode, profile_object::kInvalidArgument);
  }
  EXPECT_EQ(TextsOfScriptArray(filled.Get()), (std::vector<Text>{L"kept"}));
  EXPECT_EQ(V_VT(unset.Get()), VT_EMPTY);
}

TEST_F(ScriptForms, SectionWriteAtOnceTakesScriptArraysAndArrayObjects) {
  GivenFile("");
  UniqueVariant section = TextVariant(L"v"), keys = ScriptArray({L"a", L"b"}), values = ScriptArray({L"1", L"2"});
  const Outcome fromArrays = Invoke(object_.Get(), kSectionWriteAtOnce.dispid, kScriptCall,
                                    {ByReference(section.Get()), ByReference(keys.Get()), ByReference(values.Get())},
                                    ArgumentPassing::Borrowed);
  ASSERT_EQ(fromArrays.status, S_OK);
  EXPECT_EQ(V_I4(fromArrays.result.Get()), 1);
  EXPECT_EQ(TextsOfScriptArray(keys.Get()), (std::vector<Text>{L"a", L"b"}));  // only read

  ScriptArrayObject jsKeys({L"x", L"y", L"z"}), jsValues({L"7", L"8", L"9"});
  const Outcome fromObjects =
      Invoke(object_.Get(), kSectionWriteAtOnce.dispid, kScriptCall,
             {*TextVariant(L"j").Get(), ByValue(&jsKeys), ByValue(&jsValues)}, ArgumentPassing::Borrowed);
  ASSERT_EQ(fromObjects.status, S_OK);
  EXPECT_EQ(V_I4(fromObjects.result.Get()), 2);
  EXPECT_EQ(FileBytes(), "[v]\r\na=1\r\nb=2\r\n[j]\r\nx=7\r\ny=8\r\nz=9\r\n");
}

TEST_F(ScriptForms, ArgumentsOfTheWrongKindFailWithAReadableTypeMismatch) {
  GivenFile("[s]\r\na=1\r\n");
  VARIANT number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = 5;
  const Outcome numbers = Invoke(object_.Get(), kSectionWriteAtOnce.dispid, kScriptCall,
                                 {*TextVariant(L"s").Get(), number, number}, ArgumentPassing::Borrowed);
  EXPECT_EQ(numbers.status, DISP_E_EXCEPTION);
  EXPECT_EQ(numbers.exception.scode, profile_object::kTypeMismatch);
  EXPECT_NE(numbers.exception.description.value_or(L"").find(L"Type mismatch"), std::wstring::npos);

  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  UniqueVariant twoDimensional;
  V_VT(twoDimensional.Get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(twoDimensional.Get()) = SafeArrayCreate(VT_VARIANT, 2, square);
  const Outcome squares =
      Invoke(object_.Get(), kSectionWriteAtOnce.dispid, kScriptCall,
             {*TextVariant(L"s").Get(), *twoDimensional.Get(), *twoDimensional.Get()}, ArgumentPassing::Borrowed);
  EXPECT_EQ(squares.status, DISP_E_EXCEPTION);
  EXPECT_EQ(squares.exception.scode, profile_object::kTypeMismatch);
  EXPECT_EQ(FileBytes(), "[s]\r\na=1\r\n");
}

TEST_F(ScriptForms, TypedArgumentsStillGetTypedArrays) {
  GivenFile("[s]\r\na=1\r\n");
  test_support::UniqueBstr section = Bstr(L"s");
  UniqueSafeArray keys, values;
  const Outcome read = Invoke(object_.Get(), kReadSection.dispid, DISPATCH_METHOD,
                              {ByReference(section.InOut()), ByReference(keys.InOut()), ByReference(values.InOut())},
                              ArgumentPassing::Borrowed);
  ASSERT_EQ(read.status, S_OK);
  EXPECT_EQ(V_VT(read.result.Get()), VT_ARRAY | VT_BSTR);
  EXPECT_EQ(test_support::Elements(keys.Get()), (std::vector<Text>{L"a"}));
}

}  // namespace
