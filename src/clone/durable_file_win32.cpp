#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "clone/durable_file.h"

namespace talven {

namespace {

// errno for the failed Win32 call, so that callers report every platform alike.
bool FailWithLastError() {
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    default:
      errno = EIO;
      break;
  }
  return false;
}

bool WideName(const char* name, wchar_t* out, int capacity) {
  return MultiByteToWideChar(CP_ACP, 0, name, -1, out, capacity) > 0;
}

}  // namespace

bool SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0 || std::ferror(file) != 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return false;
  // Consoles and pipes have nothing to sync.
  if (GetFileType(handle) != FILE_TYPE_DISK) return true;
  return FlushFileBuffers(handle) != 0 || FailWithLastError();
}

bool ReplaceFileDurably(const char* from, const char* to) {
  wchar_t source[MAX_PATH * 4];
  wchar_t target[MAX_PATH * 4];
  if (!WideName(from, source, MAX_PATH * 4) || !WideName(to, target, MAX_PATH * 4)) {
    errno = EINVAL;
    return false;
  }
  return MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
         FailWithLastError();
}

std::FILE* CreateNewFile(const char* name) {
  int fd = -1;
  if (_sopen_s(&fd, name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR,
               _S_IREAD | _S_IWRITE) != 0) {
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace talven
