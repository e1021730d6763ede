#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "clone/clone_file.h"

namespace talven {

std::FILE* OpenSessionFile(const char* name, const char* mode) {
  const bool emptying = mode[0] == 'w';
  const bool writing = emptying || mode[1] == '+';
  // Opened without truncating: the file is emptied only once the lock is ours.
  const int flags = emptying ? O_WRONLY | O_CREAT : writing ? O_WRONLY : O_RDONLY;
  const int fd = open(name, flags | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  // Where the file system has no locks the file is used unguarded.
  if (flock(fd, (writing ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    errno = EBUSY;
    return nullptr;
  }
  struct stat info {};
  if (emptying && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return nullptr;
  }
  std::FILE* file = fdopen(fd, writing ? "wb" : "rb");  // fdopen never truncates
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace talven
