#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "clone/durable_file.h"

namespace talven {

namespace {

// The folder's own entry for the renamed file reaches the disk only with a sync of the folder.
bool SyncFolderOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  char folder[1100] = ".";
  if (slash == path) {
    std::snprintf(folder, sizeof folder, "/");
  } else if (slash != nullptr) {
    std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(slash - path), path);
  }
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems cannot sync a folder at all; their rename is as durable as it gets.
  const bool synced = fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
  const int error = errno;
  close(fd);
  errno = error;
  return synced;
}

}  // namespace

bool SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0 || std::ferror(file) != 0) return false;
  // A pipe or a terminal has nothing to sync.
  return fsync(fileno(file)) == 0 || errno == EINVAL || errno == EROFS;
}

bool ReplaceFileDurably(const char* from, const char* to) {
  if (std::rename(from, to) != 0) return false;
  return SyncFolderOf(to);
}

std::FILE* CreateNewFile(const char* name) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace talven
