// Clone records: "body~CCCC", one line of text whose checksum field covers its body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talven {

// Value of the leading hexadecimal digits; digits beyond the eighth shift the earliest ones out.
std::int32_t HexValue(const char* text);

// The 16-bit value of every hex digit after the first "~"; 0 when the record has no "~".
std::uint16_t ChecksumFieldValue(const char* record);

// 253 plus every body byte taken as a signed 8-bit value, modulo 65536.
std::uint16_t RecordChecksum(const char* record);
// The same sum over a body given whole (the text before the "~").
std::uint16_t BodyChecksum(std::string_view body);

// The sum check every record rule makes: the checksum of the body before the first "~" and the
// text of the checksum field after it. hasField is false for a record without "~".
struct RecordSum {
  bool hasField = false;
  std::uint16_t body = 0;
  std::string_view field;
};
RecordSum SplitRecordSum(std::string_view text);

// Slave mode's test of a received record: true when the checksum of the body equals the field
// read as scanf reads "%4hx" (at most four characters); a record without "~" is invalid. The rule
// for stored records (CheckRecord) makes the same sum check on a stricter field.
bool RecordChecksumValid(const char* record);

inline std::int32_t RecordKey(const char* record) {
  return HexValue(record);
}

// Removes the line end in place: walks back over trailing non-graphic bytes, cutting at each LF
// passed.
void TrimTrailingNewlines(char* line, char remove = '\n');
// The same on a text of known length, which may hold NUL bytes; answers the new length.
std::size_t TrimTrailingNewlines(char* text, std::size_t length, char remove = '\n');

}  // namespace talven
