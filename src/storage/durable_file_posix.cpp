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

// Takes the session hold on an open file and checks that the path still names it.
bool Hold(int fd, const char* name) {
  // Where the file system has no locks the file is used unguarded.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return FailWith(EBUSY);
  return IsFileAtPath(fd, name);
}

int Closed(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
  return -1;
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
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

int CreateHeldFile(const char* name) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  return Hold(fd, name) ? fd : Closed(fd);
}

int HoldExistingFile(const char* name) {
  // Opened for writing though nothing is written: a file the user may not write is refused here,
  // not replaced by a rename that only asks the folder.
  const int fd = open(name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0) return Closed(fd);
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
    return Closed(fd);
  }
  return Hold(fd, name) ? fd : Closed(fd);
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

void TakeModeAndOwner(int from, int to) {
  struct stat info {};
  if (fstat(from, &info) != 0) return;
  // An owner change may clear the set-id bits, so the mode comes after it; either may be refused.
  if (fchown(to, info.st_uid, info.st_gid) != 0) {
    if (fchown(to, static_cast<uid_t>(-1), info.st_gid) != 0) errno = 0;
  }
  if (fchmod(to, info.st_mode & 07777) != 0) errno = 0;
}

void CloseDescriptor(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

bool MoveFileAside(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

bool ReplaceHeldFile(int& fromFd, int& toFd, const char* from, const char* to) {
  // Renamed while both are held: a second session finds the new file held until this one lets go.
  const bool replaced = std::rename(from, to) == 0;
  const int error = errno;
  CloseDescriptor(fromFd);
  CloseDescriptor(toFd);
  errno = error;
  return replaced;
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
