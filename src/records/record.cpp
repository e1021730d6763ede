#include "records/record.h"

#include <cstdio>
#include <cstring>

namespace talven {

namespace {

int HexDigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsGraphic(unsigned char c) {
  return c >= 0x21 && c <= 0x7E;
}

}  // namespace

std::int32_t HexValue(const char* text) {
  std::uint32_t value = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
       HexDigitValue(*p) >= 0; ++p) {
    value = (value << 4) + static_cast<std::uint32_t>(HexDigitValue(*p));
  }
  return static_cast<std::int32_t>(value);
}

std::uint16_t ChecksumFieldValue(const char* record) {
  const char* tilde = std::strchr(record, '~');
  if (tilde == nullptr) return 0;
  return static_cast<std::uint16_t>(HexValue(tilde + 1));
}

std::uint16_t RecordChecksum(const char* record) {
  return BodyChecksum(std::string_view(record, std::strcspn(record, "~")));
}

std::uint16_t BodyChecksum(std::string_view body) {
  std::uint16_t sum = 253;
  for (const char c : body) sum = static_cast<std::uint16_t>(sum + static_cast<signed char>(c));
  return sum;
}

RecordSum SplitRecordSum(std::string_view text) {
  const std::size_t tilde = text.find('~');
  if (tilde == std::string_view::npos) return {};
  return {true, BodyChecksum(text.substr(0, tilde)), text.substr(tilde + 1)};
}

bool RecordChecksumValid(const char* record) {
  const RecordSum sum = SplitRecordSum(record);
  if (!sum.hasField) return false;
  // The field runs to the record's terminator.
  unsigned short field = 0;
  if (std::sscanf(sum.field.data(), "%4hx", &field) != 1) field = 0;
  return sum.body == field;
}

void TrimTrailingNewlines(char* line, char remove) {
  TrimTrailingNewlines(line, std::strlen(line), remove);
}

std::size_t TrimTrailingNewlines(char* text, std::size_t length, char remove) {
  std::size_t end = length;
  for (std::size_t index = length;
       index > 0 && !IsGraphic(static_cast<unsigned char>(text[index - 1])); --index) {
    if (text[index - 1] == remove) end = index - 1;
  }
  text[end] = '\0';
  return end;
}

}  // namespace talven
