// The top floor: the session itself (option parsing, setup's prompts and menus, the driver). Files
// here may include every floor below: the transfers, the serial link, the ground and the models.
//
// The session driver: one session from the banner to the exit.
#pragma once

#include "session/version.h"

namespace talven {

class WireTrace;
struct TransferOptions;

inline constexpr const char* kVersionText = "Version " TALVEN_VERSION;

// Runs the whole session, its port's bytes going to the trace (which may not be running); never
// returns. A result of "error" exits with failedStatus (0 by default: the result line tells).
[[noreturn]] void RunSession(WireTrace& trace, const TransferOptions& options, int argc,
                             char** argv, int failedStatus = 0);

}  // namespace talven
