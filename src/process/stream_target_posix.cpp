#include <sys/stat.h>
#include <unistd.h>

#include "process/platform.h"

namespace talven {

bool ErrorsShareStandardOutput() {
  struct stat out {};
  struct stat err {};
  if (fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0) return false;
  if (S_ISCHR(out.st_mode) && S_ISCHR(err.st_mode)) return out.st_rdev == err.st_rdev;
  return out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

bool StandardInputIsTerminal() {
  return isatty(STDIN_FILENO) != 0;
}

}  // namespace talven
