#include "process/exit_path.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "process/config.h"
#include "process/console.h"
#include "process/signals.h"

namespace talven {

namespace {

std::array<std::FILE*, 4> gTrackedFiles{};
// A plain action, or an action on an object.
struct ExitAction {
  void (*plain)() = nullptr;
  void (*onObject)(void*) = nullptr;
  void* object = nullptr;

  bool operator==(const ExitAction&) const = default;
  bool Empty() const { return plain == nullptr && onObject == nullptr; }
  void Run() const {
    if (plain != nullptr) plain();
    if (onObject != nullptr) onObject(object);
  }
};

std::array<ExitAction, 4> gExitActions{};

void Add(const ExitAction& action) {
  if (std::find(gExitActions.begin(), gExitActions.end(), action) != gExitActions.end()) return;
  const auto free = std::find(gExitActions.begin(), gExitActions.end(), ExitAction{});
  if (free != gExitActions.end()) *free = action;
}

void Drop(const ExitAction& action) {
  for (auto& slot : gExitActions) {
    if (slot == action) slot = ExitAction{};
  }
}

void CloseEverything() {
  for (std::FILE*& file : gTrackedFiles) {
    if (file != nullptr) {
      std::fclose(file);
      file = nullptr;
    }
  }
  gConfig.cloneFile = nullptr;
  // Each runs once, also when a signal comes during the exit key's wait and the way out begins
  // again.
  for (auto& slot : gExitActions) {
    if (const ExitAction action = slot; !action.Empty()) {
      slot = ExitAction{};
      action.Run();
    }
  }
}

}  // namespace

void RunOnExit(void (*action)()) {
  Add({action, nullptr, nullptr});
}

void DropFromExit(void (*action)()) {
  Drop({action, nullptr, nullptr});
}

void RunOnExit(void (*action)(void*), void* object) {
  Add({nullptr, action, object});
}

void DropFromExit(void (*action)(void*), void* object) {
  Drop({nullptr, action, object});
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
  ExitPathDone();
  std::_Exit(128 + signal);
}

[[noreturn]] void Terminate(int code) {
  EnterExitPath();
  CloseEverything();
  ExitPathDone();
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

namespace {
bool gMarksOnLine = false;
}  // namespace

void PrintProgressMarkOnLine() {
  std::printf("o");
  gMarksOnLine = true;
}

void EndProgressLine() {
  if (gMarksOnLine) std::printf("\n");
  gMarksOnLine = false;
}

void ProgressLineEnded() {
  gMarksOnLine = false;
}

void ReportError(const char* what, const char* reason) {
  std::fflush(stdout);
  std::fprintf(stderr, "talven: %s: %s\n", what, reason);
}

}  // namespace talven
