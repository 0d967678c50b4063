// Late-bound calls in the forms script engines use: by-reference VARIANT variables,
// arrays of VARIANT, script array objects, left-out arrays. The typed forms keep
// their behaviour.
#include <string>
#include <vector>

#include "com_types/member_table.h"
#include "profile_object/fault.h"
#include "tests/support/test_support.h"

using test_support::Bstr;
using test_support::BoundsOf;
using test_support::Text;
using test_support::UniqueSafeArray;
using test_support::UniqueVariant;

namespace {

constexpr DISPID kReadValue = 0x60030003, kReadSection = 0x60030004, kWriteValue = 0x60030006,
                 kSectionWriteAtOnce = 0x60030008, kIniFileName = 0x68030002;
constexpr WORD kScriptCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;  // as script engines call methods

UniqueVariant TextVariant(const std::wstring& text) {
  UniqueVariant value;
  V_VT(value.Get()) = VT_BSTR;
  V_BSTR(value.Get()) = Bstr(text).Release();
  return value;
}

// A script array: one dimension of VARIANTs holding text.
UniqueVariant ScriptArray(const std::vector<std::wstring>& texts, USHORT extraFeatures = 0) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(texts.size()), 0};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
  {
    com_types::SafeArrayData<VARIANT> elements(array);
    for (size_t i = 0; i < texts.size(); ++i) TextVariant(texts[i]).MoveTo(&elements[i]);
  }
  array->fFeatures |= extraFeatures;
  UniqueVariant value;
  V_VT(value.Get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(value.Get()) = array;
  return value;
}

VARIANT ByReference(UniqueVariant& variable) {
  VARIANT reference;
  V_VT(&reference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&reference) = variable.Get();
  return reference;
}

std::vector<Text> TextsOfScriptArray(const VARIANT* value) {
  EXPECT_EQ(V_VT(value), VT_ARRAY | VT_VARIANT);
  std::vector<Text> texts;
  if (V_VT(value) != (VT_ARRAY | VT_VARIANT)) return texts;
  const test_support::Bounds bounds = BoundsOf(V_ARRAY(value));
  for (LONG i = bounds.lower; i <= bounds.upper; ++i) {
    UniqueVariant element;
    SafeArrayGetElement(V_ARRAY(value), &i, element.Get());
    EXPECT_EQ(V_VT(element.Get()), VT_BSTR);
    texts.push_back(test_support::TextOf(V_BSTR(element.Get())));
  }
  return texts;
}

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

class ScriptForms : public test_support::TolvaneTest {
 protected:
  // Invokes with the arguments in call order (reversed into DISPPARAMS here).
  HRESULT Call(DISPID dispid, std::vector<VARIANT> arguments, VARIANT* result, WORD flags = kScriptCall) {
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{reversed.data(), (flags & DISPATCH_PROPERTYPUT) ? &put : nullptr,
                          static_cast<UINT>(reversed.size()), (flags & DISPATCH_PROPERTYPUT) ? 1u : 0u};
    exception_ = {};
    UINT argumentError = 0;
    const HRESULT status = object_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result,
                                           &exception_, &argumentError);
    description_ = test_support::TextOf(exception_.bstrDescription).value_or(L"");
    SysFreeString(exception_.bstrDescription);
    SysFreeString(exception_.bstrSource);
    SysFreeString(exception_.bstrHelpFile);
    return status;
  }

  EXCEPINFO exception_{};
  std::wstring description_;
};

TEST_F(ScriptForms, VariablesPassedByReferenceReadAndWriteValues) {
  GivenFile("[s]\r\nk=v\r\n");
  UniqueVariant section = TextVariant(L"s"), key = TextVariant(L"k"), value = TextVariant(L"new");
  UniqueVariant result;
  ASSERT_EQ(Call(kReadValue, {ByReference(section), ByReference(key)}, result.Get()), S_OK);
  EXPECT_EQ(V_VT(result.Get()), VT_BSTR);
  EXPECT_EQ(test_support::TextOf(V_BSTR(result.Get())), L"v");

  result.Clear();
  ASSERT_EQ(Call(kWriteValue, {ByReference(section), ByReference(key), ByReference(value)}, result.Get()), S_OK);
  EXPECT_EQ(V_VT(result.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(result.Get()), VARIANT_TRUE);
  EXPECT_EQ(FileBytes(), "[s]\r\nk=new\r\n");
}

TEST_F(ScriptForms, ConvertedTextIsWrittenBackIntoTheCallersVariable) {
  GivenFile("[5]\r\nk=v\r\n");
  UniqueVariant section, key = TextVariant(L"k\u4e00");
  V_VT(section.Get()) = VT_I4;
  V_I4(section.Get()) = 5;
  UniqueVariant result;
  ASSERT_EQ(Call(kReadValue, {ByReference(section), ByReference(key)}, result.Get()), S_OK);
  ASSERT_EQ(V_VT(section.Get()), VT_BSTR);
  EXPECT_EQ(test_support::TextOf(V_BSTR(section.Get())), L"5");
  EXPECT_EQ(test_support::TextOf(V_BSTR(key.Get())), L"k?");
}

TEST_F(ScriptForms, WithoutAFileNameTheCallersVariablesStayAsTheyWere) {
  UniqueVariant section, key = TextVariant(L"k");
  V_VT(section.Get()) = VT_I4;
  V_I4(section.Get()) = 5;
  UniqueVariant result;
  ASSERT_EQ(Call(kReadValue, {ByReference(section), ByReference(key)}, result.Get()), S_OK);
  EXPECT_EQ(test_support::TextOf(V_BSTR(result.Get())), L"False");
  EXPECT_EQ(V_VT(section.Get()), VT_I4);
}

TEST_F(ScriptForms, FileNameCanBeSetFromAVariable) {
  UniqueVariant name = TextVariant(file_);
  VARIANT argument = ByReference(name);
  ASSERT_EQ(Call(kIniFileName, {argument}, nullptr, DISPATCH_PROPERTYPUT), S_OK);
  UniqueVariant result;
  ASSERT_EQ(Call(kIniFileName, {}, result.Get(), DISPATCH_PROPERTYGET), S_OK);
  EXPECT_EQ(test_support::TextOf(V_BSTR(result.Get())), file_);
}

TEST_F(ScriptForms, ReadSectionFillsEmptyVariablesWithIndexableArrays) {
  GivenFile("[s]\r\na=1\r\nb=2\r\n");
  UniqueVariant section = TextVariant(L"s"), keys, values, result;
  ASSERT_EQ(Call(kReadSection, {ByReference(section), ByReference(keys), ByReference(values)}, result.Get()), S_OK);
  EXPECT_EQ(TextsOfScriptArray(keys.Get()), (std::vector<Text>{L"a", L"b"}));
  EXPECT_EQ(TextsOfScriptArray(values.Get()), (std::vector<Text>{L"1", L"2"}));
  ASSERT_EQ(V_VT(result.Get()), VT_ARRAY | VT_VARIANT);
  SAFEARRAY* pairs = V_ARRAY(result.Get());
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
  UniqueVariant section = TextVariant(L"s"), result;
  ASSERT_EQ(Call(kReadSection, {ByReference(section)}, result.Get()), S_OK);
  EXPECT_EQ(V_VT(result.Get()), VT_ARRAY | VT_VARIANT);

  VARIANT null, missing;
  V_VT(&null) = VT_NULL;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  result.Clear();
  ASSERT_EQ(Call(kReadSection, {*TextVariant(L"s").Get(), null, missing}, result.Get()), S_OK);
  EXPECT_EQ(V_VT(result.Get()), VT_ARRAY | VT_VARIANT);
}

TEST_F(ScriptForms, ReadSectionOfAMissingSectionLeavesTheVariablesAlone) {
  GivenFile("[s]\r\na=1\r\n");
  UniqueVariant section = TextVariant(L"other"), keys = ScriptArray({L"kept"}), values, result;
  SAFEARRAY* before = V_ARRAY(keys.Get());
  ASSERT_EQ(Call(kReadSection, {ByReference(section), ByReference(keys), ByReference(values)}, result.Get()), S_OK);
  EXPECT_EQ(V_VT(result.Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(result.Get()), VARIANT_FALSE);
  EXPECT_EQ(V_ARRAY(keys.Get()), before);
  EXPECT_EQ(V_VT(values.Get()), VT_EMPTY);
}

TEST_F(ScriptForms, AFixedScriptArrayCannotBeRefilled) {
  GivenFile("[s]\r\na=1\r\n");
  UniqueVariant section = TextVariant(L"s"), keys = ScriptArray({L"x", L"y"}, FADF_FIXEDSIZE), values, result;
  EXPECT_EQ(Call(kReadSection, {ByReference(section), ByReference(keys), ByReference(values)}, result.Get()),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception_.scode, profile_object::kArrayFixedOrLocked);
  EXPECT_EQ(TextsOfScriptArray(keys.Get()), (std::vector<Text>{L"x", L"y"}));
}

TEST_F(ScriptForms, SectionWriteAtOnceTakesScriptArraysAndArrayObjects) {
  GivenFile("");
  UniqueVariant section = TextVariant(L"v"), keys = ScriptArray({L"a", L"b"}), values = ScriptArray({L"1", L"2"});
  UniqueVariant result;
  ASSERT_EQ(Call(kSectionWriteAtOnce, {ByReference(section), ByReference(keys), ByReference(values)}, result.Get()),
            S_OK);
  EXPECT_EQ(V_I4(result.Get()), 1);
  EXPECT_EQ(TextsOfScriptArray(keys.Get()), (std::vector<Text>{L"a", L"b"}));  // only read

  ScriptArrayObject jsKeys({L"x", L"y", L"z"}), jsValues({L"7", L"8", L"9"});
  VARIANT keyObject, valueObject;
  V_VT(&keyObject) = V_VT(&valueObject) = VT_DISPATCH;
  V_DISPATCH(&keyObject) = &jsKeys;
  V_DISPATCH(&valueObject) = &jsValues;
  result.Clear();
  ASSERT_EQ(Call(kSectionWriteAtOnce, {*TextVariant(L"j").Get(), keyObject, valueObject}, result.Get()), S_OK);
  EXPECT_EQ(V_I4(result.Get()), 2);
  EXPECT_EQ(FileBytes(), "[v]\r\na=1\r\nb=2\r\n[j]\r\nx=7\r\ny=8\r\nz=9\r\n");
}

TEST_F(ScriptForms, ArgumentsOfTheWrongKindFailWithAReadableTypeMismatch) {
  GivenFile("[s]\r\na=1\r\n");
  VARIANT number;
  V_VT(&number) = VT_I4;
  V_I4(&number) = 5;
  UniqueVariant result;
  EXPECT_EQ(Call(kSectionWriteAtOnce, {*TextVariant(L"s").Get(), number, number}, result.Get()), DISP_E_EXCEPTION);
  EXPECT_EQ(exception_.scode, profile_object::kTypeMismatch);
  EXPECT_NE(description_.find(L"Type mismatch"), std::wstring::npos);

  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  UniqueVariant twoDimensional;
  V_VT(twoDimensional.Get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(twoDimensional.Get()) = SafeArrayCreate(VT_VARIANT, 2, square);
  EXPECT_EQ(Call(kSectionWriteAtOnce, {*TextVariant(L"s").Get(), *twoDimensional.Get(), *twoDimensional.Get()},
                 result.Get()),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception_.scode, profile_object::kTypeMismatch);
  EXPECT_EQ(FileBytes(), "[s]\r\na=1\r\n");
}

TEST_F(ScriptForms, TypedArgumentsStillGetTypedArrays) {
  GivenFile("[s]\r\na=1\r\n");
  test_support::UniqueBstr section = Bstr(L"s");
  UniqueSafeArray keys, values;
  VARIANT arguments[3];
  V_VT(&arguments[0]) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&arguments[0]) = section.InOut();
  V_VT(&arguments[1]) = V_VT(&arguments[2]) = VT_BYREF | VT_ARRAY | VT_BSTR;
  V_ARRAYREF(&arguments[1]) = keys.InOut();
  V_ARRAYREF(&arguments[2]) = values.InOut();
  UniqueVariant result;
  ASSERT_EQ(Call(kReadSection, {arguments[0], arguments[1], arguments[2]}, result.Get(), DISPATCH_METHOD), S_OK);
  EXPECT_EQ(V_VT(result.Get()), VT_ARRAY | VT_BSTR);
  EXPECT_EQ(test_support::Elements(keys.Get()), (std::vector<Text>{L"a"}));
}

}  // namespace
