// What a Slave replace does with the records it replaces: keeps them as NAME~ (or NAME.~N~) when
// the received ones differ, and says afterwards how they differ.
#pragma once

#include <string>

#include "storage/kept_backup.h"

namespace talven {

// How one replace keeps the file it replaces, and what it will say of it.
struct ReplacePlan {
  BackupControl control = BackupControl::kSimple;  // set by the session's options
  char backupName[4200] = {};                      // where the old file is kept; empty: nowhere
  std::string note;                                // what the replace changed, said afterwards
};

// Before the replace of `target` (held by this session, when replacesFile) by `partial`: pairs
// their records as --diff does, and picks the name the replaced file is kept under (empty when it
// is not to be kept: no file before, the same records, or --no-backup). `name` is the user's name
// of the file, for the note. false with errno set when a backup is due and no name can be had.
bool PlanKeptBackup(const char* name, const char* target, const char* partial, bool replacesFile,
                    ReplacePlan& plan);

// Says on standard error, in one line, what a committed replace changed; nothing when there is
// nothing to say.
void ReportReplacedRecords(const char* name, const ReplacePlan& plan);

// Says on standard error why the replaced file could not be kept, and that NAME is unchanged.
void ReportBackupNotKept(const char* name, const ReplacePlan& plan, int error);

}  // namespace talven
