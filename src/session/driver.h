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

// How a session ended, for main to end the process with: the exit status, and whether the user is
// asked for a key first ("Press any key!!"), which a signal never is.
struct SessionEnd {
  int status = 0;
  bool pauseForKey = true;
};

// Runs the whole session, its port's bytes going to the trace (which may not be running), and
// answers how it ended once the session has closed everything it opened. A result of "error"
// ends with failedStatus (0 by default: the result line tells).
SessionEnd RunSession(WireTrace& trace, const TransferOptions& options, int argc, char** argv,
                      int failedStatus = 0);

}  // namespace talven
