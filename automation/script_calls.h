// Late-bound calls in the forms script engines use. The platform's standard dispatch
// refuses them with a type mismatch: VBScript passes every variable as a by-reference
// VARIANT (never a BSTR* or an array of BSTR), its arrays hold VARIANTs, JScript passes
// everything by value and its arrays are script objects. For the members that take text
// or arrays by reference, this turns such arguments into the typed forms, calls the
// standard dispatch with them, writes converted text and new arrays back into the
// caller's variables, and hands arrays back as arrays of VARIANT, which scripts can index.
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
