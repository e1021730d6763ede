#include <unistd.h>

#include <cstdio>

#include "process/platform.h"

namespace talven {

void ConfigureStandardOutput() {
  std::setvbuf(stdout, nullptr, isatty(STDOUT_FILENO) ? _IONBF : _IOFBF, 512);
}

bool DevicePathsAllowed() {
  return true;
}

}  // namespace talven
