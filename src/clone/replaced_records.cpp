#include "clone/replaced_records.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "clone/received_file.h"
#include "process/exit_path.h"
#include "records/record_tally.h"
#include "storage/kept_backup.h"

namespace talven {

namespace {

using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The records of the held file against the received ones; false with errno set when either could
// not be read.
bool TallyReplace(const ReceivedFile& received, DiffTally& tally) {
  FileHandle before(ReadHeldFile(received.target), &std::fclose);
  if (before == nullptr) return false;
  FileHandle after(ReadHeldFile(received.partialName), &std::fclose);
  if (after == nullptr) return false;
  try {
    return TallyRecordFiles(before.get(), after.get(), tally);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
}

}  // namespace

bool PlanKeptBackup(ReceivedFile& received) {
  received.backupName[0] = '\0';
  received.replaceNote.clear();
  if (received.guard < 0) return true;  // a first backup replaces nothing
  DiffTally tally;
  errno = 0;
  const bool counted = TallyReplace(received, tally);
  const int countError = errno != 0 ? errno : EIO;
  if (counted && !tally.differs()) {
    const auto records = static_cast<unsigned long long>(tally.same);
    received.replaceNote = "the same " + std::to_string(records) +
                           (records == 1 ? " record" : " records") + " as before";
    return true;
  }
  const std::string counts =
      counted ? FormatDiffSummary(tally) + " against the backup it replaced" : std::string();
  if (received.backup == BackupControl::kNone) {
    if (counted) received.replaceNote = counts + ", not kept (--no-backup)";
    return true;
  }
  if (!BackupNameOf(received.target, received.backup, received.backupName,
                    sizeof received.backupName)) {
    received.backupName[0] = '\0';
    return false;
  }
  const std::string kept = received.backupName;
  received.replaceNote = counted ? counts + ", kept as " + kept + " (talven --diff " + kept + " " +
                                       received.name + " shows them)"
                                 : std::string("the backup it replaced is kept as ") + kept +
                                       "; its records could not be compared with the new ones (" +
                                       std::strerror(countError) + ")";
  return true;
}

void ReportReplacedRecords(const ReceivedFile& received) {
  if (!received.committed || received.replaceNote.empty()) return;
  ReportError(received.name, received.replaceNote.c_str());
}

void ReportBackupNotKept(const ReceivedFile& received, int error) {
  const std::string reason = std::string(std::strerror(error != 0 ? error : EIO)) + "; " +
                             received.name +
                             " was left as it was, as the backup it holds could not be kept here "
                             "(--no-backup replaces it without keeping one)";
  ReportError(received.backupName[0] != '\0' ? received.backupName : received.name, reason.c_str());
}

}  // namespace talven
