#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "storage/durable_file.h"
#include "storage/system_error_win32.h"

namespace talven {

namespace {

// errno for the failed Win32 call, so that callers report every platform alike.
bool FailWithLastError() {
  errno = ErrnoForLastError();
  return false;
}

bool WideName(const char* name, wchar_t* out, int capacity) {
  return MultiByteToWideChar(CP_ACP, 0, name, -1, out, capacity) > 0;
}

inline constexpr int kWideMax = MAX_PATH * 4;

// Both names of a move as the system's wide strings, each into kWideMax characters; false with
// EINVAL when one cannot be converted.
bool WideNames(const char* from, wchar_t* source, const char* to, wchar_t* target) {
  if (WideName(from, source, kWideMax) && WideName(to, target, kWideMax)) return true;
  errno = EINVAL;
  return false;
}

// Another session holds the file when it cannot be shared: a hold open for writing denies others
// writing, and so every session's open, while this session may still read it. The CRT keeps the
// system's error code of a failed open in _doserrno.
int Held(const char* name, int flags) {
  int fd = -1;
  const errno_t error = _sopen_s(&fd, name, flags | _O_BINARY, _SH_DENYWR, _S_IREAD | _S_IWRITE);
  if (error == 0) return fd;
  errno = error == EACCES && _doserrno == ERROR_SHARING_VIOLATION ? EBUSY : error;
  return -1;
}

// Puts `from` in place of `to`. ReplaceFileW keeps the replaced file's attributes and access
// rights; a file that is not there yet is renamed.
bool Replace(const char* from, const char* to) {
  wchar_t source[kWideMax];
  wchar_t target[kWideMax];
  if (!WideNames(from, source, to, target)) return false;
  if (GetFileAttributesW(target) != INVALID_FILE_ATTRIBUTES &&
      ReplaceFileW(target, source, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    return true;
  }
  return MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
         FailWithLastError();
}

}  // namespace

bool SyncDescriptor(int fd) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) return false;
  // Consoles and pipes have nothing to sync.
  if (GetFileType(handle) != FILE_TYPE_DISK) return true;
  return FlushFileBuffers(handle) != 0 || FailWithLastError();
}

bool SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0 || std::ferror(file) != 0) return false;
  return SyncDescriptor(_fileno(file));
}

// Windows syncs no folder. A flush of the file at the path writes its metadata as well as its data
// and has the disk write its cache, which makes a replace or a creation under that name durable
// (ReplaceFileW does not write through).
bool SyncFolderOf(const char* path) {
  wchar_t name[kWideMax];
  if (!WideName(path, name, kWideMax)) {
    errno = EINVAL;
    return false;
  }
  const HANDLE file =
      CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FailWithLastError();
  const bool flushed = FlushFileBuffers(file) != 0 || FailWithLastError();
  CloseHandle(file);
  return flushed;
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

int CreateHeldFile(const char* name) {
  return Held(name, _O_WRONLY | _O_CREAT | _O_EXCL);
}

int HoldExistingFile(const char* name) {
  struct _stat64 info {};
  if (_stat64(name, &info) != 0) return -1;
  if ((info.st_mode & _S_IFMT) != _S_IFREG) {
    errno = (info.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EEXIST;
    return -1;
  }
  // Opened for writing though nothing is written: a read-only file is refused here, as on other
  // systems, instead of failing only at the replace.
  return Held(name, _O_WRONLY);
}

int OpenForWriting(const char* name) {
  int fd = -1;
  return _sopen_s(&fd, name, _O_WRONLY | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE) == 0 ? fd
                                                                                           : -1;
}

bool WriteWhole(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const unsigned chunk = size > 0x10000000 ? 0x10000000u : static_cast<unsigned>(size);
    const int written = _write(fd, data, chunk);
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CutFileTo(int fd, std::uint64_t size) {
  const auto length = static_cast<long long>(size);
  return _chsize_s(fd, length) == 0 && _lseeki64(fd, length, SEEK_SET) >= 0;
}

// ReplaceFileW carries the attributes and access rights over.
void TakeModeAndOwner(int, int) {}

void CloseDescriptor(int& fd) {
  if (fd >= 0) _close(fd);
  fd = -1;
}

bool MoveFileAside(const char* from, const char* to) {
  wchar_t source[kWideMax];
  wchar_t target[kWideMax];
  if (!WideNames(from, source, to, target)) return false;
  return MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING) != 0 || FailWithLastError();
}

bool ReplaceHeldFile(int& fromFd, int& toFd, const char* from, const char* to) {
  // Windows renames no file that is open without delete sharing: the holds end just before.
  CloseDescriptor(fromFd);
  CloseDescriptor(toFd);
  // The caller syncs what SyncFolderOf syncs, and tells a failure there from a failed replace.
  return Replace(from, to);
}

// Links on Windows are rare and are not followed: the name given is the file replaced.
bool ResolveLinks(const char* name, char* out, std::size_t capacity) {
  if (std::snprintf(out, capacity, "%s", name) < static_cast<int>(capacity)) return true;
  errno = ENAMETOOLONG;
  return false;
}

}  // namespace talven
