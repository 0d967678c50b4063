// The class factory of Tolvane, which DllGetClassObject hands out.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace automation {

// Gives a new factory for `classId` as interface `iid` (IClassFactory or IUnknown).
// CLASS_E_CLASSNOTAVAILABLE with a null *object for a class that is not served here.
HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** object);

}  // namespace automation
