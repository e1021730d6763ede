#include "process/exit_path.h"

#include <cstdio>
#include <string>

#include "process/console.h"
#include "process/platform.h"
#include "process/signals.h"
#include "process/text_io.h"

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
    // Shown where the user sees it; without a console there is nobody to press a key.
    const int key = PauseForKey("\nPress any key!!");
    // A signal that ends the wait ends the process as it would anywhere else.
    if (const int signal = TakenSignal(); key < 0 && signal != 0) status = StatusForSignal(signal);
  }
  RestoreConsole();
  std::fflush(stdout);
  return ProcessStatus(status);
}

int ProcessStatus(int code) {
  return code & 0xFF;
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
  const std::string line = std::string("talven: ") + what + ": " + reason + "\n";
  PrintText(stderr, line.c_str());
}

}  // namespace talven
