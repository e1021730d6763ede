#include "text/keymap.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace talven {
namespace {

std::vector<int> CodesOf(KeyCodes key) {
  std::vector<int> codes;
  for (std::uint8_t i = 0; i < key.count; ++i) codes.push_back(key.codes[i]);
  return codes;
}

TerminalKey Decode(const std::string& bytes, bool complete) {
  return DecodeTerminalKey(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                           complete);
}

// Decodes a whole burst of input the way the console does once nothing more arrives.
std::vector<int> DecodeAll(const std::string& bytes) {
  std::vector<int> codes;
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const TerminalKey key = Decode(bytes.substr(offset), true);
    if (key.consumed == 0) {
      ADD_FAILURE() << "no progress at offset " << offset;
      break;
    }
    offset += key.consumed;
    for (int code : CodesOf(key.key)) codes.push_back(code);
  }
  return codes;
}

struct TerminalCase {
  const char* name;
  std::string bytes;
  std::vector<int> codes;
};

std::string CaseName(const testing::TestParamInfo<TerminalCase>& info) {
  return info.param.name;
}

// One key press per row: the bytes make up exactly one key.
const TerminalCase kSingleKeys[] = {
    {"Letter", "a", {'a'}},
    {"Enter", "\r", {13}},
    {"DelByteIsBackspace", "\x7f", {8}},
    {"CtrlC", "\x03", {3}},
    {"NulIsCtrl2", std::string(1, '\0'), {0, 3}},
    {"HighByte", "\xe9", {0xe9}},
    {"LoneEsc", "\x1b", {27}},
    {"F1Ss3", "\x1bOP", {0, 59}},
    {"F1Numbered", "\x1b[11~", {0, 59}},
    {"F1LinuxConsole", "\x1b[[A", {0, 59}},
    {"F4Csi", "\x1b[S", {0, 62}},
    {"F5", "\x1b[15~", {0, 63}},
    {"F6", "\x1b[17~", {0, 64}},
    {"F10", "\x1b[21~", {0, 68}},
    {"F11", "\x1b[23~", {0, 133}},
    {"F12", "\x1b[24~", {0, 134}},
    {"UpCsi", "\x1b[A", {0, 72}},
    {"UpSs3", "\x1bOA", {0, 72}},
    {"DownCsi", "\x1b[B", {0, 80}},
    {"RightCsi", "\x1b[C", {0, 77}},
    {"LeftSs3", "\x1bOD", {0, 75}},
    {"HomeCsiH", "\x1b[H", {0, 71}},
    {"HomeSs3H", "\x1bOH", {0, 71}},
    {"HomeTilde1", "\x1b[1~", {0, 71}},
    {"HomeRxvt", "\x1b[7~", {0, 71}},
    {"EndCsiF", "\x1b[F", {0, 79}},
    {"EndTilde4", "\x1b[4~", {0, 79}},
    {"EndRxvt", "\x1b[8~", {0, 79}},
    {"Insert", "\x1b[2~", {0, 82}},
    {"Delete", "\x1b[3~", {0, 83}},
    {"PgUp", "\x1b[5~", {0, 73}},
    {"PgDn", "\x1b[6~", {0, 81}},
    {"ShiftTab", "\x1b[Z", {0, 15}},
    {"ShiftUpSameAsUp", "\x1b[1;2A", {0, 72}},
    {"CtrlUp", "\x1b[1;5A", {0, 141}},
    {"AltUp", "\x1b[1;3A", {0, 152}},
    {"CtrlAltUpIsAlt", "\x1b[1;7A", {0, 152}},
    {"CtrlShiftLeftIsCtrl", "\x1b[1;6D", {0, 115}},
    {"MetaCountsAsAlt", "\x1b[1;9B", {0, 160}},
    {"ShiftF1", "\x1b[1;2P", {0, 84}},
    {"ShiftF1OldXterm", "\x1bO2P", {0, 84}},
    {"CtrlF5", "\x1b[15;5~", {0, 98}},
    {"AltF12", "\x1b[24;3~", {0, 140}},
    {"CtrlDelete", "\x1b[3;5~", {0, 147}},
    {"AltPgDn", "\x1b[6;3~", {0, 161}},
    {"RxvtCtrlPgUp", "\x1b[5^", {0, 132}},
    {"RxvtShiftUp", "\x1b[a", {0, 72}},
    {"RxvtCtrlUp", "\x1bOa", {0, 141}},
    {"RxvtAltUp", "\x1b\x1b[A", {0, 152}},
    {"AltLowerA",
     "\x1b"
     "a",
     {0, 30}},
    {"AltUpperA",
     "\x1b"
     "A",
     {0, 30}},
    {"AltN", "\x1bn", {0, 49}},
    {"Alt1",
     "\x1b"
     "1",
     {0, 120}},
    {"Alt0",
     "\x1b"
     "0",
     {0, 129}},
    {"AltMinus", "\x1b-", {0, 130}},
    {"AltBackspace", "\x1b\x7f", {0, 14}},
    {"CtrlAltA", "\x1b\x01", {0, 30}},
    {"AltBracketAlone", "\x1b[", {0, 26}},
    {"AltOAlone", "\x1bO", {0, 24}},
    {"KeypadEnterAppMode", "\x1bOM", {13}},
    {"Keypad0AppMode", "\x1bOp", {'0'}},
    {"UnknownNumbered", "\x1b[99~", {}},
    {"FocusIn", "\x1b[I", {}},
    {"SgrMouse", "\x1b[<0;10;5M", {}},
    {"PasteStart", "\x1b[200~", {}},
    {"AltWithoutCode", "\x1b!", {}},
    {"TruncatedAfterWait", "\x1b[1;5", {}},
};

class SingleTerminalKey : public testing::TestWithParam<TerminalCase> {};

TEST_P(SingleTerminalKey, DecodesWholeSequenceToItsCodes) {
  const TerminalCase& c = GetParam();
  const TerminalKey key = Decode(c.bytes, true);
  EXPECT_FALSE(key.incomplete);
  EXPECT_EQ(key.consumed, c.bytes.size());
  EXPECT_EQ(CodesOf(key.key), c.codes);
}

INSTANTIATE_TEST_SUITE_P(Keymap, SingleTerminalKey, testing::ValuesIn(kSingleKeys), CaseName);

// While more may come, a proper prefix of an escape sequence must not be taken for a key.
TEST(KeymapTerminal, WaitsForTheRestOfEveryEscapeSequence) {
  for (const TerminalCase& c : kSingleKeys) {
    if (c.bytes[0] != '\x1b') continue;
    for (std::size_t length = 1; length < c.bytes.size(); ++length) {
      const TerminalKey key = Decode(c.bytes.substr(0, length), false);
      EXPECT_TRUE(key.incomplete && key.consumed == 0) << c.name << " cut at " << length;
    }
  }
}

// Bursts holding several keys, or a broken sequence followed by a key: nothing may be lost.
const TerminalCase kBursts[] = {
    {"TwoLetters", "ab", {'a', 'b'}},
    {"TwoArrows", "\x1b[A\x1b[B", {0, 72, 0, 80}},
    {"ArrowThenLetter", "\x1b[Ax", {0, 72, 'x'}},
    {"LetterThenF1", "q\x1bOP", {'q', 0, 59}},
    {"UnknownThenKey", "\x1b[99~z", {'z'}},
    {"BrokenSequenceKeepsNextKey", "\x1b[1\x03", {3}},
    {"EscEscLetter", "\x1b\x1bx", {27, 0, 45}},
    {"EscTwice", "\x1b\x1b", {27, 27}},
};

class TerminalBurst : public testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalBurst, YieldsEveryKeyInOrder) {
  EXPECT_EQ(DecodeAll(GetParam().bytes), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(Keymap, TerminalBurst, testing::ValuesIn(kBursts), CaseName);

TEST(KeymapTerminal, FirstKeyOfABurstIsDecodedWithoutWaiting) {
  const TerminalKey key = Decode("\x1b[A\x1b", false);
  EXPECT_FALSE(key.incomplete);
  EXPECT_EQ(key.consumed, 3u);
  EXPECT_EQ(CodesOf(key.key), (std::vector<int>{0, 72}));
}

TEST(KeymapTerminal, EmptyInputYieldsNothing) {
  const TerminalKey key = DecodeTerminalKey(nullptr, 0, true);
  EXPECT_EQ(key.consumed, 0u);
  EXPECT_EQ(key.key.count, 0);
}

struct VirtualCase {
  const char* name;
  std::uint16_t virtualKey;
  unsigned char character;
  unsigned modifiers;
  std::vector<int> codes;
};

std::string VirtualName(const testing::TestParamInfo<VirtualCase>& info) {
  return info.param.name;
}

constexpr unsigned kShift = kShiftHeld;
constexpr unsigned kCtrl = kCtrlHeld;
constexpr unsigned kAlt = kAltHeld;

// Key-down events as the Windows console reports them: virtual key, character, modifiers.
const VirtualCase kVirtualKeys[] = {
    {"F1", vk::kF1, 0, 0, {0, 59}},
    {"F10", vk::kF1 + 9, 0, 0, {0, 68}},
    {"F11", vk::kF1 + 10, 0, 0, {0, 133}},
    {"F12", vk::kF12, 0, 0, {0, 134}},
    {"ShiftF1", vk::kF1, 0, kShift, {0, 84}},
    {"CtrlF1", vk::kF1, 0, kCtrl, {0, 94}},
    {"AltF1", vk::kF1, 0, kAlt, {0, 104}},
    {"ShiftF12", vk::kF12, 0, kShift, {0, 136}},
    {"CtrlF11", vk::kF1 + 10, 0, kCtrl, {0, 137}},
    {"AltF12", vk::kF12, 0, kAlt, {0, 140}},
    {"AllModifiersF1IsAlt", vk::kF1, 0, kShift | kCtrl | kAlt, {0, 104}},
    {"CtrlShiftF1IsCtrl", vk::kF1, 0, kShift | kCtrl, {0, 94}},
    {"Home", vk::kHome, 0, 0, {0, 71}},
    {"Up", vk::kUp, 0, 0, {0, 72}},
    {"PgUp", vk::kPrior, 0, 0, {0, 73}},
    {"Left", vk::kLeft, 0, 0, {0, 75}},
    {"Right", vk::kRight, 0, 0, {0, 77}},
    {"End", vk::kEnd, 0, 0, {0, 79}},
    {"Down", vk::kDown, 0, 0, {0, 80}},
    {"PgDn", vk::kNext, 0, 0, {0, 81}},
    {"Insert", vk::kInsert, 0, 0, {0, 82}},
    {"Delete", vk::kDelete, 0, 0, {0, 83}},
    {"ShiftHomeSameAsHome", vk::kHome, 0, kShift, {0, 71}},
    {"CtrlLeft", vk::kLeft, 0, kCtrl, {0, 115}},
    {"CtrlRight", vk::kRight, 0, kCtrl, {0, 116}},
    {"CtrlEnd", vk::kEnd, 0, kCtrl, {0, 117}},
    {"CtrlPgDn", vk::kNext, 0, kCtrl, {0, 118}},
    {"CtrlHome", vk::kHome, 0, kCtrl, {0, 119}},
    {"CtrlPgUp", vk::kPrior, 0, kCtrl, {0, 132}},
    {"CtrlUp", vk::kUp, 0, kCtrl, {0, 141}},
    {"CtrlDown", vk::kDown, 0, kCtrl, {0, 145}},
    {"CtrlInsert", vk::kInsert, 0, kCtrl, {0, 146}},
    {"CtrlDelete", vk::kDelete, 0, kCtrl, {0, 147}},
    {"AltHome", vk::kHome, 0, kAlt, {0, 151}},
    {"AltUp", vk::kUp, 0, kAlt, {0, 152}},
    {"AltPgUp", vk::kPrior, 0, kAlt, {0, 153}},
    {"AltLeft", vk::kLeft, 0, kAlt, {0, 155}},
    {"AltRight", vk::kRight, 0, kAlt, {0, 157}},
    {"AltEnd", vk::kEnd, 0, kAlt, {0, 159}},
    {"AltDown", vk::kDown, 0, kAlt, {0, 160}},
    {"AltPgDn", vk::kNext, 0, kAlt, {0, 161}},
    {"AltInsert", vk::kInsert, 0, kAlt, {0, 162}},
    {"AltDelete", vk::kDelete, 0, kAlt, {0, 163}},
    {"CtrlAltUpIsAlt", vk::kUp, 0, kCtrl | kAlt, {0, 152}},
    {"CtrlShiftUpIsCtrl", vk::kUp, 0, kCtrl | kShift, {0, 141}},
    {"AltA", 'A', 0, kAlt, {0, 30}},
    {"AltN", 'N', 0, kAlt, {0, 49}},
    {"AltZ", 'Z', 0, kAlt, {0, 44}},
    {"Alt1", '1', 0, kAlt, {0, 120}},
    {"Alt0", '0', 0, kAlt, {0, 129}},
    {"AltShiftAIsAlt", 'A', 0, kAlt | kShift, {0, 30}},
    {"CtrlAWithoutCharacter", 'A', 0, kCtrl, {1}},
    {"CtrlZWithoutCharacter", 'Z', 0, kCtrl, {26}},
    {"Ctrl2IsNul", '2', 0, kCtrl, {0, 3}},
    {"Ctrl1Nothing", '1', 0, kCtrl, {}},
    {"LetterWithoutCharacterNothing", 'A', 0, 0, {}},
    {"ClearIsKeypad5", vk::kClear, 0, 0, {0, 76}},
    {"AltClearNothing", vk::kClear, 0, kAlt, {}},
    {"AltKeypad5Nothing", vk::kNumpad5, 0, kAlt, {}},
    {"ShiftAlone", vk::kShift, 0, kShift, {}},
    {"CtrlAlone", vk::kControl, 0, kCtrl, {}},
    {"AltAlone", vk::kMenu, 0, kAlt, {}},
    {"CapsLockAlone", vk::kCapital, 0, 0, {}},
    {"NumLockAlone", vk::kNumLock, 0, 0, {}},
    {"LeftShiftAlone", vk::kLeftShift, 0, kShift, {}},
    // The console's character wins for character keys.
    {"Letter", 'A', 'a', 0, {'a'}},
    {"ShiftLetter", 'A', 'A', kShift, {'A'}},
    {"AltLetterWithCharacter", 'A', 'a', kAlt, {'a'}},
    {"AltGrCharacter", 'Q', '@', kCtrl | kAlt, {'@'}},
    {"HighCharacter", 'E', 0xe9, 0, {0xe9}},
    {"Enter", vk::kReturn, '\r', 0, {13}},
    {"CtrlEnter", vk::kReturn, '\n', kCtrl, {10}},
    {"Esc", vk::kEscape, 27, 0, {27}},
    {"Tab", vk::kTab, '\t', 0, {9}},
    {"Space", vk::kSpace, ' ', 0, {32}},
    // ...except where the editing key's modified form has an extended code.
    {"ShiftTabWithCharacter", vk::kTab, '\t', kShift, {0, 15}},
    {"ShiftTabWithoutCharacter", vk::kTab, 0, kShift, {0, 15}},
    {"AltBackspace", vk::kBack, 8, kAlt, {0, 14}},
    {"CtrlKeypadMinus", vk::kSubtract, '-', kCtrl, {0, 142}},
};

class ConsoleKey : public testing::TestWithParam<VirtualCase> {};

TEST_P(ConsoleKey, YieldsItsCodes) {
  const VirtualCase& c = GetParam();
  EXPECT_EQ(CodesOf(MapConsoleKey(c.virtualKey, c.character, c.modifiers)), c.codes);
  if (c.character == 0) {
    EXPECT_EQ(CodesOf(MapVirtualKey(c.virtualKey, c.modifiers)), c.codes);
  }
}

INSTANTIATE_TEST_SUITE_P(Keymap, ConsoleKey, testing::ValuesIn(kVirtualKeys), VirtualName);

// A code shared by two different keys would make them indistinguishable: only Shift may repeat the
// plain code of the same key.
TEST(KeymapWindows, ExtendedCodesAreUnique) {
  const unsigned modifierSets[] = {0, kShiftHeld, kCtrlHeld, kAltHeld};
  std::map<int, std::pair<unsigned, unsigned>> owner;
  for (unsigned virtualKey = 0; virtualKey < 256; ++virtualKey) {
    for (unsigned modifiers : modifierSets) {
      const KeyCodes key = MapVirtualKey(static_cast<std::uint16_t>(virtualKey), modifiers);
      if (key.count != 2) continue;
      const auto [it, inserted] = owner.emplace(key.codes[1], std::pair{virtualKey, modifiers});
      if (inserted) continue;
      const bool shiftRepeatsPlain = it->second.first == virtualKey && modifiers == kShiftHeld;
      EXPECT_TRUE(shiftRepeatsPlain)
          << "code " << int{key.codes[1]} << " from key " << virtualKey << " mods " << modifiers
          << " and key " << it->second.first << " mods " << it->second.second;
    }
  }
}

}  // namespace
}  // namespace talven
