// Pure mapping from console key events to key codes: terminal escape sequences on POSIX systems,
// and virtual keys with modifiers on Windows. Both follow the PC BIOS convention for keys without a
// character.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talven {

// What one key press yields: no code, a character code, or 0 followed by an extended code.
struct KeyCodes {
  std::uint8_t count = 0;
  std::uint8_t codes[2] = {0, 0};
};

// Decoding of terminal input bytes. consumed == 0 with incomplete set means the bytes are the start
// of an escape sequence that may go on: read more (with a short time limit) and call again with
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
// Ctrl, and Ctrl over Shift. Keys that yield nothing (modifiers alone, unmapped combinations) give
// count 0.
KeyCodes MapVirtualKey(std::uint16_t virtualKey, unsigned modifiers);

// The codes of a Windows key-down event: the character the console attached to it, except for the
// editing keys (Tab, Backspace, Enter, Esc, keypad operators) whose modified forms have an extended
// code (Shift+Tab gives 0, 15 even when the console reports a Tab character).
KeyCodes MapConsoleKey(std::uint16_t virtualKey, unsigned char character, unsigned modifiers);

// Windows virtual-key codes, defined here so the mapping builds and is tested on every platform.
namespace vk {
inline constexpr std::uint16_t kBack = 0x08;
inline constexpr std::uint16_t kTab = 0x09;
inline constexpr std::uint16_t kClear = 0x0C;  // keypad 5 without NumLock
inline constexpr std::uint16_t kReturn = 0x0D;
inline constexpr std::uint16_t kShift = 0x10;
inline constexpr std::uint16_t kControl = 0x11;
inline constexpr std::uint16_t kMenu = 0x12;  // Alt
inline constexpr std::uint16_t kCapital = 0x14;
inline constexpr std::uint16_t kEscape = 0x1B;
inline constexpr std::uint16_t kSpace = 0x20;
inline constexpr std::uint16_t kPrior = 0x21;
inline constexpr std::uint16_t kNext = 0x22;
inline constexpr std::uint16_t kEnd = 0x23;
inline constexpr std::uint16_t kHome = 0x24;
inline constexpr std::uint16_t kLeft = 0x25;
inline constexpr std::uint16_t kUp = 0x26;
inline constexpr std::uint16_t kRight = 0x27;
inline constexpr std::uint16_t kDown = 0x28;
inline constexpr std::uint16_t kInsert = 0x2D;
inline constexpr std::uint16_t kDelete = 0x2E;
inline constexpr std::uint16_t kNumpad5 = 0x65;
inline constexpr std::uint16_t kMultiply = 0x6A;
inline constexpr std::uint16_t kAdd = 0x6B;
inline constexpr std::uint16_t kSubtract = 0x6D;
inline constexpr std::uint16_t kDivide = 0x6F;
inline constexpr std::uint16_t kF1 = 0x70;  // F2..F12 follow
inline constexpr std::uint16_t kF12 = 0x7B;
inline constexpr std::uint16_t kNumLock = 0x90;
inline constexpr std::uint16_t kLeftShift = 0xA0;
inline constexpr std::uint16_t kOem1 = 0xBA;  // ;
inline constexpr std::uint16_t kOemPlus = 0xBB;
inline constexpr std::uint16_t kOemComma = 0xBC;
inline constexpr std::uint16_t kOemMinus = 0xBD;
inline constexpr std::uint16_t kOemPeriod = 0xBE;
inline constexpr std::uint16_t kOem2 = 0xBF;  // /
inline constexpr std::uint16_t kOem3 = 0xC0;  // `
inline constexpr std::uint16_t kOem4 = 0xDB;  // [
inline constexpr std::uint16_t kOem5 = 0xDC;  // backslash
inline constexpr std::uint16_t kOem6 = 0xDD;  // ]
inline constexpr std::uint16_t kOem7 = 0xDE;  // '
}  // namespace vk

}  // namespace talven
