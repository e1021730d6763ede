// The functions of process/exit_path.h and process/signals.h that the code under fuzzing calls:
// nothing is closed or printed and no signal comes. Nothing below the session ends the process, so
// there is no Terminate here to fake.
#include <cstdio>

#include "process/exit_path.h"
#include "process/signals.h"

namespace talven {

void TrackOpenFile(std::FILE*) {}

bool CloseTrackedFile(std::FILE*& file) {
  const bool closed = file == nullptr || std::fclose(file) == 0;
  file = nullptr;
  return closed;
}

void RunOnExit(void (*)(void*), void*) {}
void DropFromExit(void (*)(void*), void*) {}
int TakenSignal() {
  return 0;
}
void CheckInterrupt() {}

void ReportError(const char*, const char*) {}
void NoteUnfinishedLine(bool) {}
bool LineUnfinished() {
  return false;
}
void EndLineBeforeError() {}

}  // namespace talven
