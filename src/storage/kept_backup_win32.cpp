#include <share.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "names/system_error_win32.h"
#include "names/wide_name_win32.h"
#include "storage/durable_file.h"
#include "storage/kept_backup.h"

namespace talven {

namespace {

// Whether ReplaceFileW can put the replaced file under `backup`: nothing there, or a file that may
// be deleted. Asked before anything moves, so that a backup that cannot be kept stops the replace
// with `to` untouched.
bool BackupNameTakes(const std::wstring& name) {
  const wchar_t* backup = name.c_str();
  const DWORD attributes = GetFileAttributesW(backup);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    errno = EACCES;
    return false;
  }
  const HANDLE file =
      CreateFileW(backup, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = ErrnoForLastError();
    return false;
  }
  CloseHandle(file);
  return true;
}

}  // namespace

std::FILE* ReadHeldFile(const char* name) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) return nullptr;
  // The holds let others read (only): this session's own reads.
  return _wfsopen(wide.c_str(), L"rb", _SH_DENYNO);
}

ReplaceFailure ReplaceKeepingBackup(HeldFile& fromFile, HeldFile& toFile, const char* to,
                                    const char* backup, bool& targetGone) {
  targetGone = false;
  if (backup == nullptr || !toFile.IsOpen()) {
    errno = 0;
    return ReplaceHeldFile(fromFile, toFile, to, targetGone) ? ReplaceFailure::kNone
                                                             : ReplaceFailure::kReplace;
  }
  const std::wstring source = WideName(fromFile.name());
  const std::wstring target = WideName(to);
  if (source.empty() || target.empty()) return ReplaceFailure::kReplace;
  const std::wstring kept = WideName(backup);
  if (kept.empty() || !BackupNameTakes(kept)) return ReplaceFailure::kBackup;
  // Windows renames no file that is open without delete sharing: the holds end just before.
  fromFile.Close();
  toFile.Close();
  // The replaced file keeps its attributes and access rights under the backup name.
  if (ReplaceFileW(target.c_str(), source.c_str(), kept.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr)) {
    return ReplaceFailure::kNone;
  }
  const DWORD code = GetLastError();
  errno = ErrnoForLastError();
  const int error = errno;
  // The old file went to the backup name, the new one did not follow: the old one goes back.
  if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
    MoveFileExW(kept.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
  errno = error;
  return ReplaceFailure::kReplace;
}

}  // namespace talven
