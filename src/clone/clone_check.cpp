#include "clone/clone_check.h"

#include <cstring>

#include "clone/clone_file.h"
#include "clone/record.h"

namespace talven {

namespace {

// Why a record would be refused, or an empty text when it passes.
void RecordFaultOf(const char* record, char* reason, std::size_t capacity) {
  reason[0] = '\0';
  if (RecordChecksumValid(record) == 1) return;
  const char* tilde = std::strchr(record, '~');
  if (tilde == nullptr) {
    std::snprintf(reason, capacity, "no checksum field (~CCCC at the end)");
    return;
  }
  // The field as the checksum test reads it: at most four hex digits.
  unsigned short field = 0;
  if (std::sscanf(tilde + 1, "%4hx", &field) != 1) field = 0;
  std::snprintf(reason, capacity, "checksum %04X does not match its record (%04X)", unsigned{field},
                unsigned{RecordChecksum(record)});
}

void Keep(CloneFileCheck& check, const RecordFault& fault) {
  if (check.faultCount < CloneFileCheck::kFaultsKept) check.faults[check.faultCount] = fault;
  ++check.faultCount;
}

}  // namespace

CloneFileCheck CheckCloneFile(std::FILE* file, char* buffer, std::size_t capacity) {
  CloneFileCheck check;
  // The fault of the line being read is kept until the next read shows whether the line went on.
  RecordFault current;
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
