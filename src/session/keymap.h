// Pure mapping from console key events to key codes: terminal escape sequences on POSIX systems, and
// virtual keys with modifiers on Windows. Both follow the PC BIOS convention for keys without a character.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talven {

// What one key press yields: no code, a character code, or 0 followed by an extended code.
struct KeyCodes {
  std::uint8_t count = 0;
  std::uint8_t codes[2] = {0, 0};
};

// Decoding of terminal input bytes. consumed == 0 with incomplete set means the bytes are the start of
// an escape sequence that may go on: read more (with a short time limit) and call again with
// complete == true once nothing more comes.
struct TerminalKey {
  std::size_t consumed = 0;
  bool incomplete = false;
  KeyCodes key;
};
TerminalKey DecodeTerminalKey(const unsigned char* bytes, std::size_t length, bool complete);

// Modifier state of a Windows key event.
enum KeyModifier : unsigned { kShiftHeld = 1, kCtrlHeld = 2, kAltHeld = 4 };

// The codes of a key press that the console reported without a character. Alt takes precedence over
// Ctrl, and Ctrl over Shift. Keys that yield nothing (modifiers alone, unmapped combinations) give count 0.
KeyCodes MapVirtualKey(std::uint16_t virtualKey, unsigned modifiers);

}  // namespace talven
