// _Tolvane, the Tolvane class's dual interface, declared once, as clients declare it: in
// the public header VoskTolvane.h, written by the build from the member table and shipped.
#pragma once

#include <VoskTolvane.h>
