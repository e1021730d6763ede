#include "clone/replaced_records.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "process/exit_path.h"
#include "records/record_tally.h"
#include "storage/kept_backup.h"

namespace talven {

namespace {

using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The records of the held file against the received ones; false with errno set when either could
// not be read.
bool TallyReplace(const char* target, const char* partial, DiffTally& tally) {
  FileHandle before(ReadHeldFile(target), &std::fclose);
  if (before == nullptr) return false;
  FileHandle after(ReadHeldFile(partial), &std::fclose);
  if (after == nullptr) return false;
  try {
    return TallyRecordFiles(before.get(), after.get(), tally);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
}

}  // namespace

bool PlanKeptBackup(const char* name, const char* target, const char* partial, bool replacesFile,
                    ReplacePlan& plan) {
  plan.backupName[0] = '\0';
  plan.note.clear();
  if (!replacesFile) return true;  // a first backup replaces nothing
  DiffTally tally;
  errno = 0;
  const bool counted = TallyReplace(target, partial, tally);
  const int countError = errno != 0 ? errno : EIO;
  if (counted && !tally.differs()) {
    const auto records = static_cast<unsigned long long>(tally.same);
    plan.note = "the same " + std::to_string(records) + (records == 1 ? " record" : " records") +
                " as before";
    return true;
  }
  const std::string counts =
      counted ? FormatDiffSummary(tally) + " against the backup it replaced" : std::string();
  if (plan.control == BackupControl::kNone) {
    if (counted) plan.note = counts + ", not kept (--no-backup)";
    return true;
  }
  if (!BackupNameOf(target, plan.control, plan.backupName, sizeof plan.backupName)) {
    plan.backupName[0] = '\0';
    return false;
  }
  const std::string kept = plan.backupName;
  plan.note = counted ? counts + ", kept as " + kept + " (talven --diff " + kept + " " + name +
                            " shows them)"
                      : std::string("the backup it replaced is kept as ") + kept +
                            "; its records could not be compared with the new ones (" +
                            std::strerror(countError) + ")";
  return true;
}

void ReportReplacedRecords(const char* name, const ReplacePlan& plan) {
  if (!plan.note.empty()) ReportError(name, plan.note.c_str());
}

void ReportBackupNotKept(const char* name, const ReplacePlan& plan, int error) {
  const std::string reason = std::string(std::strerror(error != 0 ? error : EIO)) + "; " + name +
                             " was left as it was, as the backup it holds could not be kept here "
                             "(--no-backup replaces it without keeping one)";
  ReportError(plan.backupName[0] != '\0' ? plan.backupName : name, reason.c_str());
}

}  // namespace talven
