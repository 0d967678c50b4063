// _Tolvane, the dual interface of the Tolvane class, declared once: in the public header
// VoskTolvane.h, which the build writes from the member table (tools/client_files/) and
// ships to clients. The component implements and calls it exactly as clients declare it.
#pragma once

#include <VoskTolvane.h>
