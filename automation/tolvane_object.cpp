#include "automation/tolvane_object.h"

#include <new>

#include "automation/error_info.h"
#include "com_types/identity.h"
#include "automation/module_state.h"
#include "automation/script_calls.h"
#include "automation/type_information.h"
#include "profile_object/text_arrays.h"
#include "profile_object/tolvane.h"

namespace automation {

using com_types::kInterfaceId;

namespace {

VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// Typed callers must pass the section and two one-dimensional arrays of BSTR.
void RequireSectionAndTextArrays(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values) {
  RequirePointers(section, keys, values);
  profile_object::RequireTextArray(*keys);
  profile_object::RequireTextArray(*values);
}

class TolvaneObject final : public _Tolvane, public ISupportErrorInfo {
 public:
  TolvaneObject() { Increment(Count::Objects); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    void* found = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kInterfaceId) found = static_cast<_Tolvane*>(this);
    if (iid == IID_ISupportErrorInfo) found = static_cast<ISupportErrorInfo*>(this);
    return references_.Answer(found, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return references_.Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return references_.Release(this); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* dispatch = DispatchTypeInfo();
    if (!dispatch) return TYPE_E_CANTLOADLIBRARY;
    dispatch->AddRef();
    *info = dispatch;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* dispatch = DispatchTypeInfo();
    if (!dispatch) return TYPE_E_CANTLOADLIBRARY;
    return dispatch->GetIDsOfNames(names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID, WORD flags, DISPPARAMS* arguments, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* functionTable = FunctionTableTypeInfo();
    if (!functionTable) return TYPE_E_CANTLOADLIBRARY;
    AddRef();
    _Tolvane* self = this;
    HRESULT status = functionTable->Invoke(self, dispid, flags, arguments, result, exception, argumentError);
    if (status == DISP_E_TYPEMISMATCH || status == DISP_E_BADPARAMCOUNT || status == DISP_E_PARAMNOTOPTIONAL) {
      status = InvokeWithScriptArguments(functionTable, self, dispid, flags, arguments, result, exception,
                                         argumentError, status);
    }
    Release();
    return status;
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == kInterfaceId ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE get_IniFileName(BSTR* result) override {
    return Call(result, [&] { *result = logic_.IniFileName().Release(); });
  }

  HRESULT STDMETHODCALLTYPE put_IniFileName(BSTR* newFileName) override {
    return Call([&] {
      RequirePointers(newFileName);
      logic_.SetIniFileName(*newFileName);
    });
  }

  HRESULT STDMETHODCALLTYPE get_LastErrorA(BSTR* result) override {
    return Call(result, [&] { *result = logic_.LastErrorA().Release(); });
  }

  HRESULT STDMETHODCALLTYPE ReadValue(BSTR* section, BSTR* key, BSTR* result) override {
    return Call(result, [&] {
      RequirePointers(section, key);
      *result = logic_.ReadValue(section, key).Release();
    });
  }

  HRESULT STDMETHODCALLTYPE ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values, VARIANT* result) override {
    return Call(result, [&] {
      RequireSectionAndTextArrays(section, keys, values);
      // Two different arrays: one filled twice would lose the keys.
      if (keys == values || (*keys && *keys == *values)) throw profile_object::Fault::InvalidArgument();
      logic_.ReadSection(section, keys, values).MoveTo(result);
    });
  }

  HRESULT STDMETHODCALLTYPE CreateKeyAndValue(BSTR section, BSTR key, BSTR value, VARIANT_BOOL* result) override {
    return Call(result, [&] { *result = AsVariantBool(logic_.CreateKeyAndValue(section, key, value)); });
  }

  HRESULT STDMETHODCALLTYPE WriteValue(BSTR* section, BSTR* key, BSTR* value, VARIANT_BOOL* result) override {
    return Call(result, [&] {
      RequirePointers(section, key, value);
      *result = AsVariantBool(logic_.WriteValue(section, key, value));
    });
  }

  HRESULT STDMETHODCALLTYPE get_SectionsCount(LONG* result) override {
    return Call(result, [&] { *result = logic_.SectionsCount(); });
  }

  HRESULT STDMETHODCALLTYPE SectionAdd(BSTR section, VARIANT_BOOL* result) override {
    return Call(result, [&] { *result = AsVariantBool(logic_.SectionAdd(section)); });
  }

  HRESULT STDMETHODCALLTYPE SectionWriteAtOnce(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values,
                                               LONG* result) override {
    return Call(result, [&] {
      RequireSectionAndTextArrays(section, keys, values);
      *result = logic_.SectionWriteAtOnce(section, *keys, *values);
    });
  }

  HRESULT STDMETHODCALLTYPE RenameKey(BSTR section, BSTR currentKeyName, BSTR newKeyName) override {
    return Call([&] { logic_.RenameKey(section, currentKeyName, newKeyName); });
  }

  HRESULT STDMETHODCALLTYPE RenameSection(BSTR currentSectionName, BSTR newSectionName) override {
    return Call([&] { logic_.RenameSection(currentSectionName, newSectionName); });
  }

  HRESULT STDMETHODCALLTYPE DeleteSection(BSTR section) override {
    return Call([&] { logic_.DeleteSection(section); });
  }

  HRESULT STDMETHODCALLTYPE DeleteKey(BSTR section, BSTR key) override {
    return Call([&] { logic_.DeleteKey(section, key); });
  }

 private:
  friend class automation::ReferenceCount;
  ~TolvaneObject() { Decrement(Count::Objects); }

  // Every member: rejects a null result pointer, resets the result (null text, False, 0,
  // Empty), holds a reference to the object, runs the work inside the call boundary
  // (error_info.h), and returns S_OK without a fault, whatever its result reports.
  template <typename Result, typename Work>
  HRESULT Call(Result* result, Work&& work) {
    if (!result) return E_POINTER;
    *result = Result{};
    return Call(work);
  }

  template <typename Work>
  HRESULT Call(Work&& work) {
    AddRef();  // the object outlives its own member call, even if the caller lets go
    const HRESULT status = CallBoundary(work);
    Release();
    return status;
  }

  ReferenceCount references_;
  profile_object::Tolvane logic_{*this};
};

}  // namespace

_Tolvane* CreateTolvaneObject() { return new (std::nothrow) TolvaneObject(); }

}  // namespace automation
