#include "automation/script_calls.h"

#include <oleauto.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "com_types/identity.h"
#include "com_types/member_table.h"
#include "com_types/owners.h"
#include "profile_object/fault.h"
#include "profile_object/text_arrays.h"

namespace automation {

using com_types::FindMember;
using com_types::kProgId;
using com_types::Member;
using com_types::Parameter;
using com_types::SafeArrayData;
using com_types::UniqueBstr;
using com_types::UniqueSafeArray;
using com_types::UniqueVariant;
using com_types::ValueType;

namespace {

// A script argument that cannot stand for the parameter's type.
struct WrongKind {
  size_t parameter;
};

constexpr VARTYPE kTextByReference = VT_BYREF | VT_BSTR;
constexpr VARTYPE kTextArrayByReference = VT_BYREF | VT_ARRAY | VT_BSTR;

const Member* MemberFor(DISPID dispid, WORD flags) {
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return FindMember(dispid, INVOKE_PROPERTYPUT);
  if (flags & DISPATCH_METHOD) {
    if (const Member* method = FindMember(dispid, INVOKE_FUNC)) return method;
  }
  return (flags & DISPATCH_PROPERTYGET) ? FindMember(dispid, INVOKE_PROPERTYGET) : nullptr;
}

bool TakesSomethingByReference(const Member& member) {
  const auto end = member.parameters.begin() + member.parameterCount;
  return std::any_of(member.parameters.begin(), end, [](const Parameter& taken) { return taken.byReference; });
}

// A by-reference argument whose pointer is null: a value of no kind, and not to be followed.
bool RefersToNothing(const VARIANT* value) { return value && (V_VT(value) & VT_BYREF) && !V_BYREF(value); }

bool IsMissing(const VARIANT* value) {
  return !value || V_VT(value) == VT_EMPTY || V_VT(value) == VT_NULL ||
         (V_VT(value) == VT_ERROR && V_ERROR(value) == DISP_E_PARAMNOTFOUND);
}

UniqueSafeArray CreateLike(SAFEARRAY* shape, VARTYPE type) {
  const UINT dimensions = SafeArrayGetDim(shape);
  std::vector<SAFEARRAYBOUND> bounds(dimensions);
  for (UINT d = 0; d < dimensions; ++d) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(shape, d + 1, &lower);
    SafeArrayGetUBound(shape, d + 1, &upper);
    bounds[d] = {static_cast<ULONG>(upper - lower + 1), lower};
  }
  UniqueSafeArray created(SafeArrayCreate(type, dimensions, bounds.data()));
  if (!created.Get()) throw std::bad_alloc();
  return created;
}

ULONG ElementCount(SAFEARRAY* array) {
  ULONG count = 1;
  for (UINT d = 0; d < SafeArrayGetDim(array); ++d) count *= array->rgsabound[d].cElements;
  return count;
}

// The same array with every text held in a VARIANT.
UniqueSafeArray VariantArrayOf(SAFEARRAY* texts) {
  UniqueSafeArray variants = CreateLike(texts, VT_VARIANT);
  SafeArrayData<BSTR> from(texts);
  SafeArrayData<VARIANT> to(variants.Get());
  for (ULONG i = 0; i < ElementCount(texts); ++i) {
    V_VT(&to[i]) = VT_BSTR;
    V_BSTR(&to[i]) = UniqueBstr::Copy(from[i]).Release();
  }
  return variants;
}

// Script values as text: Null is the absent text, Empty the empty text.
UniqueBstr TextOf(const VARIANT& value, size_t parameter) {
  if (V_VT(&value) == VT_NULL) return UniqueBstr();
  if (RefersToNothing(&value)) throw WrongKind{parameter};
  UniqueVariant converted;
  if (FAILED(VariantChangeType(converted.Get(), const_cast<VARIANT*>(&value), 0, VT_BSTR))) {
    throw WrongKind{parameter};
  }
  UniqueBstr text(V_BSTR(converted.Get()));
  V_VT(converted.Get()) = VT_EMPTY;  // the text now belongs to `text`
  return text.Get() ? std::move(text) : UniqueBstr::Copy(L"", 0);
}

// A VBScript array (one dimension, VARIANT elements) as a text array with the same bounds.
// An array the script cannot resize stays unresizable, so that filling it faults the same way.
UniqueSafeArray TextArrayOfVariants(SAFEARRAY* variants, size_t parameter) {
  if (SafeArrayGetDim(variants) != 1) throw WrongKind{parameter};
  UniqueSafeArray texts = CreateLike(variants, VT_BSTR);
  {
    SafeArrayData<VARIANT> from(variants);
    SafeArrayData<BSTR> to(texts.Get());
    for (ULONG i = 0; i < ElementCount(variants); ++i) to[i] = TextOf(from[i], parameter).Release();
  }
  if (com_types::FixedOrLocked(variants)) texts.Get()->fFeatures |= FADF_FIXEDSIZE;
  return texts;
}

bool ReadProperty(IDispatch* object, const std::wstring& name, VARIANT* value) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return false;
  DISPPARAMS none{};
  return SUCCEEDED(
      object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr));
}

// A JScript array (a script object with length and elements "0", "1", ...) as a text
// array with bounds 0 to length - 1. Holes read as empty text.
UniqueSafeArray TextArrayOfScriptObject(IDispatch* object, size_t parameter) {
  UniqueVariant length;
  if (!object || !ReadProperty(object, L"length", length.Get()) ||
      FAILED(VariantChangeType(length.Get(), length.Get(), 0, VT_I4)) || V_I4(length.Get()) < 0) {
    throw WrongKind{parameter};
  }
  const LONG count = V_I4(length.Get());
  UniqueSafeArray texts = profile_object::NewTextArray(count);
  SafeArrayData<BSTR> to(texts.Get());
  for (LONG i = 0; i < count; ++i) {
    UniqueVariant element;
    ReadProperty(object, std::to_wstring(i), element.Get());
    to[i] = TextOf(*element.Get(), parameter).Release();
  }
  return texts;
}

// One by-reference parameter in its typed form, and where the result goes back to.
class TypedArgument {
 public:
  // A by-value argument goes to the standard dispatch as it came.
  explicit TypedArgument(const VARIANT& byValue) : typed_(byValue) {}
  // `given` is the caller's argument (nullptr when not passed at all).
  TypedArgument(const Parameter& parameter, VARIANT* given, size_t index) {
    VARIANT* source = given;
    if (given && V_VT(given) == (VT_BYREF | VT_VARIANT)) {
      if (RefersToNothing(given)) throw WrongKind{index};
      variable_ = V_VARIANTREF(given);
      source = variable_;
    }
    const bool text = parameter.type == ValueType::Text;
    if (source && V_VT(source) == (text ? kTextByReference : kTextArrayByReference)) {
      typed_ = *source;  // already typed: passed through
      variable_ = nullptr;
    } else if (text) {
      PrepareText(source, index);
    } else {
      PrepareArray(source, index);
    }
  }

  TypedArgument(const TypedArgument&) = delete;
  TypedArgument& operator=(const TypedArgument&) = delete;

  VARIANT& Typed() { return typed_; }

  // One script variable passed for two arrays is one array to the member, as one
  // variable of a typed caller is (which ReadSection refuses).
  void ShareArrayOfTheSameVariable(const TypedArgument& earlier) {
    if (variable_ && variable_ == earlier.variable_ && V_VT(&typed_) == kTextArrayByReference &&
        V_VT(&earlier.typed_) == V_VT(&typed_)) {
      V_ARRAYREF(&typed_) = V_ARRAYREF(&earlier.typed_);
    }
  }

  // After the call: a text or array that the member replaced goes into the caller's variable.
  void WriteBack() {
    if (!variable_) return;
    if (V_VT(&typed_) == kTextByReference && text_.Get() != givenText_) {
      VariantClear(variable_);
      V_VT(variable_) = VT_BSTR;
      V_BSTR(variable_) = text_.Release();
    } else if (V_VT(&typed_) == kTextArrayByReference && array_.Get() != givenArray_) {
      UniqueSafeArray variants = array_.Get() ? VariantArrayOf(array_.Get()) : UniqueSafeArray();
      if (V_VT(variable_) == (VT_BYREF | VT_ARRAY | VT_VARIANT)) {
        const UniqueSafeArray replaced(std::exchange(*V_ARRAYREF(variable_), variants.Release()));
      } else {
        VariantClear(variable_);
        V_VT(variable_) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(variable_) = variants.Release();
      }
    }
  }

 private:
  void PrepareText(VARIANT* source, size_t index) {
    if (V_VT(source) == VT_ERROR) throw WrongKind{index};
    text_ = TextOf(*source, index);
    givenText_ = text_.Get();
    V_VT(&typed_) = kTextByReference;
    V_BSTRREF(&typed_) = text_.InOut();
  }

  void PrepareArray(VARIANT* source, size_t index) {
    const VARTYPE type = source ? V_VT(source) : static_cast<VARTYPE>(VT_EMPTY);
    if (RefersToNothing(source)) {
      throw WrongKind{index};
    } else if (IsMissing(source)) {
      // nothing to read: an unallocated array
    } else if ((type & ~VT_BYREF) == (VT_ARRAY | VT_BSTR)) {
      if (FAILED(SafeArrayCopy((type & VT_BYREF) ? *V_ARRAYREF(source) : V_ARRAY(source), array_.Put()))) {
        throw std::bad_alloc();
      }
    } else if ((type & ~VT_BYREF) == (VT_ARRAY | VT_VARIANT)) {
      SAFEARRAY* variants = (type & VT_BYREF) ? *V_ARRAYREF(source) : V_ARRAY(source);
      if (variants) array_ = TextArrayOfVariants(variants, index);
    } else if ((type & ~VT_BYREF) == VT_DISPATCH) {
      array_ = TextArrayOfScriptObject((type & VT_BYREF) ? *V_DISPATCHREF(source) : V_DISPATCH(source), index);
    } else {
      throw WrongKind{index};
    }
    givenArray_ = array_.Get();
    V_VT(&typed_) = kTextArrayByReference;
    V_ARRAYREF(&typed_) = array_.InOut();
  }

  VARIANT typed_{};
  VARIANT* variable_ = nullptr;  // the caller's variable, when it was passed by reference
  UniqueBstr text_;
  BSTR givenText_ = nullptr;
  UniqueSafeArray array_;
  SAFEARRAY* givenArray_ = nullptr;
};

HRESULT TypeMismatch(const Member& member, size_t parameter, EXCEPINFO* exception) {
  if (exception) {
    *exception = {};
    exception->scode = profile_object::kTypeMismatch;
    exception->bstrSource = SysAllocString(kProgId);
    const Parameter& taken = member.parameters[parameter];
    const std::wstring description =
        std::wstring(L"Type mismatch: ") + member.name + L" cannot take this " + taken.name +
        (taken.type == ValueType::TextArray ? L" (an array of text is needed)" : L" (text is needed)");
    exception->bstrDescription = SysAllocString(description.c_str());
  }
  return DISP_E_EXCEPTION;
}

}  // namespace

HRESULT InvokeWithScriptArguments(ITypeInfo* functionTable, IDispatch* object, DISPID dispid, WORD flags,
                                  DISPPARAMS* arguments, VARIANT* result, EXCEPINFO* exception, UINT* argumentError,
                                  HRESULT refusal) {
  const Member* member = MemberFor(dispid, flags);
  if (!member || !TakesSomethingByReference(*member) || !arguments) return refusal;
  const bool isPut = member->kind == INVOKE_PROPERTYPUT;
  if (arguments->cArgs > member->parameterCount || (arguments->cNamedArgs != 0 && !isPut)) return refusal;

  try {
    std::deque<TypedArgument> typed;  // arguments point into themselves: never moved
    for (size_t i = 0; i < member->parameterCount; ++i) {
      // Arguments arrive last first. Only an array may be left out (it reads as none).
      VARIANT* given = i < arguments->cArgs ? &arguments->rgvarg[arguments->cArgs - 1 - i] : nullptr;
      const Parameter& parameter = member->parameters[i];
      if (!given && parameter.type != ValueType::TextArray) return refusal;
      if (parameter.byReference) {
        typed.emplace_back(parameter, given, i);
      } else {
        typed.emplace_back(*given);
      }
      for (size_t earlier = 0; earlier < i; ++earlier) typed[i].ShareArrayOfTheSameVariable(typed[earlier]);
    }

    std::vector<VARIANT> typedArguments(typed.size());
    for (size_t i = 0; i < typed.size(); ++i) typedArguments[typed.size() - 1 - i] = typed[i].Typed();
    DISPPARAMS typedParameters{typedArguments.data(), arguments->rgdispidNamedArgs,
                               static_cast<UINT>(typedArguments.size()), arguments->cNamedArgs};
    UniqueVariant typedResult;
    const HRESULT status =
        functionTable->Invoke(object, dispid, flags, &typedParameters, typedResult.Get(), exception, argumentError);
    for (TypedArgument& argument : typed) argument.WriteBack();
    if (result && SUCCEEDED(status)) {
      if (V_VT(typedResult.Get()) == (VT_ARRAY | VT_BSTR)) {
        V_VT(result) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(result) = VariantArrayOf(V_ARRAY(typedResult.Get())).Release();
      } else {
        typedResult.MoveTo(result);
      }
    }
    return status;
  } catch (const WrongKind& wrong) {  // thrown only while the arguments are typed
    return TypeMismatch(*member, wrong.parameter, exception);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace automation
