#include "models/catalogue.h"

#include <cstdio>

namespace talven {

// clang-format off
constexpr std::array<ModelEntry, kModelCount> kModels = {{
  //key  menu label    code      command-line  clone identity  settings    interval sum compare
  {'1', "QR140A",     "KM504R", "QR140A",     "QRFAMTK00",    0x2011511C, 52,  false, true},
  {'2', "VT210",      "KM503R", "VT210",      "VT-210-01",    0x2011511C, 52,  false, true},
  {'3', "QR150M",     "KM493R", "QR150M",     "QRFAMDG00",    0x20115117, 36,  false, false},
  {'4', "QR770A",     "KM500R", "QR770A",     "QR770A0",      0x20115117, 6,   false, false},
  {'5', "QRX320A",    "KM506R", "QRX320A",    "QRFAMDG01",    0x2011511D, 53,  true , false},
  {'6', "QK410A",     "KM508R", "QK410A",     "QK410A-01",    0x2011511D, 27,  true , false},
  {'7', "QRX620A",    "KM513R", "QRX620A",    "QRX620A-1",    0x2011511D, 104, true , false},
  {'8', "QM-40",      "KM514R", "QM-40",      "QM-40_001",    0x2011511D, 58,  true , false},
  {'9', "EQRX320A",   "KM506E", "EQRX320A",   "EQRX320A1",    0x2011511D, 53,  true , false},
  {'a', "EQRX620A",   "KM513E", "EQRX620A",   "EQRX620A1",    0x2011511D, 104, true , false},
  {'b', "EQR5200PLS", "KM525R", "EQR5200PLS", "EQR5200A1",    0x2011511D, 27,  true , false},
  {'c', "EVT210",     "KM524R", "EVT210",     "EVT-210-1",    0x2011511C, 52,  false, true},
  {'d', "EQR860PLS",  "KM521R", "EQR860PLS",  "KM521RHR1",    0x20115119, 52,  false, false},
  {'e', "EQR880PLS",  "KM534R", "EQR880PLS",  "EQR880PLS",    0x2011511D, 104, true , false},
  {'f', "QR450PL",    "KM536R", "QR450A",     "QR450PL-1",    0x2011511D, 135, true , false},
  {'g', "QRX320PL",   "KM537R", "QRX320PL",   "QRX320PL1",    0x2011511D, 270, true , false},
  {'h', "QRX620PL",   "KM538R", "QRX620PL",   "QRX620PL1",    0x2011511D, 270, true , false},
  {'i', "QM-40P",     "KM539R", "QM-40P",     "QM-40P_01",    0x2011511D, 135, true , false},
}};

// Product codes first, so that the value-to-name lookup of any model gives its product code.
// Model 11's code stands before model 10's.
constexpr NameRow ModelNames[] = {
  {"", kNoModel},
  {"KM504R", 0},  {"KM503R", 1},  {"KM493R", 2},  {"KM500R", 3},  {"KM506R", 4},  {"KM508R", 5},
  {"KM513R", 6},  {"KM514R", 7},  {"KM506E", 8},  {"KM513E", 9},  {"KM524R", 11}, {"KM525R", 10},
  {"KM521R", 12}, {"KM534R", 13}, {"KM536R", 14}, {"KM537R", 15}, {"KM538R", 16}, {"KM539R", 17},
  {"QR140A", 0},  {"VT210", 1},   {"QR150M", 2},  {"QR770A", 3},  {"QRX320A", 4},  {"QK410A", 5},
  {"QRX620A", 6}, {"QM-40", 7},   {"EQRX320A", 8}, {"EQRX620A", 9}, {"EQR5200PLS", 10},
  {"EVT210", 11}, {"EQR860PLS", 12}, {"EQR880PLS", 13}, {"QR450A", 14}, {"QRX320PL", 15},
  {"QRX620PL", 16}, {"QM-40P", 17},
  {"", kEndOfNames},
};

constexpr NameRow ModeNames[] = {
  {"", kNoMode}, {"MASTER", kMaster}, {"SLAVE", kSlave}, {"COMPARE", kCompare}, {"", kEndOfNames},
};
// clang-format on

std::uint8_t LookupByName(const NameRow* table, std::string_view text) {
  for (const NameRow* row = table; !row->End(); ++row) {
    if (text == row->name) return static_cast<std::uint8_t>(row->value);
  }
  return static_cast<std::uint8_t>(table[0].value);
}

const char* LookupByValue(const NameRow* table, std::uint32_t value) {
  for (const NameRow* row = table; !row->End(); ++row) {
    if ((row->value & 0xFF) == (value & 0xFF)) return row->name.data();
  }
  return table[0].name.data();
}

MenuLine ModelMenuLine(std::size_t row) {
  MenuLine line{};
  const ModelEntry& left = kModels[2 * row];
  const ModelEntry& right = kModels[2 * row + 1];
  std::snprintf(line.data(), line.size(), "  %c : %-11.*s(%.*s)     %c : %-10.*s(%.*s)\n",
                left.menuKey, static_cast<int>(left.menuLabel.size()), left.menuLabel.data(),
                static_cast<int>(left.productCode.size()), left.productCode.data(), right.menuKey,
                static_cast<int>(right.menuLabel.size()), right.menuLabel.data(),
                static_cast<int>(right.productCode.size()), right.productCode.data());
  return line;
}

ModelId ModelForMenuKey(int key) {
  for (std::size_t id = 0; id < kModels.size(); ++id) {
    if (kModels[id].menuKey == key) return static_cast<ModelId>(id);
  }
  return kNoModel;
}

}  // namespace talven
