// _Tolvane: the dual interface of the Tolvane class, in function-table order.
// Slots 0-6 come from IUnknown and IDispatch; slots 7-20 are declared here in the
// order of the member table (com_types/member_table.h), which the type library
// is built from. A test checks that both agree.
#pragma once

#include <windows.h>
#include <oaidl.h>

struct _Tolvane : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_IniFileName(BSTR* result) = 0;                      // 7
  virtual HRESULT STDMETHODCALLTYPE put_IniFileName(BSTR* newFileName) = 0;                 // 8
  virtual HRESULT STDMETHODCALLTYPE get_LastErrorA(BSTR* result) = 0;                       // 9
  virtual HRESULT STDMETHODCALLTYPE ReadValue(BSTR* section, BSTR* key, BSTR* result) = 0;  // 10
  virtual HRESULT STDMETHODCALLTYPE ReadSection(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values,
                                                VARIANT* result) = 0;  // 11
  virtual HRESULT STDMETHODCALLTYPE CreateKeyAndValue(BSTR section, BSTR key, BSTR value,
                                                      VARIANT_BOOL* result) = 0;  // 12
  virtual HRESULT STDMETHODCALLTYPE WriteValue(BSTR* section, BSTR* key, BSTR* value,
                                               VARIANT_BOOL* result) = 0;  // 13
  virtual HRESULT STDMETHODCALLTYPE get_SectionsCount(LONG* result) = 0;   // 14
  virtual HRESULT STDMETHODCALLTYPE SectionAdd(BSTR section, VARIANT_BOOL* result) = 0;  // 15
  virtual HRESULT STDMETHODCALLTYPE SectionWriteAtOnce(BSTR* section, SAFEARRAY** keys, SAFEARRAY** values,
                                                       LONG* result) = 0;  // 16
  virtual HRESULT STDMETHODCALLTYPE RenameKey(BSTR section, BSTR currentKeyName, BSTR newKeyName) = 0;  // 17
  virtual HRESULT STDMETHODCALLTYPE RenameSection(BSTR currentSectionName, BSTR newSectionName) = 0;    // 18
  virtual HRESULT STDMETHODCALLTYPE DeleteSection(BSTR section) = 0;                                   // 19
  virtual HRESULT STDMETHODCALLTYPE DeleteKey(BSTR section, BSTR key) = 0;                             // 20
};
