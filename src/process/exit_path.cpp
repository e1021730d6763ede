#include "process/exit_path.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>

#include "process/console.h"
#include "process/signals.h"
#include "process/text_io.h"

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
  if (gExit.pause) PauseForKey("\nPress any key!!");
  RestoreConsole();
  std::fflush(stdout);
  std::exit(ProcessStatus(code));
}

int ProcessStatus(int code) {
  return code & 0xFF;
}

void ReportError(const char* what, const char* reason) {
  std::fflush(stdout);
  const std::string line = std::string("talven: ") + what + ": " + reason + "\n";
  PrintText(stderr, line.c_str());
}

}  // namespace talven
