// The virtual-key numbers that keymap.h spells out for every platform must be the ones the console
// reports on Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "text/keymap.h"

namespace talven {
namespace {

struct VirtualKeyName {
  const char* name;
  std::uint16_t ours;
  int windows;
};

const VirtualKeyName kKeys[] = {
    {"BACK", vk::kBack, VK_BACK},
    {"TAB", vk::kTab, VK_TAB},
    {"CLEAR", vk::kClear, VK_CLEAR},
    {"RETURN", vk::kReturn, VK_RETURN},
    {"SHIFT", vk::kShift, VK_SHIFT},
    {"CONTROL", vk::kControl, VK_CONTROL},
    {"MENU", vk::kMenu, VK_MENU},
    {"CAPITAL", vk::kCapital, VK_CAPITAL},
    {"ESCAPE", vk::kEscape, VK_ESCAPE},
    {"SPACE", vk::kSpace, VK_SPACE},
    {"PRIOR", vk::kPrior, VK_PRIOR},
    {"NEXT", vk::kNext, VK_NEXT},
    {"END", vk::kEnd, VK_END},
    {"HOME", vk::kHome, VK_HOME},
    {"LEFT", vk::kLeft, VK_LEFT},
    {"UP", vk::kUp, VK_UP},
    {"RIGHT", vk::kRight, VK_RIGHT},
    {"DOWN", vk::kDown, VK_DOWN},
    {"INSERT", vk::kInsert, VK_INSERT},
    {"DELETE", vk::kDelete, VK_DELETE},
    {"NUMPAD5", vk::kNumpad5, VK_NUMPAD5},
    {"MULTIPLY", vk::kMultiply, VK_MULTIPLY},
    {"ADD", vk::kAdd, VK_ADD},
    {"SUBTRACT", vk::kSubtract, VK_SUBTRACT},
    {"DIVIDE", vk::kDivide, VK_DIVIDE},
    {"F1", vk::kF1, VK_F1},
    {"F12", vk::kF12, VK_F12},
    {"NUMLOCK", vk::kNumLock, VK_NUMLOCK},
    {"LSHIFT", vk::kLeftShift, VK_LSHIFT},
    {"OEM_1", vk::kOem1, VK_OEM_1},
    {"OEM_PLUS", vk::kOemPlus, VK_OEM_PLUS},
    {"OEM_COMMA", vk::kOemComma, VK_OEM_COMMA},
    {"OEM_MINUS", vk::kOemMinus, VK_OEM_MINUS},
    {"OEM_PERIOD", vk::kOemPeriod, VK_OEM_PERIOD},
    {"OEM_2", vk::kOem2, VK_OEM_2},
    {"OEM_3", vk::kOem3, VK_OEM_3},
    {"OEM_4", vk::kOem4, VK_OEM_4},
    {"OEM_5", vk::kOem5, VK_OEM_5},
    {"OEM_6", vk::kOem6, VK_OEM_6},
    {"OEM_7", vk::kOem7, VK_OEM_7},
};

TEST(KeymapWin32, VirtualKeyNumbersMatchTheWindowsHeaders) {
  for (const VirtualKeyName& key : kKeys) EXPECT_EQ(key.ours, key.windows) << "VK_" << key.name;
}

}  // namespace
}  // namespace talven
