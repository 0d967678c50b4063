// Writes the files that clients compile against, VoskTolvane.h and VoskTolvane.idl, from
// the member table and the identity. Run at build time (under Wine), in the folder that
// receives them:
//   write_client_files
// The text depends on nothing but those tables: no time, no path.
#include "tools/client_files/declaration_parts.h"
#include "tools/client_files/output_file.h"

int main() {
  using client_files::WriteOutputFile;
  return WriteOutputFile("VoskTolvane.h", client_files::ClientHeader()) &&
                 WriteOutputFile("VoskTolvane.idl", client_files::InterfaceIdl())
             ? 0
             : 1;
}
