#include "session/exit_path.h"

#include <array>
#include <cstdlib>

#include "serial/port.h"
#include "session/config.h"
#include "session/console.h"
#include "session/signals.h"

namespace talven {

namespace {

std::array<std::FILE*, 4> gTrackedFiles{};
void (*volatile gExitCleanup)() = nullptr;

void CloseAllTrackedFiles() {
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

void InstallExitSignals() {
  InstallSignalHandlers();
}

int PendingSignal() {
  return TakenSignal();
}

void CheckInterrupt() {
  if (const int signal = TakenSignal(); signal != 0) ExitForSignal(signal);
}

[[noreturn]] void ExitForSignal(int signal) {
  CloseAllPorts();
  CloseAllTrackedFiles();
  RestoreConsole();
  std::fflush(stdout);
  std::_Exit(128 + signal);
}

[[noreturn]] void Terminate(int code) {
  CloseAllPorts();
  CloseAllTrackedFiles();
  if (gConfig.pauseOnExit == 1) {
    std::printf("\nPress any key!!");
    std::fflush(stdout);
    // Without a console there is nobody to press a key: the wait is skipped.
    if (WaitForKey()) ReadKeyEcho();
  }
  RestoreConsole();
  std::fflush(stdout);
  std::exit(code);
}

[[noreturn]] void LeaveForPortError(const char* reason) {
  std::printf("RS-232C ERROR\n");
  char device[1100];
  if (gConfig.port >= kFirstPort && gConfig.port <= kLastPort) {
    FormatDevicePath(gConfig.port, device, sizeof device);
  } else {
    std::snprintf(device, sizeof device, "port %d", gConfig.port);
  }
  ReportError(device, reason);
  Terminate(-1);
}

void ReportError(const char* what, const char* reason) {
  std::fflush(stdout);
  std::fprintf(stderr, "talven: %s: %s\n", what, reason);
}

}  // namespace talven
