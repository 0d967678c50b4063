// Late-bound calls in the forms script engines use, which the standard dispatch refuses
// with a type mismatch: VBScript passes every variable as a by-reference VARIANT and its
// arrays hold VARIANTs; JScript passes everything by value, its arrays script objects.
// For the members taking text or arrays by reference, this types such arguments, calls
// the standard dispatch, writes converted text and new arrays back into the caller's
// variables, and hands arrays back as arrays of VARIANT, which scripts can index.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace automation {

// Serves a call that the standard dispatch refused. Returns `refusal` unchanged when
// the member takes nothing by reference or the arguments are not a script form either.
HRESULT InvokeWithScriptArguments(ITypeInfo* functionTable, IDispatch* object, DISPID dispid, WORD flags,
                                  DISPPARAMS* arguments, VARIANT* result, EXCEPINFO* exception, UINT* argumentError,
                                  HRESULT refusal);

}  // namespace automation
