// Keeping the file a replace puts aside: NAME~, or NAME.~N~ with N one above the highest there, as
// editors and the file tools name them. The old file is kept in the same step as the replace, so
// that at every moment its data is under NAME or under the backup name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "storage/held_file.h"

namespace talven {

enum class BackupControl { kNone, kSimple, kNumbered };

// "simple" or "numbered" (--no-backup gives kNone); false for any other word.
bool ParseBackupControl(std::string_view word, BackupControl& control);

// N when `entry` is "BASE.~N~" (N decimal digits, more than 0), else 0.
std::uint64_t BackupNumberOf(std::string_view base, std::string_view entry);

// The name the file `target` is kept under: "TARGET~", or for kNumbered "TARGET.~N~" with N one
// above the highest in its folder. false with errno set when it does not fit or the folder cannot
// be read.
bool BackupNameOf(const char* target, BackupControl control, char* out, std::size_t capacity);

// Opens for reading a file this session holds (a HeldFile), which other sessions cannot open while
// it is held.
std::FILE* ReadHeldFile(const char* name);

// What failed in ReplaceKeepingBackup: `to` is unchanged either way.
enum class ReplaceFailure { kNone, kBackup, kReplace };

// ReplaceHeldFile that first keeps the file `to` (held by toFile) under `backup`, replacing an
// older file there whole: on POSIX a hard link to a temporary name renamed to `backup` (a copy
// where the file system has no hard links), on Windows the backup name of ReplaceFileW. With
// backup nullptr, or no file held at `to`, nothing is kept. errno says why a step failed, and
// targetGone whether the system took `to` away before it failed (as ReplaceHeldFile).
ReplaceFailure ReplaceKeepingBackup(HeldFile& fromFile, HeldFile& toFile, const char* to,
                                    const char* backup, bool& targetGone);

}  // namespace talven
