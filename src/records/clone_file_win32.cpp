#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "records/clone_file.h"
#include "storage/scratch_file.h"

namespace talven {

std::FILE* OpenSessionFile(const char* name, const char* mode) {
  const bool writing = mode[0] == 'w' || mode[1] == '+';
  char binaryMode[8];
  std::snprintf(binaryMode, sizeof binaryMode, "%sb", mode);
  return _fsopen(name, binaryMode, writing ? _SH_DENYRW : _SH_DENYWR);
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
