// The check Master mode makes before it sends anything: every record, read as the transfer reads
// it, must pass the checksum test that Slave mode applies to received records. A scanner that
// refuses a record halfway through is left with a mix of old and new data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace talven {

struct LineFault {
  std::uint32_t line = 0;
  char reason[96] = {};
};

struct CloneFileCheck {
  static constexpr std::size_t kFaultsKept = 10;
  std::uint32_t records = 0;  // lines the file yields
  std::uint32_t faultCount = 0;
  LineFault faults[kFaultsKept];  // the first ones, in line order

  bool Passed() const { return records > 0 && faultCount == 0; }
};

// Reads the file to its end as the transfer does: a line longer than one read would go out as more
// than one record and fails.
CloneFileCheck CheckCloneFile(std::FILE* file);

}  // namespace talven
