// Writes the files that clients compile against, VoskTolvane.h and VoskTolvane.idl, from
// the member table and the identity. Run at build time (under Wine), in the folder that
// receives them:
//   write_client_files
// The text depends on nothing but those tables: no time, no path.
#include <cstdio>
#include <string>

#include "tools/client_files/declaration_parts.h"

namespace {

bool Write(const char* name, const std::string& text) {
  std::FILE* file = std::fopen(name, "wb");
  if (!file) {
    std::fprintf(stderr, "write_client_files: cannot create %s\n", name);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main() {
  return Write("VoskTolvane.h", client_files::ClientHeader()) &&
                 Write("VoskTolvane.idl", client_files::InterfaceIdl())
             ? 0
             : 1;
}
