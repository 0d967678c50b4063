// Writing a generated file, for the build-time writers of this folder.
#pragma once

#include <cstdio>
#include <string>

namespace client_files {

// Writes `text` to the file `name` in the current folder, byte for byte; says on stderr
// which file could not be written.
inline bool WriteOutputFile(const std::string& name, const std::string& text) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) {
    std::fprintf(stderr, "cannot create %s\n", name.c_str());
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace client_files
