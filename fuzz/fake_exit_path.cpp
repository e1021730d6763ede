// The functions of process/exit_path.h and process/signals.h for the fuzz targets: nothing is
// closed or printed, no signal comes, and an exit unwinds to the fuzz entry point.
#include <cstdio>

#include "fuzz_exit.h"
#include "process/exit_path.h"
#include "process/signals.h"

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

void RunOnExit(void (*)()) {}
void DropFromExit(void (*)()) {}
void RunOnExit(void (*)(void*), void*) {}
void DropFromExit(void (*)(void*), void*) {}
int TakenSignal() {
  return 0;
}
void CheckInterrupt() {}

[[noreturn]] void ExitForSignal(int signal) {
  throw fuzz::ProcessExit{128 + signal};
}

void ReportError(const char*, const char*) {}

}  // namespace talven
