// Session setup: fills the session's settings from the command line, the prompts and the menus,
// and opens its clone file (Slave mode: gets its received file ready).
#pragma once

namespace talven {

struct SessionConfig;
class ReceivedFile;
class WireTrace;

// A trace that turns out to be one of the session's own files ends the session (status 2) before
// the file is opened.
void SetupSession(int argc, char** argv, SessionConfig& config, ReceivedFile& received,
                  WireTrace* trace = nullptr);

}  // namespace talven
