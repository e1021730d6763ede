// Platform part of the exit path: catching the signals and console events that end the program.
#pragma once

namespace talven {

void InstallSignalHandlers();
int TakenSignal();  // 0 when none has arrived

}  // namespace talven
