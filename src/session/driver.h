// The session driver: one session from the banner to the exit.
#pragma once

namespace talven {

inline constexpr const char* kVersionText = "Version 0.07H";

// Runs the whole session; never returns.
[[noreturn]] void RunSession(int argc, char** argv);

}  // namespace talven
