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

// Text held inside a table row, NUL-terminated, so that the tables carry no pointers and stay in
// read-only memory. A text longer than Capacity does not compile.
template <std::size_t Capacity>
class RowText {
 public:
  // Rows are written with string literals.
  constexpr RowText(const char* text) {  // NOLINT(google-explicit-constructor)
    std::size_t n = 0;
    for (; text[n] != '\0'; ++n) {
      if (n == Capacity) throw "row text too long";
      text_[n] = text[n];
    }
    size_ = static_cast<std::uint8_t>(n);
  }
  constexpr const char* data() const { return text_; }
  constexpr std::size_t size() const { return size_; }
  constexpr operator std::string_view() const { return {text_, size_}; }
  friend constexpr bool operator==(const RowText& row, std::string_view text) {
    return std::string_view(row) == text;
  }

 private:
  char text_[Capacity + 1] = {};
  std::uint8_t size_ = 0;
};

using NameText = RowText<10>;

struct ModelEntry {
  char menuKey;
  NameText menuLabel;
  RowText<6> productCode;
  NameText commandLineLabel;  // the second command-line name; differs from the menu label once
  RowText<9> cloneIdentity;   // answered to the scanner's "MDL"
  std::uint32_t linkSettingsWord;
  std::uint32_t progressInterval;  // never 0
  bool checksumRequired;           // the master transfer ends with "SUM"
  bool compareAllowed;
};

inline constexpr std::size_t kModelCount = 18;
extern const std::array<ModelEntry, kModelCount> kModels;

// A name table row. The first row is the default ("" -> the table's "not chosen"); a row whose
// value is kEndOfNames ends the table.
inline constexpr std::uint32_t kEndOfNames = 0xFFFFFFFF;
struct NameRow {
  NameText name;
  std::uint32_t value;
  constexpr bool End() const { return value == kEndOfNames; }
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
