#include "process/exit_path.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "process/console.h"
#include "process/platform.h"
#include "process/signals.h"

namespace talven {

namespace {

// An action on its object.
struct ExitAction {
  void (*action)(void*) = nullptr;
  void* object = nullptr;

  bool operator==(const ExitAction&) const = default;
  bool Empty() const { return action == nullptr; }
  void Run() const { action(object); }
};

// What the way out does: the process's one record of it.
struct ExitPlan {
  std::array<std::FILE*, 4> trackedFiles{};
  std::array<ExitAction, 4> actions{};
  bool pause = true;
  bool unfinishedLine = false;  // on standard output
};
ExitPlan gExit;

void Add(const ExitAction& action) {
  if (std::find(gExit.actions.begin(), gExit.actions.end(), action) != gExit.actions.end()) return;
  const auto free = std::find(gExit.actions.begin(), gExit.actions.end(), ExitAction{});
  if (free != gExit.actions.end()) *free = action;
}

void Drop(const ExitAction& action) {
  for (auto& slot : gExit.actions) {
    if (slot == action) slot = ExitAction{};
  }
}

void CloseEverything() {
  for (std::FILE*& file : gExit.trackedFiles) {
    if (file != nullptr) {
      std::fclose(file);
      file = nullptr;
    }
  }
  // Each runs once, also when a signal comes during the exit key's wait and the way out begins
  // again.
  for (auto& slot : gExit.actions) {
    if (const ExitAction action = slot; !action.Empty()) {
      slot = ExitAction{};
      action.Run();
    }
  }
}

}  // namespace

void RunOnExit(void (*action)(void*), void* object) {
  Add({action, object});
}

void DropFromExit(void (*action)(void*), void* object) {
  Drop({action, object});
}

void PauseOnExit(bool pause) {
  gExit.pause = pause;
}

void TrackOpenFile(std::FILE* file) {
  for (std::FILE*& slot : gExit.trackedFiles) {
    if (slot == nullptr) {
      slot = file;
      return;
    }
  }
}

bool CloseTrackedFile(std::FILE*& file) {
  if (file == nullptr) return true;
  for (std::FILE*& slot : gExit.trackedFiles) {
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
  CloseEverything();
  RestoreConsole();
  std::fflush(stdout);
  ExitPathDone();
  std::_Exit(128 + signal);
}

[[noreturn]] void Terminate(int code) {
  CloseEverything();
  ExitPathDone();
  if (gExit.pause) {
    std::printf("\nPress any key!!");
    std::fflush(stdout);
    // Without a console there is nobody to press a key: the wait is skipped.
    if (WaitForKey()) ReadKeyEcho();
  }
  RestoreConsole();
  std::fflush(stdout);
  std::exit(code);
}

void NoteUnfinishedLine(bool unfinished) {
  gExit.unfinishedLine = unfinished;
}

bool LineUnfinished() {
  return gExit.unfinishedLine;
}

void EndLineBeforeError() {
  if (gExit.unfinishedLine && ErrorsShareStandardOutput()) {
    std::fputc('\n', stdout);
    gExit.unfinishedLine = false;
  }
  std::fflush(stdout);
}

void ReportError(const char* what, const char* reason) {
  EndLineBeforeError();
  std::fprintf(stderr, "talven: %s: %s\n", what, reason);
}

}  // namespace talven
