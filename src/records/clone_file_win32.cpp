#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "names/wide_name_win32.h"
#include "records/clone_file.h"
#include "storage/scratch_file.h"

namespace talven {

std::FILE* OpenSessionFile(const char* name, const char* mode) {
  const bool writing = mode[0] == 'w' || mode[1] == '+';
  const std::wstring wide = WideName(name);
  if (wide.empty()) return nullptr;
  const std::wstring binaryMode =
      std::wstring(mode, mode + std::char_traits<char>::length(mode)) + L"b";
  std::FILE* file = _wfsopen(wide.c_str(), binaryMode.c_str(), writing ? _SH_DENYRW : _SH_DENYWR);
  // Held open by another program (or another session) without sharing.
  if (file == nullptr && errno == EACCES &&
      (_doserrno == ERROR_SHARING_VIOLATION || _doserrno == ERROR_LOCK_VIOLATION)) {
    errno = EBUSY;
  }
  return file;
}

std::FILE* StandardInputBytes() {
  _setmode(_fileno(stdin), _O_BINARY);
  return stdin;
}

std::FILE* KeepFileBytes(std::FILE* file, std::vector<char>&) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(handle, &size) && static_cast<std::uint64_t>(size.QuadPart) > kKeptBytesMax) {
      errno = EFBIG;
      return nullptr;
    }
    // Opened without write sharing: no other program can change it while it is open.
    if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
    std::clearerr(file);
    return file;
  }
  // A pipe or a device is copied, as far as the bound, to a file of its own, which is then read.
  std::FILE* copy = OpenScratchFile();
  if (copy == nullptr) return nullptr;
  char block[8192];
  std::size_t kept = 0;
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
    if (got > kKeptBytesMax - kept) {
      std::fclose(copy);
      errno = EFBIG;
      return nullptr;
    }
    kept += got;
    if (std::fwrite(block, 1, got, copy) != got) break;
  }
  // An empty stream reads as one that holds only its end mark.
  if (kept == 0) std::fputc(kEndOfFileMark, copy);
  if (std::ferror(file) != 0 || std::ferror(copy) != 0 || std::fseek(copy, 0, SEEK_SET) != 0) {
    if (errno == 0) errno = EIO;
    std::fclose(copy);
    return nullptr;
  }
  return copy;
}

}  // namespace talven
