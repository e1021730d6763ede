// Session setup: fills the session's settings from the command line, the prompts and the menus,
// and opens its clone file (Slave mode: gets its received file ready).
#pragma once

namespace talven {

struct SessionConfig;
class ReceivedFile;
class WireTrace;

// How setup ended: ready for the transfer; stopped, its reason on standard error already (no
// keyboard for a menu, input ended at a prompt); the trace refused as one of the session's own
// files (a usage error); or interrupted by a recorded signal.
enum class SetupResult { kReady, kStopped, kTraceRefused, kInterrupted };

SetupResult SetupSession(int argc, char** argv, SessionConfig& config, ReceivedFile& received,
                         WireTrace* trace = nullptr);

}  // namespace talven
