#include <io.h>
#include <windows.h>

#include <cstdio>

#include "process/platform.h"

namespace talven {

bool ErrorsShareStandardOutput() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE || out == nullptr ||
      err == nullptr) {
    return false;
  }
  DWORD mode = 0;
  // Two console handles write to the one console window.
  if (GetConsoleMode(out, &mode) && GetConsoleMode(err, &mode)) return true;
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (GetFileInformationByHandle(out, &a) && GetFileInformationByHandle(err, &b)) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  }
  // Pipes have no file identity; a handle duplicated from the other is the usual 2>&1.
  return out == err;
}

bool StandardInputIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

}  // namespace talven
