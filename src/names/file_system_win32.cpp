#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "names/file_system.h"
#include "names/system_error_win32.h"
#include "names/wide_name_win32.h"

namespace talven {

FileKind KindOf(const char* name, bool followLinks) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) return FileKind::kMissing;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (!followLinks && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return FileKind::kLink;
  }
  // Opened for no access at all, which no other program's share mode refuses, to tell a device
  // (NUL, CON, a port) or a pipe from a file.
  const HANDLE handle =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kDirectory : FileKind::kRegular;
  }
  const DWORD type = GetFileType(handle);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (type == FILE_TYPE_CHAR) return FileKind::kDevice;
  if (!known) return FileKind::kOther;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kDirectory
                                                                 : FileKind::kRegular;
}

std::FILE* OpenFile(const char* name, const char* mode) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) return nullptr;
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  std::FILE* file = _wfopen(wide.c_str(), wideMode.c_str());
  if (file == nullptr && errno == EACCES && _doserrno == ERROR_SHARING_VIOLATION) errno = EBUSY;
  return file;
}

const char* FileErrorText(int error) {
  return error == EBUSY ? "in use by another program" : std::strerror(error);
}

}  // namespace talven
