#include "process/exit_path.h"

#include <cstdio>

#include "process/console.h"
#include "process/platform.h"
#include "process/signals.h"

namespace talven {

namespace {

// Whether standard output holds a line that an error must end first.
bool gUnfinishedLine = false;

}  // namespace

int StatusForSignal(int signal) {
  char what[32];
  std::snprintf(what, sizeof what, "signal %d", signal);
  ReportError(what, "ended the session");
  return 128 + signal;
}

int EndProcess(int status, bool pauseForKey) {
  ExitPathDone();
  if (pauseForKey) {
    std::printf("\nPress any key!!");
    std::fflush(stdout);
    // Without a console there is nobody to press a key: the wait is skipped.
    const int key = WaitForKey() ? ReadKeyEcho() : -1;
    // A signal that ends the wait ends the process as it would anywhere else.
    if (const int signal = TakenSignal(); key < 0 && signal != 0) status = StatusForSignal(signal);
  }
  RestoreConsole();
  std::fflush(stdout);
  return status;
}

void NoteUnfinishedLine(bool unfinished) {
  gUnfinishedLine = unfinished;
}

bool LineUnfinished() {
  return gUnfinishedLine;
}

void EndLineBeforeError() {
  if (gUnfinishedLine && ErrorsShareStandardOutput()) {
    std::fputc('\n', stdout);
    gUnfinishedLine = false;
  }
  std::fflush(stdout);
}

void ReportError(const char* what, const char* reason) {
  EndLineBeforeError();
  std::fprintf(stderr, "talven: %s: %s\n", what, reason);
}

}  // namespace talven
