// The check Master mode makes before it sends anything: every record, read as the transfer reads
// it, must pass the record rule, which --check applies too. A scanner that refuses a record
// halfway through is left with a mix of old and new data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace talven {

struct LineFault {
  std::uint32_t line = 0;
  char reason[112] = {};
};

struct CloneFileCheck {
  static constexpr std::size_t kFaultsKept = 10;
  std::uint32_t records = 0;  // lines the file yields
  std::uint32_t faultCount = 0;
  LineFault faults[kFaultsKept];  // the first ones, in line order

  bool Passed() const { return records > 0 && faultCount == 0; }
};

// Reads the file to its end as the transfer does: a line longer than one read would go out as more
// than one record and fails as a whole.
CloneFileCheck CheckCloneFile(std::FILE* file);

}  // namespace talven
