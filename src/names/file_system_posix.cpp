#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "names/file_system.h"

namespace talven {

FileKind KindOf(const char* name, bool followLinks) {
  struct stat info {};
  if ((followLinks ? stat(name, &info) : lstat(name, &info)) != 0) return FileKind::kMissing;
  if (S_ISREG(info.st_mode)) return FileKind::kRegular;
  if (S_ISDIR(info.st_mode)) return FileKind::kDirectory;
  if (S_ISCHR(info.st_mode)) return FileKind::kDevice;
  if (S_ISLNK(info.st_mode)) return FileKind::kLink;
  return FileKind::kOther;
}

std::FILE* OpenFile(const char* name, const char* mode) {
  return std::fopen(name, mode);
}

const char* FileErrorText(int error) {
  return std::strerror(error);
}

}  // namespace talven
