#include <io.h>

#include <cstdio>

#include "process/platform.h"

namespace talven {

void ConfigureStandardOutput() {
  std::setvbuf(stdout, nullptr, _isatty(_fileno(stdout)) ? _IONBF : _IOFBF, 512);
}

bool DevicePathsAllowed() {
  return false;
}

}  // namespace talven
