#include <share.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "records/clone_file.h"
#include "storage/wide_name_win32.h"

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

std::FILE* KeepFileBytes(std::FILE* file, std::vector<char>&) {
  // Opened without write sharing: no other program can change it while it is open.
  if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
  std::clearerr(file);
  return file;
}

}  // namespace talven
