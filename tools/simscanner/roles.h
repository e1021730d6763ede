// The two sides a scanner plays in a clone transfer. Each answers the process exit status: 0 when
// the session was complete and consistent, 1 when not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link.h"
#include "options.h"
#include "records.h"

namespace simscanner {

int RunMasterRole(Link& link, const Options& options, const RecordSet& records);
int RunSlaveRole(Link& link, const Options& options);

// Messages on stderr, each line prefixed with the program name.
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A received or sent line as text that shows its control and high bytes.
std::string Visible(std::string_view line);

// Session rate for the closing message.
struct Stopwatch {
  Clock::time_point start = Clock::now();
  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
};

}  // namespace simscanner
