// Terminal input of any bytes, decoded the way the console reads keys: as much as has arrived, then
// again with complete set once nothing more comes. Checks that decoding always moves on, never
// reads past the bytes given, and yields at most one code or 0 and one extended code; the same for
// Windows key events with any virtual key, character and modifier bits.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "text/keymap.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "keymap: %s\n", what);
    std::abort();
  }
}

void RequireCodes(const talven::KeyCodes& key) {
  Require(key.count <= 2, "more than two codes");
  if (key.count == 2) Require(key.codes[0] == 0, "an extended code without its 0");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::vector<std::uint8_t> typed =
      input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 256));
  // How much of the typed text has arrived at each decode.
  const auto step = [&input] { return input.ConsumeIntegralInRange<std::size_t>(1, 16); };
  std::size_t arrived = 0;
  std::size_t position = 0;
  while (position < typed.size()) {
    if (arrived == position) arrived = std::min(typed.size(), arrived + step());
    const std::size_t length = arrived - position;
    // An allocation of exactly the bytes at hand, so that reading past them is caught.
    const auto bytes = std::make_unique<std::uint8_t[]>(length);
    std::copy(typed.begin() + static_cast<std::ptrdiff_t>(position),
              typed.begin() + static_cast<std::ptrdiff_t>(arrived), bytes.get());
    talven::TerminalKey key = talven::DecodeTerminalKey(bytes.get(), length, false);
    if (key.incomplete) {
      Require(key.consumed == 0, "incomplete yet consumed");
      if (arrived < typed.size() && input.ConsumeBool()) {  // more arrives in time
        arrived = std::min(typed.size(), arrived + step());
        continue;
      }
      key = talven::DecodeTerminalKey(bytes.get(), length, true);
      Require(!key.incomplete, "still incomplete when nothing more comes");
    }
    Require(key.consumed >= 1 && key.consumed <= length, "consumed count");
    RequireCodes(key.key);
    position += key.consumed;
  }
  Require(talven::DecodeTerminalKey(nullptr, 0, true).consumed == 0, "decoded nothing");

  while (input.remaining_bytes() > 0) {
    const auto virtualKey = input.ConsumeIntegral<std::uint16_t>();
    const auto character = input.ConsumeIntegral<unsigned char>();
    const auto modifiers = input.ConsumeIntegral<std::uint8_t>();
    RequireCodes(talven::MapVirtualKey(virtualKey, modifiers));
    const talven::KeyCodes key = talven::MapConsoleKey(virtualKey, character, modifiers);
    RequireCodes(key);
    // A key that carries a character always gives a code.
    if (character != 0) Require(key.count >= 1, "a character key gave nothing");
  }
  return 0;
}
