#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "names/system_error_win32.h"
#include "names/wide_name_win32.h"
#include "storage/held_file.h"

namespace talven {

namespace {

// The handle shares reading, and deleting so that the file can be moved aside or removed while it
// is held; it shares no writing, which keeps every other session (and every other writer) out.
// The creation and the hold are one call: no file is made that another could take first.
HANDLE OpenHandle(const std::wstring& name, DWORD disposition) {
  return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

bool HeldFile::Open(const char* name, OpenRule rule, bool) {
  Close();
  const std::wstring wide = WideName(name);
  if (wide.empty()) {
    errno = EINVAL;
    return false;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (rule == OpenRule::kNew) {
      errno = EEXIST;
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      errno = EISDIR;
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      errno = ELOOP;
      return false;
    }
  }
  const DWORD disposition = rule == OpenRule::kNew        ? CREATE_NEW
                            : rule == OpenRule::kExisting ? OPEN_EXISTING
                                                          : OPEN_ALWAYS;
  SetLastError(ERROR_SUCCESS);
  const HANDLE handle = OpenHandle(wide, disposition);
  if (handle == INVALID_HANDLE_VALUE) return FailWithLastError();
  const bool created = disposition == CREATE_NEW ||
                       (disposition == OPEN_ALWAYS && GetLastError() != ERROR_ALREADY_EXISTS);
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    errno = EEXIST;
    return false;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    if (created) {
      FILE_DISPOSITION_INFO gone{TRUE};
      SetFileInformationByHandle(handle, FileDispositionInfo, &gone, sizeof gone);
    }
    CloseHandle(handle);
    errno = EMFILE;
    return false;
  }
  fd_ = fd;
  created_ = created;
  name_ = name;
  return true;
}

bool HeldFile::IsAt(const char* path) const {
  if (fd_ < 0) return false;
  const std::wstring wide = WideName(path);
  if (wide.empty()) return false;
  const HANDLE named =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  // A volume whose serial number cannot be had (wine's, for a file renamed while open) gives 0.
  const bool same = GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)), &a) &&
                    GetFileInformationByHandle(named, &b) &&
                    (a.dwVolumeSerialNumber == b.dwVolumeSerialNumber ||
                     a.dwVolumeSerialNumber == 0 || b.dwVolumeSerialNumber == 0) &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(named);
  return same;
}

bool HeldFile::ReadStart(char* out, std::size_t capacity, std::size_t& got) const {
  got = 0;
  if (_lseeki64(fd_, 0, SEEK_SET) != 0) return false;
  while (got < capacity) {
    const int read = _read(fd_, out + got, static_cast<unsigned>(capacity - got));
    if (read < 0) return false;
    if (read == 0) break;
    got += static_cast<std::size_t>(read);
  }
  return _lseeki64(fd_, 0, SEEK_SET) == 0;
}

bool HeldFile::Empty() {
  return _chsize_s(fd_, 0) == 0 && _lseeki64(fd_, 0, SEEK_SET) == 0;
}

bool HeldFile::Size(std::uint64_t& size) const {
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)), &length)) {
    return FailWithLastError();
  }
  size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

bool HeldFile::MoveTo(const char* to) {
  const std::wstring from = WideName(name_.c_str());
  const std::wstring target = WideName(to);
  if (from.empty() || target.empty()) {
    errno = EINVAL;
    return false;
  }
  // Allowed by the handle's delete sharing; the handle stays on the file under its new name.
  if (!MoveFileExW(from.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return FailWithLastError();
  }
  name_ = to;
  return true;
}

bool HeldFile::Remove() {
  const std::wstring wide = WideName(name_.c_str());
  // Marked for deletion; it goes when the handle closes, just below.
  const bool removed = !wide.empty() && (DeleteFileW(wide.c_str()) || FailWithLastError());
  const int error = errno;
  Close();
  errno = error;
  return removed;
}

void HeldFile::Close() {
  if (fd_ >= 0) _close(fd_);
  fd_ = -1;
  created_ = false;
}

std::FILE* HeldFile::ReleaseAsStream() {
  std::FILE* file = _fdopen(fd_, "wb");
  if (file != nullptr) Release();
  return file;
}

}  // namespace talven
