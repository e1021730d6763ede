#include "process/exit_path.h"

#include <array>
#include <cstdlib>

#include "process/config.h"
#include "process/console.h"
#include "process/signals.h"

namespace talven {

namespace {

std::array<std::FILE*, 4> gTrackedFiles{};
std::array<void (*)(), 4> gClosings{};
void (*volatile gExitCleanup)() = nullptr;

void CloseEverything() {
  for (void (*close)() : gClosings) {
    if (close != nullptr) close();
  }
  for (std::FILE*& file : gTrackedFiles) {
    if (file != nullptr) {
      std::fclose(file);
      file = nullptr;
    }
  }
  gConfig.cloneFile = nullptr;
  // Once only, also when a console event and the main thread both leave.
  if (void (*const cleanup)() = gExitCleanup; cleanup != nullptr) {
    gExitCleanup = nullptr;
    cleanup();
  }
}

}  // namespace

void CloseOnExit(void (*close)()) {
  for (auto& slot : gClosings) {
    if (slot == close) return;
    if (slot == nullptr) {
      slot = close;
      return;
    }
  }
}

void TrackOpenFile(std::FILE* file) {
  for (std::FILE*& slot : gTrackedFiles) {
    if (slot == nullptr) {
      slot = file;
      return;
    }
  }
}

bool CloseTrackedFile(std::FILE*& file) {
  if (file == nullptr) return true;
  for (std::FILE*& slot : gTrackedFiles) {
    if (slot == file) slot = nullptr;
  }
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  return closed;
}

void SetExitCleanup(void (*cleanup)()) {
  gExitCleanup = cleanup;
}

void CheckInterrupt() {
  if (const int signal = TakenSignal(); signal != 0) ExitForSignal(signal);
}

[[noreturn]] void ExitForSignal(int signal) {
  char what[32];
  std::snprintf(what, sizeof what, "signal %d", signal);
  ReportError(what, "ended the session");
  EnterExitPath();
  CloseEverything();
  RestoreConsole();
  std::fflush(stdout);
  std::_Exit(128 + signal);
}

[[noreturn]] void Terminate(int code) {
  EnterExitPath();
  CloseEverything();
  if (gConfig.pauseOnExit) {
    std::printf("\nPress any key!!");
    std::fflush(stdout);
    // Without a console there is nobody to press a key: the wait is skipped.
    if (WaitForKey()) ReadKeyEcho();
  }
  RestoreConsole();
  std::fflush(stdout);
  std::exit(code);
}

void ReportError(const char* what, const char* reason) {
  std::fflush(stdout);
  std::fprintf(stderr, "talven: %s: %s\n", what, reason);
}

}  // namespace talven
