// Decoding of a LinkSettingsWord: a packed word of index fields and flags for the serial line
// settings.
#pragma once

#include <cstdint>
#include <optional>

namespace talven {

using LinkSettingsWord = std::uint32_t;

// Applied by every successful OpenPort before the caller's own word: 9600 8N1, no flow control,
// DTR and RTS held off. The lines are never raised by this program: the kernel or driver may raise
// them inside the open itself, and this first word takes them down, so a scanner never sees them
// go up again after the open.
inline constexpr LinkSettingsWord kDefaultLinkSettings = 0x2A115117;

enum class StopBits : std::uint8_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };
enum class Parity : std::uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
enum class DtrControl : std::uint8_t { kDisable = 0, kEnable = 1, kHandshake = 2 };
enum class RtsControl : std::uint8_t { kDisable = 0, kEnable = 1, kHandshake = 2, kToggle = 3 };

// The settings a word selects; an empty optional leaves that setting as the port has it.
struct LinkSettings {
  std::optional<std::uint32_t> baudRate;
  std::optional<StopBits> stopBits;
  std::optional<Parity> parity;  // with it: parity checking and error replacement (see below)
  std::optional<std::uint8_t> dataBits;
  std::optional<DtrControl> dtr;
  std::optional<RtsControl> rts;
  std::optional<bool> ctsOutputFlow;
  std::optional<bool> dsrOutputFlow;
  std::optional<bool> xonXoff;  // on: output and input XON/XOFF, transmit stops while XOFF is held
  // Parity none clears checking and error replacement (error character kept); any other parity
  // turns both on with a space as the error character.
  bool ParityChecking() const { return parity && *parity != Parity::kNone; }
  // An index the tables do not define (parity or data bits 6 and 7, RTS 5 to 7). Such a word is
  // refused as a whole: ApplyLinkSettings answers 2 and writes nothing.
  bool undefinedIndex = false;
};

LinkSettings DecodeLinkSettings(LinkSettingsWord word);

inline constexpr std::uint8_t kErrorCharForParity = 0x20;

}  // namespace talven
