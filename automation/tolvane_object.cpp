#include "automation/tolvane_object.h"

#include <new>

#include "automation/error_info.h"
#include "com_types/identity.h"
#include "automation/module_state.h"
#include "automation/script_calls.h"
#include "automation/type_information.h"
#include "profile_object/text_arrays.h"

namespace automation {

using com_types::kInterfaceId;

namespace {

void ResetResult(BSTR* result) { *result = nullptr; }
void ResetResult(VARIANT_BOOL* result) { *result = VARIANT_FALSE; }
void ResetResult(LONG* result) { *result = 0; }
void ResetResult(VARIANT* result) { VariantInit(result); }

VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// Typed callers must pass one-dimensional arrays of BSTR, and two different ones.
void RequireTwoTextArrays(SAFEARRAY** keys, SAFEARRAY** values) {
  profile_object::RequireTextArray(*keys);
  profile_object::RequireTextArray(*values);
  if (keys == values || (*keys && *keys == *values)) throw profile_object::Fault::InvalidArgument();
}

}  // namespace

TolvaneObject* TolvaneObject::Create() { return new (std::nothrow) TolvaneObject(); }

TolvaneObject::TolvaneObject() { Increment(Count::Objects); }
TolvaneObject::~TolvaneObject() { Decrement(Count::Objects); }

template <typename Work>
HRESULT TolvaneObject::Call(Work&& work) {
  AddRef();  // the object outlives its own member call, even if the caller lets go
  const HRESULT status = CallBoundary(work);
  Release();
  return status;
}

template <typename Result, typename Work>
HRESULT TolvaneObject::Call(Result* result, Work&& work) {
  if (!result) return E_POINTER;
  ResetResult(result);
  return Call(work);
}

// ---- IUnknown -------------------------------------------------------------------------

HRESULT TolvaneObject::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kInterfaceId) {
    *object = static_cast<_Tolvane*>(this);
  } else if (iid == IID_ISupportErrorInfo) {
    *object = static_cast<ISupportErrorInfo*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG TolvaneObject::AddRef() { return ++references_; }

ULONG TolvaneObject::Release() {
  const ULONG remaining = --references_;
  if (remaining == 0) delete this;
  return remaining;
}

// ---- IDispatch ------------------------------------------------------------------------

HRESULT TolvaneObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TolvaneObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeInfo* dispatch = DispatchTypeInfo();
  if (!dispatch) return TYPE_E_CANTLOADLIBRARY;
  dispatch->AddRef();
  *info = dispatch;
  return S_OK;
}

HRESULT TolvaneObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* dispatch = DispatchTypeInfo();
  if (!dispatch) return TYPE_E_CANTLOADLIBRARY;
  return dispatch->GetIDsOfNames(names, count, ids);
}

HRESULT TolvaneObject::Invoke(DISPID dispid, REFIID iid, LCID, WORD flags, DISPPARAMS* arguments, VARIANT* result,
                              EXCEPINFO* exception, UINT* argumentError) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* functionTable = FunctionTableTypeInfo();
  if (!functionTable) return TYPE_E_CANTLOADLIBRARY;
  AddRef();
  _Tolvane* self = this;
  HRESULT status = functionTable->Invoke(self, dispid, flags, arguments, result, exception, argumentError);
  if (status == DISP_E_TYPEMISMATCH || status == DISP_E_BADPARAMCOUNT || status == DISP_E_PARAMNOTOPTIONAL) {
    status = InvokeWithScriptArguments(functionTable, self, dispid, flags, arguments, result, exception, argumentError,
                                       status);
  }
  Release();
  return status;
}

HRESULT TolvaneObject::InterfaceSupportsErrorInfo(REFIID iid) { return iid == kInterfaceId ? S_OK : S_FALSE; }

// ---- _Tolvane -------------------------------------------------------------------------

HRESULT TolvaneObject::get_IniFileName(BSTR* result) {
  return Call(result, [&] { *result = logic_.IniFileName().Release(); });
}

HRESULT TolvaneObject::put_IniFileName(BSTR* newFileName) {
  return Call([&] {
    RequirePointers(newFileName);
    logic_.SetIniFileName(*newFileName);
  });
}

HRESULT TolvaneObject::get_LastErrorA(BSTR* result) {
  return Call(result, [&] { *result = logic_.LastErrorA().Release(); });
}

HRESULT TolvaneObject::ReadValue(BSTR* section, BSTR* key, BSTR* result) {
  return Call(result, [&] {
    RequirePointers(section, key);
    *result = logic_.ReadValue(section, key).Release();
  });
}

HRESULT TolvaneObject::ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values, VARIANT* result) {
  return Call(result, [&] {
    RequirePointers(section, keys, values);
    RequireTwoTextArrays(keys, values);
    logic_.ReadSection(section, keys, values).MoveTo(result);
  });
}

HRESULT TolvaneObject::CreateKeyAndValue(BSTR section, BSTR key, BSTR value, VARIANT_BOOL* result) {
  return Call(result, [&] { *result = AsVariantBool(logic_.CreateKeyAndValue(section, key, value)); });
}

HRESULT TolvaneObject::WriteValue(BSTR* section, BSTR* key, BSTR* value, VARIANT_BOOL* result) {
  return Call(result, [&] {
    RequirePointers(section, key, value);
    *result = AsVariantBool(logic_.WriteValue(section, key, value));
  });
}

HRESULT TolvaneObject::get_SectionsCount(LONG* result) {
  return Call(result, [&] { *result = logic_.SectionsCount(); });
}

HRESULT TolvaneObject::SectionAdd(BSTR section, VARIANT_BOOL* result) {
  return Call(result, [&] { *result = AsVariantBool(logic_.SectionAdd(section)); });
}

HRESULT TolvaneObject::SectionWriteAtOnce(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values, LONG* result) {
  return Call(result, [&] {
    RequirePointers(section, keys, values);
    profile_object::RequireTextArray(*keys);
    profile_object::RequireTextArray(*values);
    *result = logic_.SectionWriteAtOnce(section, *keys, *values);
  });
}

HRESULT TolvaneObject::RenameKey(BSTR section, BSTR currentKeyName, BSTR newKeyName) {
  return Call([&] { logic_.RenameKey(section, currentKeyName, newKeyName); });
}

HRESULT TolvaneObject::RenameSection(BSTR currentSectionName, BSTR newSectionName) {
  return Call([&] { logic_.RenameSection(currentSectionName, newSectionName); });
}

HRESULT TolvaneObject::DeleteSection(BSTR section) {
  return Call([&] { logic_.DeleteSection(section); });
}

HRESULT TolvaneObject::DeleteKey(BSTR section, BSTR key) {
  return Call([&] { logic_.DeleteKey(section, key); });
}

}  // namespace automation
