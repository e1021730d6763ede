#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "storage/durable_file.h"

namespace talven {

namespace {

inline constexpr int kLinkHopsMax = 40;

bool FailWith(int error) {
  errno = error;
  return false;
}

}  // namespace

bool IsFileAtPath(int fd, const char* name) {
  struct stat held {};
  struct stat named {};
  if (fstat(fd, &held) != 0 || stat(name, &named) != 0) return false;
  return (held.st_dev == named.st_dev && held.st_ino == named.st_ino) || FailWith(EBUSY);
}

bool SyncFolderOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  char folder[4200] = ".";
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

bool SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0 || std::ferror(file) != 0) return false;
  return SyncDescriptor(fileno(file));
}

std::FILE* CreateNewFile(const char* name) {
  HeldFile file;
  return file.Open(name, OpenRule::kNew) ? file.ReleaseAsStream() : nullptr;
}

int OpenForWriting(const char* name) {
  return open(name, O_WRONLY | O_CLOEXEC);
}

bool WriteWhole(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) return FailWith(EIO);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CutFileTo(int fd, std::uint64_t size) {
  return ftruncate(fd, static_cast<off_t>(size)) == 0 &&
         lseek(fd, static_cast<off_t>(size), SEEK_SET) >= 0;
}

bool SyncDescriptor(int fd) {
  // A pipe or a terminal has nothing to sync.
  return fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

void CloseDescriptor(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

bool MoveFileAside(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

bool ReplaceHeldFile(HeldFile& fromFile, HeldFile& toFile, const char* to, bool& targetGone) {
  targetGone = false;
  // Renamed while both are held: a second session finds the new file held until this one lets go.
  if (std::rename(fromFile.name(), to) != 0) return false;
  fromFile.Close();
  toFile.Close();
  return true;
}

bool ResolveLinks(const char* name, char* out, std::size_t capacity) {
  if (std::snprintf(out, capacity, "%s", name) >= static_cast<int>(capacity)) {
    return FailWith(ENAMETOOLONG);
  }
  for (int hop = 0; hop < kLinkHopsMax; ++hop) {
    struct stat info {};
    if (lstat(out, &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char target[4096];
    const ssize_t length = readlink(out, target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    const char* slash = std::strrchr(out, '/');
    char next[4200];
    int written = 0;
    if (target[0] == '/' || slash == nullptr) {
      written = std::snprintf(next, sizeof next, "%s", target);
    } else {
      written =
          std::snprintf(next, sizeof next, "%.*s/%s", static_cast<int>(slash - out), out, target);
    }
    if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
      return FailWith(ENAMETOOLONG);
    }
    std::snprintf(out, capacity, "%s", next);
  }
  return FailWith(ELOOP);
}

}  // namespace talven
