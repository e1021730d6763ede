// The rule a received record must pass before the slave transfer stores it, with the reason when it
// does not, for checking a clone file before it is sent or kept.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talven {

enum class RecordFault { kNone, kNoChecksumField, kChecksumMismatch };

struct RecordCheck {
  RecordFault fault = RecordFault::kNone;
  std::uint16_t field = 0;  // the checksum field, read as the slave reads it (four digits at most)
  std::uint16_t body = 0;   // the checksum of the body
};

// Agrees with RecordChecksumValid: kNone exactly when that answers 1.
RecordCheck CheckRecord(const char* record);

// The reason for a fault: "checksum 0A1F does not match its record (0A2F)" or
// "no \"~\" checksum field". Returns what snprintf returns.
int FormatRecordFault(const RecordCheck& check, char* out, std::size_t capacity);

}  // namespace talven
