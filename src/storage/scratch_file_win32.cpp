#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "names/system_error_win32.h"
#include "storage/scratch_file.h"

namespace talven {

namespace {

std::FILE* Failed() {
  errno = ErrnoForLastError();
  return nullptr;
}

}  // namespace

// The C library's tmpfile() creates its file in the root of the current drive, which only an
// administrator may write to on current Windows: the user's temporary folder is used instead.
std::FILE* OpenScratchFile() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return Failed();
  wchar_t name[MAX_PATH];
  // Creates the file under a name of its own; the handle below deletes it when it is closed.
  if (GetTempFileNameW(folder, L"tlv", 0, name) == 0) return Failed();
  const HANDLE handle =
      CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DeleteFileW(name);
    SetLastError(error);
    return Failed();
  }
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "w+b");
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace talven
