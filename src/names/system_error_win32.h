// The errno that stands for the last failed Win32 call, so that file errors read alike on every
// system. Included by the Windows files of this floor only.
#pragma once

#include <windows.h>

#include <cerrno>

namespace talven {

inline int ErrnoForLastError() {
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
      return EACCES;
    // Another program has the file open without sharing it.
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    default:
      return EIO;
  }
}

// Sets errno for the last failed Win32 call and answers false, for `return ok ||
// FailWithLastError()`.
inline bool FailWithLastError() {
  errno = ErrnoForLastError();
  return false;
}

}  // namespace talven
