// The type library embedded in this module (resource "TYPELIB" 1), loaded on first use
// and kept for the life of the process.
#pragma once

#include <oaidl.h>

#include <string>

namespace automation {

// _Tolvane as the library describes it (the dispatch view of the dual interface);
// nullptr if the library cannot be loaded. Borrowed: do not release.
ITypeInfo* DispatchTypeInfo();
// _Tolvane's function-table view, which ITypeInfo::Invoke calls through.
ITypeInfo* FunctionTableTypeInfo();

// The full path of this module's file (the DLL, or the program that links the object in);
// empty when it cannot be had, with the reason in GetLastError.
std::wstring ThisModulePath() noexcept;

}  // namespace automation
