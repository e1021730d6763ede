// What a file made to stand in for another takes from it: owner, group, extended attributes (the
// access control list is one) and mode.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "process/exit_path.h"
#include "storage/durable_file.h"

namespace talven {

namespace {

inline constexpr char kAccessListAttribute[] = "system.posix_acl_access";

// The value of one attribute; false when it cannot be read.
bool ReadAttribute(int fd, const char* name, std::vector<char>& value) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const ssize_t size = fgetxattr(fd, name, nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = fgetxattr(fd, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // grown in between: asked again
  }
  return false;
}

// The names of every attribute of fd, each ending in a NUL; empty where there are none or the
// file system has none.
std::vector<char> AttributeNames(int fd) {
  std::vector<char> names;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const ssize_t size = flistxattr(fd, nullptr, 0);
    if (size <= 0) break;
    names.resize(static_cast<std::size_t>(size));
    const ssize_t got = flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return names;
    }
    if (errno != ERANGE) break;
  }
  names.clear();
  return names;
}

// Copies every attribute; false when the access control list was there and could not be copied.
bool CopyAttributes(int from, int to, const char* toName) {
  bool accessListCopied = true;
  const std::vector<char> names = AttributeNames(from);
  std::vector<char> value;
  std::vector<char> present;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    if (!ReadAttribute(from, name, value)) continue;  // gone since it was listed
    if (fsetxattr(to, name, value.data(), value.size(), 0) == 0) continue;
    const int error = errno;
    // One the system set on the new file by itself, as it was, needs no copy.
    if (ReadAttribute(to, name, present) && present == value) continue;
    if (std::strcmp(name, kAccessListAttribute) == 0) accessListCopied = false;
    const std::string reason = std::string("the attribute ") + name +
                               " could not be copied from the file it replaces (" +
                               std::strerror(error) + ")";
    ReportError(toName, reason.c_str());
  }
  return accessListCopied;
}

}  // namespace

void TakeAccessOf(int from, int to, const char* toName) {
  struct stat info {};
  if (fstat(from, &info) != 0) return;
  // An owner change may clear the set-id bits, so the mode comes after it; either may be refused.
  if (fchown(to, info.st_uid, info.st_gid) != 0) {
    if (fchown(to, static_cast<uid_t>(-1), info.st_gid) != 0) errno = 0;
  }
  mode_t mode = info.st_mode & 07777;
  // With an access control list the group's bits are its mask, which may open the file to the
  // owning group more than the list did: without the list they are left out.
  if (!CopyAttributes(from, to, toName)) mode &= ~static_cast<mode_t>(S_IRWXG);
  if (fchmod(to, mode) != 0) errno = 0;
}

}  // namespace talven
