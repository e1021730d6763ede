#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "storage/durable_file.h"
#include "storage/kept_backup.h"

namespace talven {

namespace {

inline constexpr char kNewSuffix[] = ".new";

// Errors of a file system that has no hard links, or none for this file: a copy does instead.
bool NoHardLinks(int error) {
  return error == EPERM || error == EXDEV || error == ENOTSUP || error == EOPNOTSUPP ||
         error == ENOSYS || error == EMLINK;
}

// Links `to` under the temporary name and checks that the link is the held file.
bool LinkHeld(int toFd, const char* to, const char* temporary) {
  if (linkat(AT_FDCWD, to, AT_FDCWD, temporary, 0) != 0) return false;
  if (IsFileAtPath(toFd, temporary)) return true;
  const int error = errno;
  unlink(temporary);
  errno = error;
  return false;
}

// A copy of the held file under the temporary name, synced, with its mode and owner; made private
// first, so that it is never open to more users than the file was.
bool CopyHeld(int toFd, const char* to, const char* temporary) {
  const int in = open(to, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  int out = -1;
  bool copied = IsFileAtPath(in, to) && IsFileAtPath(toFd, to);
  if (copied) {
    out = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    copied = out >= 0;
  }
  char buffer[65536];
  while (copied) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      copied = got == 0;
      break;
    }
    copied = WriteWhole(out, buffer, static_cast<std::size_t>(got));
  }
  if (copied) {
    TakeAccessOf(toFd, out, temporary);
    copied = SyncDescriptor(out);
  }
  int error = errno;
  if (out >= 0 && close(out) != 0 && copied) {
    copied = false;
    error = errno;
  }
  close(in);
  if (!copied && out >= 0) unlink(temporary);
  errno = error;
  return copied;
}

// Puts the held file `to` under `backup` as well, replacing what was there in one step.
bool KeepHeld(int toFd, const char* to, const char* backup) {
  char temporary[4200];
  if (std::snprintf(temporary, sizeof temporary, "%s%s", backup, kNewSuffix) >=
      static_cast<int>(sizeof temporary)) {
    errno = ENAMETOOLONG;
    return false;
  }
  // A temporary file of an interrupted session is a link or copy of an older file: no data.
  bool made = LinkHeld(toFd, to, temporary);
  if (!made && errno == EEXIST && unlink(temporary) == 0) made = LinkHeld(toFd, to, temporary);
  if (!made && NoHardLinks(errno)) made = CopyHeld(toFd, to, temporary);
  if (!made) return false;
  const bool renamed = std::rename(temporary, backup) == 0;
  const int error = errno;
  // Also when `backup` was already a link of the same file, which leaves both names.
  unlink(temporary);
  errno = error;
  return renamed;
}

}  // namespace

std::FILE* ReadHeldFile(const char* name) {
  return std::fopen(name, "rbe");
}

ReplaceFailure ReplaceKeepingBackup(HeldFile& fromFile, HeldFile& toFile, const char* to,
                                    const char* backup, bool& targetGone) {
  targetGone = false;
  // Both files stay held: the records are in FILE.partial, the old ones in FILE.
  if (backup != nullptr && toFile.IsOpen() && !KeepHeld(toFile.fd(), to, backup)) {
    if (errno == 0) errno = EIO;
    return ReplaceFailure::kBackup;
  }
  errno = 0;
  return ReplaceHeldFile(fromFile, toFile, to, targetGone) ? ReplaceFailure::kNone
                                                           : ReplaceFailure::kReplace;
}

}  // namespace talven
