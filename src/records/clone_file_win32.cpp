#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <cstdio>

#include "records/clone_file.h"

namespace talven {

std::FILE* OpenSessionFile(const char* name, const char* mode) {
  const bool writing = mode[0] == 'w' || mode[1] == '+';
  char binaryMode[8];
  std::snprintf(binaryMode, sizeof binaryMode, "%sb", mode);
  return _fsopen(name, binaryMode, writing ? _SH_DENYRW : _SH_DENYWR);
}

std::FILE* StandardInputBytes() {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

std::FILE* KeepFileBytes(std::FILE* file, std::vector<char>&) {
  // Opened without write sharing: no other program can change it while it is open.
  if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
  std::clearerr(file);
  return file;
}

}  // namespace talven
