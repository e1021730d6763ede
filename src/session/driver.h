// The session driver: one session from the banner to the exit.
#pragma once

#include "session/version.h"

namespace talven {

inline constexpr const char* kVersionText = "Version " TALVEN_VERSION;

// Runs the whole session; never returns.
[[noreturn]] void RunSession(int argc, char** argv);

}  // namespace talven
