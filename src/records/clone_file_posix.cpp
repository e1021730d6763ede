#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <vector>

#include "process/exit_path.h"
#include "process/signals.h"
#include "records/clone_file.h"
#include "storage/durable_file.h"

namespace talven {

namespace {

// A Slave session that finished between the open and the lock has put a new file at the name: the
// lock is then on the old one, and the open is tried again.
inline constexpr int kOpenTries = 3;

bool StillAtPath(int fd, const char* name) {
  struct stat held {};
  if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) return true;
  return IsFileAtPath(fd, name);
}

}  // namespace

std::FILE* StandardInputBytes() {
  return stdin;
}

std::FILE* OpenSessionFile(const char* name, const char* mode) {
  const bool emptying = mode[0] == 'w';
  const bool writing = emptying || mode[1] == '+';
  // Opened without truncating: the file is emptied only once the lock is ours.
  const int flags = emptying ? O_WRONLY | O_CREAT : writing ? O_WRONLY : O_RDONLY;
  int fd = -1;
  for (int attempt = 1;; ++attempt) {
    fd = open(name, flags | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    // Where the file system has no locks the file is used unguarded.
    if (flock(fd, (writing ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      close(fd);
      errno = EBUSY;
      return nullptr;
    }
    if (StillAtPath(fd, name)) break;
    close(fd);
    if (attempt == kOpenTries) {
      errno = EBUSY;
      return nullptr;
    }
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

std::FILE* KeepFileBytes(std::FILE* file, std::vector<char>& bytes) {
  bytes.clear();
  try {
    char block[8192];
    std::size_t got = 0;
    for (;;) {
      got = std::fread(block, 1, sizeof block, file);
      const bool interrupted = std::ferror(file) != 0 && errno == EINTR;
      if (interrupted) {
        // A pipe that waits is a wait like any other: a signal ends the session as itself.
        if (TakenSignal() != 0) {
          std::vector<char>().swap(bytes);
          errno = EINTR;
          return nullptr;
        }
        std::clearerr(file);
      }
      if (got == 0 && !interrupted) break;
      if (got > kKeptBytesMax - bytes.size()) {
        std::vector<char>().swap(bytes);
        errno = EFBIG;
        return nullptr;
      }
      bytes.insert(bytes.end(), block, block + got);
    }
    // An empty file reads as one that holds only its end mark; a stream needs a byte.
    if (bytes.empty()) bytes.push_back(static_cast<char>(kEndOfFileMark));
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
  if (std::ferror(file) != 0) {
    if (errno == 0) errno = EIO;
    return nullptr;
  }
  return fmemopen(bytes.data(), bytes.size(), "rb");
}

}  // namespace talven
