#include "records/clone_check.h"

#include "records/record_check.h"
#include "records/record_reader.h"

namespace talven {

namespace {

void Keep(CloneFileCheck& check, const LineFault& fault) {
  if (check.faultCount < CloneFileCheck::kFaultsKept) check.faults[check.faultCount] = fault;
  ++check.faultCount;
}

}  // namespace

CloneFileCheck CheckCloneFile(std::FILE* file) {
  CloneFileCheck check;
  RecordReader reader(file);
  while (reader.Next()) {
    // The rest of a line that was too long: judged with its first record.
    if (reader.piece() > 0) continue;
    ++check.records;
    const RecordCheck record = CheckRecord(reader.record(), reader.cut());
    if (record.fault == RecordFault::kNone) continue;
    LineFault fault;
    fault.line = check.records;
    FormatRecordFault(record, fault.reason, sizeof fault.reason);
    Keep(check, fault);
  }
  return check;
}

}  // namespace talven
