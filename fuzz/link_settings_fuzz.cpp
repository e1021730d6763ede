// Settings words of any value. Checks that decoding selects only table values, refuses exactly the
// undefined indexes, and ignores the unused bits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "serial/link_settings.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "link settings: %s\n", what);
    std::abort();
  }
}

constexpr std::uint32_t kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000};
// Bits 6-7, 11, 15, 18-19, 23 and 30-31 carry nothing.
constexpr std::uint32_t kUnusedBits = 0xC08C88C0;

bool Same(const talven::LinkSettings& a, const talven::LinkSettings& b) {
  return a.baudRate == b.baudRate && a.stopBits == b.stopBits && a.parity == b.parity &&
         a.dataBits == b.dataBits && a.dtr == b.dtr && a.rts == b.rts &&
         a.ctsOutputFlow == b.ctsOutputFlow && a.dsrOutputFlow == b.dsrOutputFlow &&
         a.xonXoff == b.xonXoff && a.undefinedIndex == b.undefinedIndex;
}

std::uint32_t Field(std::uint32_t word, unsigned shift, std::uint32_t mask) {
  return (word >> shift) & mask;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  while (input.remaining_bytes() > 0) {
    const auto word = input.ConsumeIntegral<std::uint32_t>();
    const talven::LinkSettings s = talven::DecodeLinkSettings(word);
    Require(Same(s, talven::DecodeLinkSettings(word & ~kUnusedBits)), "an unused bit counted");

    Require(s.baudRate.has_value() == (Field(word, 0, 0xF) != 0), "baud rate presence");
    if (s.baudRate) {
      bool known = false;
      for (const std::uint32_t rate : kBaudRates) known = known || rate == *s.baudRate;
      Require(known, "baud rate outside the table");
    }
    Require(s.stopBits.has_value() == (Field(word, 4, 0x3) != 0), "stop bits presence");
    if (s.dataBits) Require(*s.dataBits >= 4 && *s.dataBits <= 8, "data bits outside 4..8");
    if (s.parity) Require(static_cast<unsigned>(*s.parity) <= 4, "parity outside the table");
    if (s.rts) Require(static_cast<unsigned>(*s.rts) <= 3, "RTS outside the table");
    if (s.dtr) Require(static_cast<unsigned>(*s.dtr) <= 2, "DTR outside the table");

    const bool undefined =
        Field(word, 8, 0x7) >= 6 || Field(word, 12, 0x7) >= 6 || Field(word, 20, 0x7) >= 5;
    Require(s.undefinedIndex == undefined, "undefined index");
    // The "off" bits win over the "on" bits.
    if ((word & (1u << 25)) != 0) Require(s.ctsOutputFlow == false, "CTS off bit");
    if ((word & (1u << 27)) != 0) Require(s.dsrOutputFlow == false, "DSR off bit");
  }
  return 0;
}
