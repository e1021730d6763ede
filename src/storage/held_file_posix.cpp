#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "storage/held_file.h"

namespace talven {

namespace {

// A session that committed between the open and the lock has put a new file at the name: the lock
// is then on the old one, and the open is tried again.
inline constexpr int kOpenTries = 3;

bool Refuse(int fd, int error) {
  close(fd);
  errno = error;
  return false;
}

// Opened without O_TRUNC and never through a link. Read access is asked for where it is granted,
// so that a caller may look at what is there before it writes; a file the user may not write is
// refused here, not replaced later by a rename that only asks the folder.
int OpenNamed(const char* name, int create, mode_t mode) {
  const int flags = create | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(name, flags | O_RDWR, mode);
  if (fd < 0 && errno == EACCES && create == 0) fd = open(name, flags | O_WRONLY);
  return fd;
}

}  // namespace

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    created_ = std::exchange(other.created_, false);
    name_ = std::move(other.name_);
  }
  return *this;
}

bool HeldFile::Open(const char* name, OpenRule rule, bool ownerOnly) {
  Close();
  for (int attempt = 1; attempt <= kOpenTries; ++attempt) {
    bool created = rule != OpenRule::kExisting;
    int fd = created ? OpenNamed(name, O_CREAT | O_EXCL, ownerOnly ? 0600 : 0666) : -1;
    if (fd < 0 && (!created || (errno == EEXIST && rule == OpenRule::kNewOrExisting))) {
      created = false;
      fd = OpenNamed(name, 0, 0);
      // Removed between the two tries: created on the next.
      if (fd < 0 && errno == ENOENT && rule == OpenRule::kNewOrExisting) continue;
    }
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
      const int error = errno;
      if (created) unlink(name);
      return Refuse(fd, error);
    }
    if (!S_ISREG(info.st_mode)) return Refuse(fd, S_ISDIR(info.st_mode) ? EISDIR : EEXIST);
    // Where the file system has no locks the file is used unguarded. A file made here and locked
    // by another session in between is that session's now, and is left to it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return Refuse(fd, EBUSY);
    fd_ = fd;
    created_ = created;
    name_ = name;
    if (IsAt(name)) {
      // Writes block like any other file's.
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return true;
    }
    fd_ = -1;
    close(fd);
  }
  errno = EBUSY;
  return false;
}

bool HeldFile::IsAt(const char* path) const {
  struct stat held {};
  struct stat named {};
  if (fd_ < 0 || fstat(fd_, &held) != 0 || stat(path, &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool HeldFile::ReadStart(char* out, std::size_t capacity, std::size_t& got) const {
  got = 0;
  while (got < capacity) {
    const ssize_t read = pread(fd_, out + got, capacity - got, static_cast<off_t>(got));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return false;
    if (read == 0) break;
    got += static_cast<std::size_t>(read);
  }
  return true;
}

bool HeldFile::Empty() {
  return ftruncate(fd_, 0) == 0 && lseek(fd_, 0, SEEK_SET) == 0;
}

bool HeldFile::Size(std::uint64_t& size) const {
  struct stat info {};
  if (fstat(fd_, &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool HeldFile::MoveTo(const char* to) {
  if (std::rename(name_.c_str(), to) != 0) return false;
  name_ = to;
  return true;
}

bool HeldFile::Remove() {
  const bool removed = unlink(name_.c_str()) == 0;
  const int error = errno;
  Close();
  errno = error;
  return removed;
}

void HeldFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  created_ = false;
}

std::FILE* HeldFile::ReleaseAsStream() {
  std::FILE* file = fdopen(fd_, "wb");  // fdopen never truncates
  if (file != nullptr) Release();
  return file;
}

}  // namespace talven
