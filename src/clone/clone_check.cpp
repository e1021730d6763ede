#include "clone/clone_check.h"

#include "clone/clone_file.h"
#include "clone/record.h"
#include "clone/record_check.h"

namespace talven {

namespace {

// Why a record would be refused, or an empty text when it passes.
void RecordFaultOf(const char* record, char* reason, std::size_t capacity) {
  reason[0] = '\0';
  const RecordCheck check = CheckRecord(record);
  if (check.fault != RecordFault::kNone) FormatRecordFault(check, reason, capacity);
}

void Keep(CloneFileCheck& check, const LineFault& fault) {
  if (check.faultCount < CloneFileCheck::kFaultsKept) check.faults[check.faultCount] = fault;
  ++check.faultCount;
}

}  // namespace

CloneFileCheck CheckCloneFile(std::FILE* file, char* buffer, std::size_t capacity) {
  CloneFileCheck check;
  // The fault of the line being read is kept until the next read shows whether the line went on.
  LineFault current;
  bool lineGoesOn = false;
  for (;;) {
    const std::size_t length = ReadTextLine(file, buffer, capacity);
    if (length == 0) break;
    const bool ended = buffer[length - 1] == '\n';
    if (lineGoesOn) {
      std::snprintf(current.reason, sizeof current.reason, "longer than %zu characters",
                    capacity - 1);
      lineGoesOn = !ended;
      continue;
    }
    if (current.reason[0] != '\0') Keep(check, current);
    current.line = ++check.records;
    lineGoesOn = !ended && length + 1 == capacity;
    TrimTrailingNewlines(buffer);
    RecordFaultOf(buffer, current.reason, sizeof current.reason);
  }
  if (current.reason[0] != '\0') Keep(check, current);
  return check;
}

}  // namespace talven
