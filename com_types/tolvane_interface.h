// _Tolvane, the dual interface of the Tolvane class. Its one declaration is the public
// header VoskTolvane.h, which the build writes from the member table
// (com_types/member_table.h, tools/client_files/) and ships to clients: the component
// implements and calls the interface exactly as clients declare it. Tests check the
// header against the type library.
#pragma once

#include <VoskTolvane.h>
