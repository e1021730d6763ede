#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "storage/durable_file.h"
#include "storage/file_system.h"
#include "storage/replace_retry.h"
#include "storage/system_error_win32.h"
#include "storage/wide_name_win32.h"

namespace talven {

namespace {

// errno for the failed Win32 call, so that callers report every platform alike.
bool FailWithLastError() {
  errno = ErrnoForLastError();
  return false;
}

// Opens through the CRT by the wide name. Another program holds the file when it cannot be
// shared: the CRT keeps the system's error code of a failed open in _doserrno.
int OpenByName(const char* name, int flags, int share) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) return -1;
  int fd = -1;
  const errno_t error =
      _wsopen_s(&fd, wide.c_str(), flags | _O_BINARY, share, _S_IREAD | _S_IWRITE);
  if (error == 0) return fd;
  errno =
      error == EACCES && (_doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION)
          ? EBUSY
          : error;
  return -1;
}

int Held(const char* name, int flags) {
  return OpenByName(name, flags, _SH_DENYRW);
}

// Puts `from` in place of `to` once. ReplaceFileW keeps the replaced file's attributes and access
// rights; a file that is not there yet is renamed.
bool ReplaceOnce(const std::wstring& source, const std::wstring& target) {
  if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
      ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return true;
  }
  return MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
         FailWithLastError();
}

// A virus scanner or a sync client opening the file for a moment is waited out.
bool Replace(const char* from, const char* to) {
  const std::wstring source = WideName(from);
  const std::wstring target = WideName(to);
  if (source.empty() || target.empty()) return false;
  return RetryWhileBusy([&] { return ReplaceOnce(source, target); },
                        [](unsigned ms) { Sleep(ms); });
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
  const std::wstring name = WideName(path);
  if (name.empty()) return false;
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FailWithLastError();
  const bool flushed = FlushFileBuffers(file) != 0 || FailWithLastError();
  CloseHandle(file);
  return flushed;
}

std::FILE* CreateNewFile(const char* name) {
  const int fd = OpenByName(name, _O_WRONLY | _O_CREAT | _O_EXCL, _SH_DENYWR);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

int CreateHeldFile(const char* name) {
  return Held(name, _O_WRONLY | _O_CREAT | _O_EXCL);
}

int HoldExistingFile(const char* name) {
  switch (KindOf(name)) {
    case FileKind::kRegular:
      break;
    case FileKind::kMissing:
      errno = ENOENT;
      return -1;
    case FileKind::kDirectory:
      errno = EISDIR;
      return -1;
    default:
      errno = EEXIST;
      return -1;
  }
  // Opened for writing though nothing is written: a read-only file is refused here, as on other
  // systems, instead of failing only at the replace.
  return Held(name, _O_WRONLY);
}

int OpenForWriting(const char* name) {
  return OpenByName(name, _O_WRONLY, _SH_DENYNO);
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
  const std::wstring source = WideName(from);
  const std::wstring target = WideName(to);
  if (source.empty() || target.empty()) return false;
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0 ||
         FailWithLastError();
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
