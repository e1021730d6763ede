#include <windows.h>

#include <csignal>

#include "process/exit_path.h"
#include "process/signals.h"

namespace talven {

namespace {

// Windows ends a process about five seconds after a close event; the exit path gets most of them.
constexpr DWORD kExitPathWaitMs = 4500;

volatile LONG gTakenSignal = 0;
// The console event thread's wait for the main thread's exit path.
struct ExitHandshake {
  volatile LONG exitingThread = 0;  // the id of the thread that runs the exit path
  HANDLE done = nullptr;            // set by the main thread's exit path
};
ExitHandshake gExitPath;

// Console events arrive on a thread of their own, which only records them: the main thread notices
// the flag within one of its bounded waits and runs the exit path, so no two threads ever close
// the same files and ports.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const ConsoleEventPlan plan = PlanForConsoleEvent(event);
  InterlockedExchange(&gTakenSignal, plan.signal);
  if (plan.waitForExitPath && gExitPath.done != nullptr) {
    WaitForSingleObject(gExitPath.done, kExitPathWaitMs);
  }
  return TRUE;
}

}  // namespace

ConsoleEventPlan PlanForConsoleEvent(unsigned long event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return {SIGINT, false};
  return {SIGTERM, true};
}

void InstallSignalHandlers() {
  if (gExitPath.done == nullptr) gExitPath.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int TakenSignal() {
  return static_cast<int>(InterlockedCompareExchange(&gTakenSignal, 0, 0));
}

void EnterExitPath() {
  const auto self = static_cast<LONG>(GetCurrentThreadId());
  const LONG owner = InterlockedCompareExchange(&gExitPath.exitingThread, self, 0);
  if (owner == 0 || owner == self) return;
  // Both threads closing the same handles would race; the owner ends the process.
  for (;;) Sleep(INFINITE);
}

void ExitPathDone() {
  if (gExitPath.done != nullptr) SetEvent(gExitPath.done);
}

}  // namespace talven
