// Session setup: fills the session's settings from the command line, the prompts and the menus,
// and opens its clone file (Slave mode: gets its received file ready).
#pragma once

namespace talven {

struct SessionConfig;
struct ReceivedFile;

void SetupSession(int argc, char** argv, SessionConfig& config, ReceivedFile& received);

}  // namespace talven
