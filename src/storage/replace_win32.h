// What a failed replace on Windows means, decided apart from the calls so that it can be tested.
// Included by the Windows files of this floor and their tests only.
#pragma once

#include <windows.h>

#include <cerrno>

#include "names/system_error_win32.h"

namespace talven {

// Whether the file to be replaced is still there after ReplaceFileW failed with this error and no
// backup name was given: when the system could not move the replacement in, it has already taken
// the old file away.
inline bool ReplacedFileSurvives(DWORD replaceError) {
  return replaceError != ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// The errno a failed replace is told by: another program that has the file open is said as such
// (EBUSY), not as a refused permission.
inline int ErrnoForFailedReplace(DWORD error) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return EBUSY;
  SetLastError(error);
  return ErrnoForLastError();
}

}  // namespace talven
