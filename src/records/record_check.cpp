#include "records/record_check.h"

#include <cstdio>

#include "records/record.h"

namespace talven {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to the first 16 characters, each byte that is no printable character shown as "?".
void Show(std::string_view text, char (&shown)[20]) {
  std::size_t length = 0;
  for (const char c : text.substr(0, 16)) {
    shown[length++] = c >= 0x20 && c <= 0x7E ? c : '?';
  }
  if (text.size() > 16) {
    shown[length++] = '.';
    shown[length++] = '.';
    shown[length++] = '.';
  }
  shown[length] = '\0';
}

}  // namespace

RecordCheck CheckRecord(std::string_view text, bool lineGoesOn) {
  RecordCheck check;
  if (lineGoesOn || text.size() > kRecordTextMax) {
    check.fault = RecordFault::kTooLong;
    return check;
  }
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) {
    check.fault = RecordFault::kNulByte;
    check.at = nul + 1;
    return check;
  }
  const RecordSum sum = SplitRecordSum(text);
  if (!sum.hasField) {
    check.fault = RecordFault::kNoChecksumField;
    return check;
  }
  const std::string_view field = sum.field;
  std::size_t digits = 0;
  unsigned value = 0;
  for (; digits < field.size() && digits < 4 && HexDigit(field[digits]) >= 0; ++digits) {
    value = value * 16 + static_cast<unsigned>(HexDigit(field[digits]));
  }
  check.field = static_cast<std::uint16_t>(value);
  check.body = sum.body;
  if (digits < 4) {
    check.fault = RecordFault::kBadChecksumField;
    Show(field, check.shown);
  } else if (field.size() > 4) {
    check.fault = RecordFault::kTextAfterChecksum;
    Show(field.substr(4), check.shown);
    check.secondRecord = field.find('~', 4) != std::string_view::npos;
  } else if (check.field != check.body) {
    check.fault = RecordFault::kChecksumMismatch;
  }
  return check;
}

int FormatRecordFault(const RecordCheck& check, char* out, std::size_t capacity) {
  switch (check.fault) {
    case RecordFault::kTooLong:
      return std::snprintf(out, capacity, "longer than %zu characters", kRecordTextMax);
    case RecordFault::kNulByte:
      return std::snprintf(out, capacity,
                           "a NUL byte at character %zu; a transfer sends only the text before it",
                           check.at);
    case RecordFault::kNoChecksumField:
      return std::snprintf(out, capacity, "no \"~\" checksum field");
    case RecordFault::kBadChecksumField:
      return std::snprintf(out, capacity, "checksum field \"%s\" is not four hexadecimal digits",
                           check.shown);
    case RecordFault::kTextAfterChecksum:
      return std::snprintf(out, capacity, "\"%s\" follows the checksum field%s", check.shown,
                           check.secondRecord
                               ? " (two records on one line: do lines end with CR alone?)"
                               : "; a record ends with its four digits");
    case RecordFault::kChecksumMismatch:
      return std::snprintf(out, capacity, "checksum %04X does not match its record (%04X)",
                           unsigned{check.field}, unsigned{check.body});
    case RecordFault::kNone:
      break;
  }
  return std::snprintf(out, capacity, "valid");
}

}  // namespace talven
