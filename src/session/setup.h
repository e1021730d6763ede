// Session setup: fills the SessionConfig from the command line, the prompts and the menus.
#pragma once

namespace talven {

void SetupSession(int argc, char** argv);

}  // namespace talven
