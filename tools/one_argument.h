// The command line of a build-time tool that takes one argument.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tools {

// The tool's one argument. Called otherwise, the tool says how to call it on stderr
// (`usage`: its name and what it takes) and ends with code 2.
inline const wchar_t* OneArgument(int argc, wchar_t** argv, const char* usage) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s\n", usage);
    std::exit(2);
  }
  return argv[1];
}

}  // namespace tools
