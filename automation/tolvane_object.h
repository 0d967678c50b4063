// The Tolvane COM object: _Tolvane (dual, IDispatch served from the type library) and
// ISupportErrorInfo over the profile_object::Tolvane logic.
//
// Every member follows one order: reject a null result pointer, reset the result to
// its type's empty value, hold a reference to the object, then run the work inside the
// call boundary (automation/error_info.h). A member that runs to its end returns S_OK
// whatever its result reports; a fault returns its failing HRESULT with error information.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

#include "com_types/tolvane_interface.h"
#include "profile_object/tolvane.h"

namespace automation {

class TolvaneObject final : public _Tolvane, public ISupportErrorInfo {
 public:
  // A new object with one reference, or nullptr when memory runs out.
  static TolvaneObject* Create();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID iid, LCID locale, WORD flags, DISPPARAMS* arguments,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // _Tolvane
  HRESULT STDMETHODCALLTYPE get_IniFileName(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE put_IniFileName(BSTR* newFileName) override;
  HRESULT STDMETHODCALLTYPE get_LastErrorA(BSTR* result) override;
  HRESULT STDMETHODCALLTYPE ReadValue(BSTR* section, BSTR* key, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values, VARIANT* result) override;
  HRESULT STDMETHODCALLTYPE CreateKeyAndValue(BSTR section, BSTR key, BSTR value, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE WriteValue(BSTR* section, BSTR* key, BSTR* value, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE get_SectionsCount(LONG* result) override;
  HRESULT STDMETHODCALLTYPE SectionAdd(BSTR section, VARIANT_BOOL* result) override;
  HRESULT STDMETHODCALLTYPE SectionWriteAtOnce(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values,
                                               LONG* result) override;
  HRESULT STDMETHODCALLTYPE RenameKey(BSTR section, BSTR currentKeyName, BSTR newKeyName) override;
  HRESULT STDMETHODCALLTYPE RenameSection(BSTR currentSectionName, BSTR newSectionName) override;
  HRESULT STDMETHODCALLTYPE DeleteSection(BSTR section) override;
  HRESULT STDMETHODCALLTYPE DeleteKey(BSTR section, BSTR key) override;

 private:
  TolvaneObject();
  ~TolvaneObject();

  template <typename Work>
  HRESULT Call(Work&& work);
  template <typename Result, typename Work>
  HRESULT Call(Result* result, Work&& work);

  std::atomic<ULONG> references_{1};
  profile_object::Tolvane logic_{*this};
};

}  // namespace automation
