// Platform part of the exit path: catching the signals and console events that end the program.
#pragma once

namespace talven {

void InstallSignalHandlers();
int TakenSignal();  // 0 when none has arrived
// Returns in the one thread that runs the exit path (again, should it re-enter); a thread that
// comes later while another runs it waits here until the process ends.
void EnterExitPath();

}  // namespace talven
