// The one rule a record of a clone file must pass to be sent or kept as a sound backup, with the
// reason when it does not. Both the check before sending and --check apply it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "serial/line_exchange.h"

namespace talven {

// Record text travels behind this prefix in one line of the line exchange, with its terminator:
// at most kRecordTextMax characters. RecordReader, which reads the records Master sends and checks,
// takes its limit from here.
inline constexpr char kRecordPrefix[] = "CLN ";
inline constexpr std::size_t kRecordPrefixLength = sizeof kRecordPrefix - 1;
inline constexpr std::size_t kRecordTextMax = kLineBufferSize - kRecordPrefixLength - 1;

enum class RecordFault {
  kNone,
  kTooLong,
  kNulByte,
  kNoChecksumField,
  kBadChecksumField,
  kTextAfterChecksum,
  kChecksumMismatch,
};

struct RecordCheck {
  RecordFault fault = RecordFault::kNone;
  std::uint16_t field = 0;  // the checksum field, read as the slave reads it (four digits at most)
  std::uint16_t body = 0;   // the checksum of the body
  std::size_t at = 0;       // kNulByte: where the NUL stands, from 1
  char shown[20] = {};      // kBadChecksumField, kTextAfterChecksum: the text in question
  bool secondRecord = false;  // kTextAfterChecksum: the text has a "~" field of its own
};

// The rule, on a record's text without its line end (every byte counts, NUL bytes too): at most
// kRecordTextMax characters, no NUL byte, a "~" checksum field of exactly four hexadecimal digits
// that ends the record, and the field equal to the checksum of the body. lineGoesOn tells that a
// reader stopped at its limit inside the line: the line is too long whatever text it gave.
// A record that passes is one the slave accepts too.
RecordCheck CheckRecord(std::string_view text, bool lineGoesOn = false);

// The reason for a fault, such as "checksum 0A1F does not match its record (0A2F)" or
// "no \"~\" checksum field". Returns what snprintf returns.
int FormatRecordFault(const RecordCheck& check, char* out, std::size_t capacity);

}  // namespace talven
