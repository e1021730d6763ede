// What a Slave replace does with the records it replaces: keeps them as NAME~ (or NAME.~N~) when
// the received ones differ, and says afterwards how they differ.
#pragma once

namespace talven {

struct ReceivedFile;

// Before the replace: pairs the records of the held file with the received ones, as --diff does,
// and picks the name the replaced file is kept under (received.backupName; empty when it is not to
// be kept: no file before, the same records, or --no-backup). false with errno set when a backup
// is due and no name can be had for it.
bool PlanKeptBackup(ReceivedFile& received);

// Says on standard error, in one line, what the committed replace changed; nothing when it replaced
// no file or did not happen.
void ReportReplacedRecords(const ReceivedFile& received);

// Says on standard error why the replaced file could not be kept, and that NAME is unchanged.
void ReportBackupNotKept(const ReceivedFile& received, int error);

}  // namespace talven
