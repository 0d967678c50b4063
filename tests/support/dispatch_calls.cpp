#include "tests/support/dispatch_calls.h"

#include <new>

namespace dispatch_calls {

VARIANTARG ByValue(BSTR text) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BSTR;
  V_BSTR(&argument) = text;
  return argument;
}

VARIANTARG ByReference(BSTR* text) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&argument) = text;
  return argument;
}

VARIANTARG ByReference(SAFEARRAY** textArray) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_ARRAY | VT_BSTR;
  V_ARRAYREF(&argument) = textArray;
  return argument;
}

VARIANTARG ByReference(VARIANT* variable) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&argument) = variable;
  return argument;
}

VARIANTARG ByValue(IDispatch* object) {
  VARIANTARG argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_DISPATCH;
  V_DISPATCH(&argument) = object;
  return argument;
}

const char* NameOf(Binding binding) {
  switch (binding) {
    case Binding::FunctionTable: return "function table";
    case Binding::TypedDispatch: return "IDispatch, typed arguments";
    case Binding::ScriptDispatch: return "IDispatch, script variables";
  }
  return "";
}

UniqueVariant TextVariant(const std::wstring& text) {
  UniqueVariant value;
  V_VT(value.Get()) = VT_BSTR;
  V_BSTR(value.Get()) = test_support::Bstr(text).Release();
  return value;
}

UniqueVariant ScriptArray(const std::vector<std::wstring>& texts, USHORT extraFeatures) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(texts.size()), 0};
  UniqueVariant value;
  V_ARRAY(value.Get()) = SafeArrayCreate(VT_VARIANT, 1, &bound);
  if (!V_ARRAY(value.Get())) throw std::bad_alloc();
  V_VT(value.Get()) = VT_ARRAY | VT_VARIANT;
  if (!texts.empty()) {
    com_types::SafeArrayData<VARIANT> elements(V_ARRAY(value.Get()));
    for (size_t i = 0; i < texts.size(); ++i) TextVariant(texts[i]).MoveTo(&elements[i]);
  }
  V_ARRAY(value.Get())->fFeatures |= extraFeatures;
  return value;
}

std::vector<Text> TextsOfScriptArray(const VARIANT* value) {
  std::vector<Text> texts;
  EXPECT_EQ(V_VT(value), VT_ARRAY | VT_VARIANT);
  if (V_VT(value) != (VT_ARRAY | VT_VARIANT)) return texts;
  const test_support::Bounds bounds = test_support::BoundsOf(V_ARRAY(value));
  for (LONG i = bounds.lower; i <= bounds.upper; ++i) {
    UniqueVariant element;
    SafeArrayGetElement(V_ARRAY(value), &i, element.Get());
    EXPECT_EQ(V_VT(element.Get()), VT_BSTR);
    texts.push_back(test_support::TextOf(V_BSTR(element.Get())));
  }
  return texts;
}

namespace {

Exception Owned(EXCEPINFO& raw) {
  if (raw.pfnDeferredFillIn) raw.pfnDeferredFillIn(&raw);
  const UniqueBstr source(raw.bstrSource), description(raw.bstrDescription), helpFile(raw.bstrHelpFile);
  return {raw.wCode, raw.scode, test_support::TextOf(source.Get()), test_support::TextOf(description.Get()),
          test_support::TextOf(helpFile.Get())};
}

// The argument list Invoke works on: copies, cleared once the outcome has taken them, or
// the caller's own VARIANTARGs, borrowed and left alone.
class ArgumentList {
 public:
  ArgumentList(const std::vector<VARIANTARG>& arguments, ArgumentPassing passing)
      : list_(arguments.size()), copied_(passing == ArgumentPassing::Copied) {
    // DISPPARAMS lists the arguments last first; named ones come first in that list.
    for (size_t i = 0; i < arguments.size(); ++i) {
      VARIANTARG& slot = list_[arguments.size() - 1 - i];
      if (!copied_) {
        slot = arguments[i];
        continue;
      }
      VariantInit(&slot);
      EXPECT_EQ(VariantCopy(&slot, const_cast<VARIANTARG*>(&arguments[i])), S_OK);
    }
  }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;
  ~ArgumentList() {
    if (!copied_) return;
    for (VARIANTARG& argument : list_) VariantClear(&argument);
  }

  VARIANTARG* Data() { return list_.data(); }
  UINT Count() const { return static_cast<UINT>(list_.size()); }
  // Hands the copies over in the member's order; borrowed arguments stay the caller's.
  std::vector<UniqueVariant> Take() {
    if (!copied_) return {};
    std::vector<UniqueVariant> taken(list_.size());
    for (size_t i = 0; i < list_.size(); ++i) {
      *taken[i].Get() = list_[list_.size() - 1 - i];
      VariantInit(&list_[list_.size() - 1 - i]);
    }
    return taken;
  }

 private:
  std::vector<VARIANTARG> list_;
  bool copied_;
};

Outcome Call(IDispatch* object, DISPID dispid, WORD flags, const std::vector<VARIANTARG>& arguments,
             std::vector<DISPID> named, ArgumentPassing passing) {
  ArgumentList list(arguments, passing);
  DISPPARAMS parameters{list.Data(), named.data(), list.Count(), static_cast<UINT>(named.size())};
  Outcome outcome;
  EXCEPINFO exception{};
  outcome.argumentError = static_cast<UINT>(-1);
  outcome.status = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, outcome.result.Get(),
                                  &exception, &outcome.argumentError);
  outcome.exception = Owned(exception);
  outcome.arguments = list.Take();
  return outcome;
}

}  // namespace

Outcome Invoke(IDispatch* object, DISPID dispid, WORD flags, std::vector<VARIANTARG> arguments,
               ArgumentPassing passing) {
  return Call(object, dispid, flags, arguments, {}, passing);
}

Outcome Put(IDispatch* object, DISPID dispid, VARIANTARG value, ArgumentPassing passing) {
  return Call(object, dispid, DISPATCH_PROPERTYPUT, {value}, {DISPID_PROPERTYPUT}, passing);
}

std::optional<ErrorInformation> TakeErrorInformation() {
  com_types::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info) return std::nullopt;
  BSTR source = nullptr, description = nullptr;
  ErrorInformation taken;
  info->GetSource(&source);
  info->GetDescription(&description);
  info->GetGUID(&taken.interfaceId);
  taken.source = test_support::TextOf(UniqueBstr(source).Get());
  taken.description = test_support::TextOf(UniqueBstr(description).Get());
  return taken;
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
  return id;
}

Text TextOf(const VARIANT* value) {
  EXPECT_EQ(V_VT(value), VT_BSTR);
  if (V_VT(value) != VT_BSTR) return std::nullopt;
  return test_support::TextOf(V_BSTR(value));
}

std::vector<std::pair<Text, Text>> PairsOf(const VARIANT* value) {
  std::vector<std::pair<Text, Text>> pairs;
  EXPECT_EQ(V_VT(value), VT_ARRAY | VT_BSTR);
  if (V_VT(value) != (VT_ARRAY | VT_BSTR)) return pairs;
  SAFEARRAY* array = V_ARRAY(value);
  EXPECT_EQ(SafeArrayGetDim(array), 2u);
  EXPECT_EQ(test_support::BoundsOf(array, 1), (test_support::Bounds{0, 1}));
  const test_support::Bounds entries = test_support::BoundsOf(array, 2);
  EXPECT_EQ(entries.lower, 0);
  for (LONG entry = entries.lower; entry <= entries.upper; ++entry) {
    Text parts[2];
    for (LONG part = 0; part < 2; ++part) {
      LONG indices[2] = {part, entry};
      BSTR element = nullptr;
      EXPECT_EQ(SafeArrayGetElement(array, indices, &element), S_OK);
      parts[part] = test_support::TextOf(UniqueBstr(element).Get());
    }
    pairs.emplace_back(parts[0], parts[1]);
  }
  return pairs;
}

void DispatchTest::SetUp() {
  TolvaneTest::SetUp();
  ASSERT_EQ(object_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch_.Put())), S_OK);
  ASSERT_TRUE(dispatch_);
}

void DispatchTest::TearDown() {
  dispatch_ = {};
  TolvaneTest::TearDown();
}

}  // namespace dispatch_calls
