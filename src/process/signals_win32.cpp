#include <windows.h>

#include <csignal>

#include "process/exit_path.h"
#include "process/signals.h"

namespace talven {

namespace {

// Windows ends a process about five seconds after a close event; the exit path gets most of them.
constexpr DWORD kExitPathWaitMs = 4500;
// How long a console read that Ctrl+C ended may come back before the handler has recorded it.
constexpr int kLateSignalWaitMs = 250;
constexpr int kLateSignalStepMs = 10;

volatile LONG gTakenSignal = 0;
// The console event thread's wait for the main thread's exit path: set once that is done.
HANDLE gExitPathDone = nullptr;

// Console events arrive on a thread of their own, which only records them: the main thread notices
// the flag within one of its bounded waits, returns, and its session's owners close what they
// opened on the way out, so no two threads ever close the same files and ports.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const ConsoleEventPlan plan = PlanForConsoleEvent(event);
  InterlockedExchange(&gTakenSignal, plan.signal);
  if (plan.waitForExitPath && gExitPathDone != nullptr) {
    WaitForSingleObject(gExitPathDone, kExitPathWaitMs);
  }
  return TRUE;
}

}  // namespace

ConsoleEventPlan PlanForConsoleEvent(unsigned long event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return {SIGINT, false};
  return {SIGTERM, true};
}

void InstallSignalHandlers() {
  if (gExitPathDone == nullptr) gExitPathDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int TakenSignal() {
  return static_cast<int>(InterlockedCompareExchange(&gTakenSignal, 0, 0));
}

int SignalAfterEmptyRead() {
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return TakenSignal();
  for (int waited = 0; TakenSignal() == 0 && waited < kLateSignalWaitMs;
       waited += kLateSignalStepMs) {
    Sleep(kLateSignalStepMs);
  }
  return TakenSignal();
}

void ExitPathDone() {
  if (gExitPathDone != nullptr) SetEvent(gExitPathDone);
}

}  // namespace talven
