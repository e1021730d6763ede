// The functions of session/exit_path.h for the fuzz targets: nothing is closed or printed, and an
// exit unwinds to the fuzz entry point.
#include <cstdio>

#include "fuzz_exit.h"
#include "session/exit_path.h"

namespace talven {

[[noreturn]] void Terminate(int code) {
  throw fuzz::ProcessExit{code};
}

void TrackOpenFile(std::FILE*) {}

bool CloseTrackedFile(std::FILE*& file) {
  const bool closed = file == nullptr || std::fclose(file) == 0;
  file = nullptr;
  return closed;
}

void SetExitCleanup(void (*)()) {}

void InstallExitSignals() {}
int PendingSignal() {
  return 0;
}
void CheckInterrupt() {}

[[noreturn]] void ExitForSignal(int signal) {
  throw fuzz::ProcessExit{128 + signal};
}

[[noreturn]] void LeaveForPortError(const char*) {
  throw fuzz::ProcessExit{-1};
}

void ReportError(const char*, const char*) {}

}  // namespace talven
