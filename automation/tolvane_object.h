// The Tolvane COM object: _Tolvane (dual, IDispatch served from the type library) and
// ISupportErrorInfo over the profile_object::Tolvane logic.
#pragma once

#include "com_types/tolvane_interface.h"

namespace automation {

// A new object with one reference, or nullptr when memory runs out.
_Tolvane* CreateTolvaneObject();

}  // namespace automation
