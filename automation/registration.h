// Self-registration, worked from the registration record: the class under its CLSID
// with this module as its in-process server (apartment model), the ProgID both ways,
// and the type library, which also registers _Tolvane for type-library marshalling.
#pragma once

#include <windows.h>

namespace automation {

HRESULT RegisterServer();
// Removes what RegisterServer wrote; entries already gone count as removed.
HRESULT UnregisterServer();

}  // namespace automation
