#include <share.h>

#include <cstdio>

#include "clone/clone_file.h"

namespace talven {

std::FILE* OpenSessionFile(const char* name, const char* mode) {
  const bool writing = mode[0] == 'w' || mode[1] == '+';
  char binaryMode[8];
  std::snprintf(binaryMode, sizeof binaryMode, "%sb", mode);
  return _fsopen(name, binaryMode, writing ? _SH_DENYRW : _SH_DENYWR);
}

}  // namespace talven
