// The bottom floor: the fixed catalogue of scanner models. It includes nothing of the program.
//
// The fixed catalogue of scanner models and the name tables that turn command-line words into
// values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talven {

using ModelId = std::uint8_t;
inline constexpr ModelId kNoModel = 255;

// Values of the session's transfer mode; 255 means not chosen yet.
enum TransferMode : std::int32_t { kMaster = 0, kSlave = 1, kCompare = 2, kNoMode = 255 };

struct ModelEntry {
  char menuKey;
  std::string_view menuLabel;
  std::string_view productCode;
  std::string_view
      commandLineLabel;            // the second command-line name; differs from the menu label once
  std::string_view cloneIdentity;  // answered to the scanner's "MDL"
  std::uint32_t linkSettingsWord;
  std::uint32_t progressInterval;  // never 0
  bool checksumRequired;           // the master transfer ends with "SUM"
  bool compareAllowed;
};

inline constexpr std::size_t kModelCount = 18;
extern const std::array<ModelEntry, kModelCount> kModels;

// A name table row. The first row is the default ("" -> the table's "not chosen"); a row whose name
// is null ends the table.
struct NameRow {
  const char* name;
  std::uint32_t value;
};

extern const NameRow ModelNames[];
extern const NameRow ModeNames[];

std::uint8_t LookupByName(const NameRow* table, std::string_view text);
const char* LookupByValue(const NameRow* table, std::uint32_t value);

// The model menu: nine lines of two models each, 53 characters with the line end.
inline constexpr std::size_t kMenuLineCount = 9;
inline constexpr std::size_t kMenuLineLength = 53;
using MenuLine = std::array<char, kMenuLineLength + 1>;
MenuLine ModelMenuLine(std::size_t row);

// The model a menu key picks, or kNoModel for any other key.
ModelId ModelForMenuKey(int key);

}  // namespace talven
