#include "text/keymap.h"

#include <algorithm>
#include <iterator>

namespace talven {

namespace {

constexpr unsigned char kEsc = 0x1B;

// One cell of a key table: 0 = no code, 1..255 = that code alone, kExtended | n = 0 followed by n.
using Cell = std::uint16_t;
constexpr Cell kExtended = 0x100;
constexpr Cell X(unsigned code) {
  return static_cast<Cell>(kExtended | code);
}
constexpr Cell C(unsigned code) {
  return static_cast<Cell>(code);
}

struct KeyRow {
  Cell plain, shift, ctrl, alt;
};

// clang-format off
enum class Key : std::uint8_t {
  kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12,
  kHome, kUp, kPgUp, kLeft, kCenter, kRight, kEnd, kDown, kPgDn, kInsert, kDelete,
  kTab, kBackspace, kEnter, kEscape, kPadDivide, kPadMultiply, kPadMinus, kPadPlus,
  kCount
};
// clang-format on

struct NamedKey {
  std::uint16_t virtualKey;
  KeyRow row;
};

// Keys other than characters, in the order of Key. Shift does not change the cursor keys' codes.
constexpr NamedKey kNamedKeys[] = {
    {vk::kF1 + 0, {X(59), X(84), X(94), X(104)}},
    {vk::kF1 + 1, {X(60), X(85), X(95), X(105)}},
    {vk::kF1 + 2, {X(61), X(86), X(96), X(106)}},
    {vk::kF1 + 3, {X(62), X(87), X(97), X(107)}},
    {vk::kF1 + 4, {X(63), X(88), X(98), X(108)}},
    {vk::kF1 + 5, {X(64), X(89), X(99), X(109)}},
    {vk::kF1 + 6, {X(65), X(90), X(100), X(110)}},
    {vk::kF1 + 7, {X(66), X(91), X(101), X(111)}},
    {vk::kF1 + 8, {X(67), X(92), X(102), X(112)}},
    {vk::kF1 + 9, {X(68), X(93), X(103), X(113)}},
    {vk::kF1 + 10, {X(133), X(135), X(137), X(139)}},
    {vk::kF12, {X(134), X(136), X(138), X(140)}},
    {vk::kHome, {X(71), X(71), X(119), X(151)}},
    {vk::kUp, {X(72), X(72), X(141), X(152)}},
    {vk::kPrior, {X(73), X(73), X(132), X(153)}},
    {vk::kLeft, {X(75), X(75), X(115), X(155)}},
    {vk::kClear, {X(76), X(76), X(143), 0}},  // Alt+keypad digits compose characters
    {vk::kRight, {X(77), X(77), X(116), X(157)}},
    {vk::kEnd, {X(79), X(79), X(117), X(159)}},
    {vk::kDown, {X(80), X(80), X(145), X(160)}},
    {vk::kNext, {X(81), X(81), X(118), X(161)}},
    {vk::kInsert, {X(82), X(82), X(146), X(162)}},
    {vk::kDelete, {X(83), X(83), X(147), X(163)}},
    {vk::kTab, {C(9), X(15), X(148), X(165)}},
    {vk::kBack, {C(8), C(8), C(127), X(14)}},
    {vk::kReturn, {C(13), C(13), C(10), X(28)}},
    {vk::kEscape, {C(27), C(27), C(27), X(1)}},
    {vk::kDivide, {C('/'), C('/'), X(149), X(164)}},
    {vk::kMultiply, {C('*'), C('*'), X(150), X(55)}},
    {vk::kSubtract, {C('-'), C('-'), X(142), X(74)}},
    {vk::kAdd, {C('+'), C('+'), X(144), X(78)}},
};
static_assert(std::size(kNamedKeys) == static_cast<std::size_t>(Key::kCount));

// Character keys: the console reports their character, so only Ctrl and Alt forms have codes here.
struct CharKey {
  char character;
  std::uint16_t virtualKey;
  Cell ctrl, alt;
};

constexpr CharKey kCharKeys[] = {
    {'a', 'A', C(1), X(30)},
    {'b', 'B', C(2), X(48)},
    {'c', 'C', C(3), X(46)},
    {'d', 'D', C(4), X(32)},
    {'e', 'E', C(5), X(18)},
    {'f', 'F', C(6), X(33)},
    {'g', 'G', C(7), X(34)},
    {'h', 'H', C(8), X(35)},
    {'i', 'I', C(9), X(23)},
    {'j', 'J', C(10), X(36)},
    {'k', 'K', C(11), X(37)},
    {'l', 'L', C(12), X(38)},
    {'m', 'M', C(13), X(50)},
    {'n', 'N', C(14), X(49)},
    {'o', 'O', C(15), X(24)},
    {'p', 'P', C(16), X(25)},
    {'q', 'Q', C(17), X(16)},
    {'r', 'R', C(18), X(19)},
    {'s', 'S', C(19), X(31)},
    {'t', 'T', C(20), X(20)},
    {'u', 'U', C(21), X(22)},
    {'v', 'V', C(22), X(47)},
    {'w', 'W', C(23), X(17)},
    {'x', 'X', C(24), X(45)},
    {'y', 'Y', C(25), X(21)},
    {'z', 'Z', C(26), X(44)},
    {'1', '1', 0, X(120)},
    {'2', '2', X(3), X(121)},
    {'3', '3', 0, X(122)},
    {'4', '4', 0, X(123)},
    {'5', '5', 0, X(124)},
    {'6', '6', C(30), X(125)},
    {'7', '7', 0, X(126)},
    {'8', '8', 0, X(127)},
    {'9', '9', 0, X(128)},
    {'0', '0', 0, X(129)},
    {'-', vk::kOemMinus, C(31), X(130)},
    {'=', vk::kOemPlus, 0, X(131)},
    {'[', vk::kOem4, C(27), X(26)},
    {']', vk::kOem6, C(29), X(27)},
    {'\\', vk::kOem5, C(28), X(43)},
    {';', vk::kOem1, 0, X(39)},
    {'\'', vk::kOem7, 0, X(40)},
    {'`', vk::kOem3, 0, X(41)},
    {',', vk::kOemComma, 0, X(51)},
    {'.', vk::kOemPeriod, 0, X(52)},
    {'/', vk::kOem2, 0, X(53)},
};

// Bytes after ESC that stand for an editing key rather than a Ctrl+letter.
struct ByteKey {
  unsigned char byte;
  Key key;
};
constexpr ByteKey kAltByteKeys[] = {
    {0x7F, Key::kBackspace}, {0x08, Key::kBackspace}, {'\r', Key::kEnter}, {'\t', Key::kTab}};

// Keys named by the final byte of a control sequence. Lowercase CSI finals are rxvt's Shift+arrows,
// lowercase SS3 finals its Ctrl+arrows.
struct FinalKey {
  unsigned char final;
  Key key;
  unsigned modifiers;
};
constexpr FinalKey kCsiFinals[] = {
    {'A', Key::kUp, 0},
    {'B', Key::kDown, 0},
    {'C', Key::kRight, 0},
    {'D', Key::kLeft, 0},
    {'E', Key::kCenter, 0},
    {'F', Key::kEnd, 0},
    {'H', Key::kHome, 0},
    {'P', Key::kF1, 0},
    {'Q', Key::kF2, 0},
    {'R', Key::kF3, 0},
    {'S', Key::kF4, 0},
    {'Z', Key::kTab, kShiftHeld},
    {'a', Key::kUp, kShiftHeld},
    {'b', Key::kDown, kShiftHeld},
    {'c', Key::kRight, kShiftHeld},
    {'d', Key::kLeft, kShiftHeld},
};
constexpr FinalKey kSs3Finals[] = {
    {'A', Key::kUp, 0},           {'B', Key::kDown, 0},
    {'C', Key::kRight, 0},        {'D', Key::kLeft, 0},
    {'E', Key::kCenter, 0},       {'F', Key::kEnd, 0},
    {'H', Key::kHome, 0},         {'P', Key::kF1, 0},
    {'Q', Key::kF2, 0},           {'R', Key::kF3, 0},
    {'S', Key::kF4, 0},           {'a', Key::kUp, kCtrlHeld},
    {'b', Key::kDown, kCtrlHeld}, {'c', Key::kRight, kCtrlHeld},
    {'d', Key::kLeft, kCtrlHeld},
};
// The Linux console's F1..F5: ESC [ [ A..E.
constexpr FinalKey kLinuxConsoleFinals[] = {{'A', Key::kF1, 0},
                                            {'B', Key::kF2, 0},
                                            {'C', Key::kF3, 0},
                                            {'D', Key::kF4, 0},
                                            {'E', Key::kF5, 0}};

// The keypad in application mode sends SS3 and a letter for each character.
struct FinalChar {
  unsigned char final;
  char character;
};
constexpr FinalChar kSs3Keypad[] = {{'M', '\r'}, {'X', '='}, {'j', '*'}, {'k', '+'}, {'l', ','},
                                    {'m', '-'},  {'n', '.'}, {'o', '/'}, {'p', '0'}, {'q', '1'},
                                    {'r', '2'},  {'s', '3'}, {'t', '4'}, {'u', '5'}, {'v', '6'},
                                    {'w', '7'},  {'x', '8'}, {'y', '9'}};

// Numbered forms "CSI n ~"; 7 and 8 are rxvt's Home and End.
struct NumberKey {
  unsigned number;
  Key key;
};
constexpr NumberKey kNumberedKeys[] = {
    {1, Key::kHome}, {2, Key::kInsert}, {3, Key::kDelete}, {4, Key::kEnd},  {5, Key::kPgUp},
    {6, Key::kPgDn}, {7, Key::kHome},   {8, Key::kEnd},    {11, Key::kF1},  {12, Key::kF2},
    {13, Key::kF3},  {14, Key::kF4},    {15, Key::kF5},    {17, Key::kF6},  {18, Key::kF7},
    {19, Key::kF8},  {20, Key::kF9},    {21, Key::kF10},   {23, Key::kF11}, {24, Key::kF12}};

// rxvt marks modifiers of the numbered forms in the final byte instead of a parameter.
struct FinalModifiers {
  unsigned char final;
  unsigned modifiers;
};
constexpr FinalModifiers kNumberedFinals[] = {
    {'~', 0}, {'$', kShiftHeld}, {'^', kCtrlHeld}, {'@', kCtrlHeld | kShiftHeld}};

template <typename Table, typename Predicate>
const auto* Find(const Table& table, Predicate predicate) {
  const auto found = std::find_if(std::begin(table), std::end(table), predicate);
  return found == std::end(table) ? nullptr : &*found;
}

template <typename Table>
const auto* FindFinal(const Table& table, unsigned char final) {
  return Find(table, [final](const auto& entry) { return entry.final == final; });
}

KeyCodes FromCell(Cell cell) {
  KeyCodes key;
  if (cell == 0) return key;
  if ((cell & kExtended) != 0) {
    key.count = 2;
    key.codes[1] = static_cast<std::uint8_t>(cell & 0xFF);
  } else {
    key.count = 1;
    key.codes[0] = static_cast<std::uint8_t>(cell);
  }
  return key;
}

Cell Pick(const KeyRow& row, unsigned modifiers) {
  if ((modifiers & kAltHeld) != 0) return row.alt;
  if ((modifiers & kCtrlHeld) != 0) return row.ctrl;
  if ((modifiers & kShiftHeld) != 0) return row.shift;
  return row.plain;
}

KeyCodes CodesOf(Key key, unsigned modifiers) {
  return FromCell(Pick(kNamedKeys[static_cast<std::size_t>(key)].row, modifiers));
}

// The code of Alt with the key that sends this byte.
Cell AltCell(unsigned char byte) {
  if (const auto* entry = Find(kAltByteKeys, [byte](const ByteKey& e) { return e.byte == byte; }))
    return kNamedKeys[static_cast<std::size_t>(entry->key)].row.alt;
  char character = static_cast<char>(byte);
  if (byte >= 'A' && byte <= 'Z') character = static_cast<char>(byte - 'A' + 'a');
  if (byte >= 1 && byte <= 26) character = static_cast<char>(byte - 1 + 'a');  // Ctrl+Alt+letter
  const auto* entry =
      Find(kCharKeys, [character](const CharKey& e) { return e.character == character; });
  return entry != nullptr ? entry->alt : Cell{0};
}

// xterm's modifier parameter: 1 + (Shift 1, Alt 2, Ctrl 4, Meta 8).
unsigned ModifierParameter(unsigned value) {
  if (value < 2) return 0;
  const unsigned bits = value - 1;
  unsigned modifiers = 0;
  if ((bits & 1) != 0) modifiers |= kShiftHeld;
  if ((bits & (2 | 8)) != 0) modifiers |= kAltHeld;
  if ((bits & 4) != 0) modifiers |= kCtrlHeld;
  return modifiers;
}

struct ControlSequence {
  enum Status { kDone, kTruncated, kMalformed } status = kDone;
  std::size_t end = 0;   // one past the final byte, or the offending byte when malformed
  bool unusual = false;  // private markers, sub-parameters or intermediates: not a key we know
  unsigned params[4] = {0, 0, 0, 0};
  std::size_t paramCount = 0;
  unsigned char final = 0;
};

// Parses parameters, intermediates and the final byte from bytes[start].
ControlSequence ParseControl(const unsigned char* bytes, std::size_t length, std::size_t start) {
  ControlSequence seq;
  std::size_t i = start;
  bool inParam = false;
  for (; i < length && bytes[i] >= 0x30 && bytes[i] <= 0x3F; ++i) {
    const unsigned char b = bytes[i];
    if (b >= '0' && b <= '9') {
      if (!inParam) {
        inParam = true;
        if (seq.paramCount < std::size(seq.params)) ++seq.paramCount;
      }
      unsigned& value = seq.params[seq.paramCount - 1];
      value = std::min(value * 10 + (b - '0'), 99999u);
    } else if (b == ';') {
      if (!inParam && seq.paramCount < std::size(seq.params)) ++seq.paramCount;  // empty = default
      inParam = false;
    } else {
      seq.unusual = true;
    }
  }
  for (; i < length && bytes[i] >= 0x20 && bytes[i] <= 0x2F; ++i) seq.unusual = true;
  if (i == length) {
    seq.status = ControlSequence::kTruncated;
    seq.end = length;
  } else if (bytes[i] < 0x40 || bytes[i] > 0x7E) {
    seq.status = ControlSequence::kMalformed;
    seq.end = i;
  } else {
    seq.final = bytes[i];
    seq.end = i + 1;
  }
  return seq;
}

TerminalKey Incomplete() {
  return {0, true, {}};
}
TerminalKey Consumed(std::size_t count, KeyCodes key = {}) {
  return {count, false, key};
}

KeyCodes DecodeCsi(const ControlSequence& seq, unsigned modifiers) {
  if (seq.paramCount >= 1) {
    if (const auto* kind = FindFinal(kNumberedFinals, seq.final)) {
      const unsigned number = seq.params[0];
      const auto* entry =
          Find(kNumberedKeys, [number](const NumberKey& e) { return e.number == number; });
      if (entry == nullptr) return {};
      modifiers |= kind->modifiers;
      if (seq.paramCount >= 2) modifiers |= ModifierParameter(seq.params[1]);
      return CodesOf(entry->key, modifiers);
    }
  }
  const auto* entry = FindFinal(kCsiFinals, seq.final);
  if (entry == nullptr) return {};
  if (seq.paramCount >= 1) modifiers |= ModifierParameter(seq.params[seq.paramCount - 1]);
  return CodesOf(entry->key, modifiers | entry->modifiers);
}

KeyCodes DecodeSs3(const ControlSequence& seq, unsigned modifiers) {
  if (const auto* entry = FindFinal(kSs3Finals, seq.final)) {
    if (seq.paramCount >= 1) modifiers |= ModifierParameter(seq.params[seq.paramCount - 1]);
    return CodesOf(entry->key, modifiers | entry->modifiers);
  }
  if (const auto* entry = FindFinal(kSs3Keypad, seq.final))
    return FromCell(C(static_cast<unsigned char>(entry->character)));
  return {};
}

// bytes[0] is ESC, bytes[1] is '[' or 'O' and more follows.
TerminalKey DecodeControl(const unsigned char* bytes, std::size_t length, bool complete,
                          unsigned modifiers) {
  const bool csi = bytes[1] == '[';
  const ControlSequence seq = ParseControl(bytes, length, 2);
  if (seq.status == ControlSequence::kTruncated) return complete ? Consumed(length) : Incomplete();
  if (seq.status == ControlSequence::kMalformed || seq.unusual) return Consumed(seq.end);
  if (csi && seq.final == '[' && seq.paramCount == 0) {
    if (length < 4) return complete ? Consumed(length) : Incomplete();
    const auto* entry = FindFinal(kLinuxConsoleFinals, bytes[3]);
    return Consumed(4, entry != nullptr ? CodesOf(entry->key, modifiers) : KeyCodes{});
  }
  return Consumed(seq.end, csi ? DecodeCsi(seq, modifiers) : DecodeSs3(seq, modifiers));
}

// bytes[0] is ESC. altPrefix: this ESC follows another one, which means Alt (rxvt).
TerminalKey DecodeEscape(const unsigned char* bytes, std::size_t length, bool complete,
                         bool altPrefix) {
  const TerminalKey loneEsc = Consumed(1, FromCell(C(kEsc)));
  if (length == 1) return complete ? loneEsc : Incomplete();
  const unsigned char next = bytes[1];
  if (next == '[' || next == 'O') {
    // Nothing came after ESC [ or ESC O: the user typed Alt+[ or Alt+O.
    if (length == 2) return complete ? Consumed(2, FromCell(AltCell(next))) : Incomplete();
    return DecodeControl(bytes, length, complete, altPrefix ? unsigned{kAltHeld} : 0u);
  }
  if (next == kEsc) {
    if (altPrefix) return loneEsc;
    if (length == 2) return complete ? loneEsc : Incomplete();
    if (bytes[2] != '[' && bytes[2] != 'O') return loneEsc;
    const TerminalKey inner = DecodeEscape(bytes + 1, length - 1, complete, true);
    if (inner.incomplete) return inner;
    return Consumed(inner.consumed + 1, inner.key);
  }
  return Consumed(2, FromCell(AltCell(next)));
}

}  // namespace

TerminalKey DecodeTerminalKey(const unsigned char* bytes, std::size_t length, bool complete) {
  if (length == 0) return {};
  const unsigned char byte = bytes[0];
  if (byte == kEsc) return DecodeEscape(bytes, length, complete, false);
  if (byte == 0) return Consumed(1, FromCell(X(3)));  // Ctrl+2 / Ctrl+Space
  if (byte == 0x7F) return Consumed(1, FromCell(C(8)));
  return Consumed(1, FromCell(C(byte)));
}

KeyCodes MapVirtualKey(std::uint16_t virtualKey, unsigned modifiers) {
  if (const auto* named =
          Find(kNamedKeys, [virtualKey](const NamedKey& e) { return e.virtualKey == virtualKey; }))
    return FromCell(Pick(named->row, modifiers));
  if (const auto* key =
          Find(kCharKeys, [virtualKey](const CharKey& e) { return e.virtualKey == virtualKey; }))
    return FromCell(Pick(KeyRow{0, 0, key->ctrl, key->alt}, modifiers));
  return {};
}

KeyCodes MapConsoleKey(std::uint16_t virtualKey, unsigned char character, unsigned modifiers) {
  if (const auto* named = Find(
          kNamedKeys, [virtualKey](const NamedKey& e) { return e.virtualKey == virtualKey; })) {
    const Cell cell = Pick(named->row, modifiers);
    if ((cell & kExtended) != 0) return FromCell(cell);
  }
  if (character != 0) return FromCell(C(character));
  return MapVirtualKey(virtualKey, modifiers);
}

}  // namespace talven
