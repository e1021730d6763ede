// Questions asked of clone files without a scanner: is one sound (--check), and what changed
// between two (--diff). Each answers with the program's exit status.
#pragma once

#include <cstdio>

#include "records/record_diff.h"

namespace talven {

inline constexpr int kFilesAgree = 0;        // every record valid; the two files hold the same
inline constexpr int kFilesDisagree = 1;     // a record not valid; the files differ
inline constexpr int kFileUnreadable = 255;  // a file could not be opened or read

// Which file could not be read, and the errno value that says why.
struct ReadFailure {
  const char* name = nullptr;
  int error = 0;
};

// The check's report goes to out; a read failure answers kFileUnreadable and fills failure.
int ReportCloneFileCheck(const char* name, std::FILE* file, std::FILE* out, ReadFailure& failure);
// The same for the diff; each file is read once from its start, in order (OLD, when it cannot go
// back, into a temporary copy), and the notes on either file go to notes when it is given.
int DiffCloneFiles(const char* oldName, std::FILE* oldFile, const char* newName, std::FILE* newFile,
                   std::FILE* out, ReadFailure& failure, DiffTally& tally,
                   std::FILE* notes = nullptr);

// Open the files, report to standard output and a read failure to standard error.
int RunCheckCommand(const char* path);
int RunDiffCommand(const char* oldPath, const char* newPath);

}  // namespace talven
