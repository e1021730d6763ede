#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "names/system_error_win32.h"
#include "names/wide_name_win32.h"
#include "storage/durable_file.h"
#include "storage/replace_retry.h"
#include "storage/replace_win32.h"

namespace talven {

namespace {

// One try of putting `from` in place of `to`: ReplaceFileW where `to` is there, which keeps its
// attributes and access rights, else (or when that fails) a rename. The system's errors of both.
bool ReplaceOnce(const std::wstring& source, const std::wstring& target, DWORD& replaceError,
                 DWORD& moveError) {
  replaceError = ERROR_SUCCESS;
  if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      return true;
    }
    replaceError = GetLastError();
  }
  if (MoveFileExW(source.c_str(), target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  moveError = GetLastError();
  // A program that has the file open is the reason the replace gave, whatever the rename says.
  errno = ErrnoForFailedReplace(ErrnoForFailedReplace(replaceError) == EBUSY ? replaceError
                                                                             : moveError);
  return false;
}

// Puts `from` in place of `to`; a virus scanner or a sync client that has `to` open for a moment
// is waited out. targetGone tells a failure after which `to` is no longer there.
bool Replace(const char* from, const char* to, bool& targetGone) {
  targetGone = false;
  const std::wstring source = WideName(from);
  const std::wstring target = WideName(to);
  if (source.empty() || target.empty()) {
    errno = EINVAL;
    return false;
  }
  const bool existed = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
  DWORD replaceError = ERROR_SUCCESS;
  DWORD moveError = ERROR_SUCCESS;
  if (RetryWhileBusy([&] { return ReplaceOnce(source, target, replaceError, moveError); },
                     [](unsigned ms) { Sleep(ms); })) {
    return true;
  }
  const int error = errno;
  targetGone = existed && (!ReplacedFileSurvives(replaceError) ||
                           GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES);
  errno = error;
  return false;
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
  HeldFile file;
  return file.Open(name, OpenRule::kNew) ? file.ReleaseAsStream() : nullptr;
}

int OpenForWriting(const char* name) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) return -1;
  int fd = -1;
  return _wsopen_s(&fd, wide.c_str(), _O_WRONLY | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE) == 0
             ? fd
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
void TakeAccessOf(int, int, const char*) {}

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

bool ReplaceHeldFile(HeldFile& fromFile, HeldFile& toFile, const char* to, bool& targetGone) {
  const std::string from = fromFile.name();
  fromFile.Close();
  toFile.Close();
  return Replace(from.c_str(), to, targetGone);
}

// Links on Windows are rare and are not followed: the name given is the file replaced.
bool ResolveLinks(const char* name, char* out, std::size_t capacity) {
  if (std::snprintf(out, capacity, "%s", name) < static_cast<int>(capacity)) return true;
  errno = ENAMETOOLONG;
  return false;
}

}  // namespace talven
