// The session driver: one session from the banner to the exit.
#pragma once

namespace talven {

inline constexpr const char* kVersionText = "Version 0.07H";

// Runs the whole session; never returns. A result of "error" exits with failedStatus (0 by
// default: the result line tells).
[[noreturn]] void RunSession(int argc, char** argv, int failedStatus = 0);

}  // namespace talven
