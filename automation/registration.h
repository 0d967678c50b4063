// Registration, worked from the registration record: the class under its CLSID with this
// module as its in-process server (apartment model), the ProgID both ways, the type
// library, and _Tolvane, marshalled from the type library. One table of registry values
// serves both scopes; each writes it under its own classes root, in this module's
// registry view (32-bit or 64-bit).
#pragma once

#include <windows.h>

namespace automation {

enum class RegistrationScope {
  kMachine,  // HKLM\Software\Classes (DllRegisterServer): every user; needs administrator rights
  kUser,     // HKCU\Software\Classes (DllInstall "user"): the calling user; elevated programs ignore it
};

HRESULT Register(RegistrationScope scope);
// Removes what Register wrote for the scope; entries already gone count as removed.
HRESULT Unregister(RegistrationScope scope);

}  // namespace automation
