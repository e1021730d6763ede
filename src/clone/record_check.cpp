#include "clone/record_check.h"

#include <cstdio>
#include <cstring>

#include "clone/record.h"

namespace talven {

RecordCheck CheckRecord(const char* record) {
  RecordCheck check;
  const char* tilde = std::strchr(record, '~');
  if (tilde == nullptr) {
    check.fault = RecordFault::kNoChecksumField;
    return check;
  }
  unsigned short field = 0;
  if (std::sscanf(tilde + 1, "%4hx", &field) != 1) field = 0;
  check.field = field;
  check.body = RecordChecksum(record);
  if (check.field != check.body) check.fault = RecordFault::kChecksumMismatch;
  return check;
}

int FormatRecordFault(const RecordCheck& check, char* out, std::size_t capacity) {
  switch (check.fault) {
    case RecordFault::kNoChecksumField:
      return std::snprintf(out, capacity, "no \"~\" checksum field");
    case RecordFault::kChecksumMismatch:
      return std::snprintf(out, capacity, "checksum %04X does not match its record (%04X)",
                           unsigned{check.field}, unsigned{check.body});
    case RecordFault::kNone:
      break;
  }
  return std::snprintf(out, capacity, "valid");
}

}  // namespace talven
