#include "clone/clone_check.h"

#include "clone/record_check.h"
#include "clone/record_reader.h"

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
  // The fault of a line is kept until the next record shows whether the line went on.
  LineFault current;
  while (reader.Next()) {
    if (reader.piece() > 0) {
      std::snprintf(current.reason, sizeof current.reason, "longer than %zu characters",
                    kSentRecordMax);
      continue;
    }
    if (current.reason[0] != '\0') Keep(check, current);
    current = LineFault{};
    current.line = ++check.records;
    const RecordCheck record = CheckRecord(reader.text());
    if (record.fault != RecordFault::kNone) {
      FormatRecordFault(record, current.reason, sizeof current.reason);
    }
  }
  if (current.reason[0] != '\0') Keep(check, current);
  return check;
}

}  // namespace talven
