// Clone records as a scanner or a clone file may deliver them: any bytes, with or without "~".
// Checks the record operations against their definitions and that none reads past the record's end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "records/record.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "record: %s\n", what);
    std::abort();
  }
}

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::uint32_t LeadingHex(const char* text) {
  std::uint32_t value = 0;
  for (auto* p = reinterpret_cast<const unsigned char*>(text); HexDigit(*p) >= 0; ++p) {
    value = value * 16 + static_cast<std::uint32_t>(HexDigit(*p));
  }
  return value;
}

bool IsGraphic(unsigned char c) {
  return c > 0x20 && c < 0x7F;
}

// A NUL-terminated copy in an allocation of exactly that size.
std::unique_ptr<char[]> Copy(const char* text, std::size_t length) {
  auto copy = std::make_unique<char[]>(length + 1);
  std::memcpy(copy.get(), text, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto record = Copy(reinterpret_cast<const char*>(data), size);
  const char* text = record.get();
  const std::size_t length = std::strlen(text);
  const char* tilde = std::strchr(text, '~');

  Require(static_cast<std::uint32_t>(talven::HexValue(text)) == LeadingHex(text), "HexValue");
  Require(talven::RecordKey(text) == talven::HexValue(text), "RecordKey");

  const std::uint16_t field =
      tilde == nullptr ? 0 : static_cast<std::uint16_t>(LeadingHex(tilde + 1));
  Require(talven::ChecksumFieldValue(text) == field, "ChecksumFieldValue");

  std::uint16_t sum = 253;
  for (const char* p = text; *p != '\0' && *p != '~'; ++p) {
    sum = static_cast<std::uint16_t>(sum + static_cast<signed char>(*p));
  }
  Require(talven::RecordChecksum(text) == sum, "RecordChecksum");

  const int valid = talven::RecordChecksumValid(text);
  Require(valid == 0 || valid == 1, "RecordChecksumValid answers 0 or 1");
  if (tilde == nullptr) Require(valid == 0, "a record without a checksum field is valid");
  // Exactly four digits after "~": both readers of the field agree.
  if (tilde != nullptr && std::strlen(tilde + 1) == 4 && HexDigit(tilde[1]) >= 0 &&
      HexDigit(tilde[2]) >= 0 && HexDigit(tilde[3]) >= 0 && HexDigit(tilde[4]) >= 0) {
    Require(valid == (sum == field ? 1 : 0), "RecordChecksumValid with four digits");
  }

  // Trimming cuts at the earliest LF of the trailing run of non-graphic bytes, nothing else.
  const auto trimmed = Copy(text, length);
  talven::TrimTrailingNewlines(trimmed.get());
  std::size_t runStart = length;
  while (runStart > 0 && !IsGraphic(static_cast<unsigned char>(text[runStart - 1]))) --runStart;
  const void* lf = std::memchr(text + runStart, '\n', length - runStart);
  const std::size_t expected =
      lf == nullptr ? length : static_cast<std::size_t>(static_cast<const char*>(lf) - text);
  Require(std::strlen(trimmed.get()) == expected, "TrimTrailingNewlines length");
  Require(std::memcmp(trimmed.get(), text, expected) == 0, "TrimTrailingNewlines changed the text");
  return 0;
}
