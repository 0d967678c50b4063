// Registration for the machine (DllRegisterServer, DllUnregisterServer): the registration
// table (registration_table.h) under HKLM\Software\Classes, in this module's registry view.
#pragma once

#include <windows.h>

namespace automation {

// Writes every value of the table for this module; needs administrator rights.
HRESULT Register();
// Removes what Register wrote; entries already gone count as removed.
HRESULT Unregister();

}  // namespace automation
