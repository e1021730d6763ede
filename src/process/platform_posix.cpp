#include <unistd.h>

#include <cstdio>

#include "process/platform.h"

namespace talven {

void ConfigureStandardOutput() {
  std::setvbuf(stdout, nullptr, isatty(STDOUT_FILENO) ? _IONBF : _IOFBF, 512);
}

bool PortArgumentIsPath(const char* text) {
  return text[0] == '/';
}

}  // namespace talven
