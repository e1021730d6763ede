#include "serial/link_settings.h"

#include <array>

namespace talven {
namespace {

// Index 0 of every table means "leave as it is"; the tables start at index 1.
constexpr std::array<std::uint32_t, 16> kBaudRates = {0,     110,    300,    600,   1200,  2400,
                                                      4800,  9600,   14400,  19200, 38400, 56000,
                                                      57600, 115200, 128000, 256000};

constexpr std::uint32_t Field(LinkSettingsWord word, unsigned shift, std::uint32_t mask) {
  return (word >> shift) & mask;
}

constexpr bool Bit(LinkSettingsWord word, unsigned bit) {
  return ((word >> bit) & 1u) != 0;
}

}  // namespace

LinkSettings DecodeLinkSettings(LinkSettingsWord word) {
  LinkSettings s;

  if (const std::uint32_t baud = Field(word, 0, 0xF); baud != 0) s.baudRate = kBaudRates[baud];

  if (const std::uint32_t stop = Field(word, 4, 0x3); stop != 0) {
    s.stopBits = static_cast<StopBits>(stop - 1);
  }

  if (const std::uint32_t parity = Field(word, 8, 0x7); parity >= 6) {
    s.undefinedIndex = true;
  } else if (parity != 0) {
    s.parity = static_cast<Parity>(parity - 1);
  }

  if (const std::uint32_t data = Field(word, 12, 0x7); data >= 6) {
    s.undefinedIndex = true;
  } else if (data != 0) {
    s.dataBits = static_cast<std::uint8_t>(data + 3);
  }

  if (const std::uint32_t dtr = Field(word, 16, 0x3); dtr != 0) {
    s.dtr = static_cast<DtrControl>(dtr - 1);
  }

  if (const std::uint32_t rts = Field(word, 20, 0x7); rts >= 5) {
    s.undefinedIndex = true;
  } else if (rts != 0) {
    s.rts = static_cast<RtsControl>(rts - 1);
  }

  // The "off" bit is applied after the "on" bit, so a word with both ends up off.
  if (Bit(word, 24)) s.ctsOutputFlow = true;
  if (Bit(word, 25)) s.ctsOutputFlow = false;
  if (Bit(word, 26)) s.dsrOutputFlow = true;
  if (Bit(word, 27)) s.dsrOutputFlow = false;

  switch (Field(word, 28, 0x3)) {
    case 1:
      s.xonXoff = true;
      break;
    case 2:
      s.xonXoff = false;
      break;
    default:  // 0 and 3 leave it alone
      break;
  }
  return s;
}

}  // namespace talven
