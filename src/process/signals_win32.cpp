#include <windows.h>

#include <csignal>

#include "process/exit_path.h"
#include "process/signals.h"

namespace talven {

namespace {

volatile LONG gTakenSignal = 0;
volatile LONG gExitingThread = 0;  // the id of the thread that runs the exit path

// Console events arrive on a thread of their own. The main thread notices the flag within one of
// its bounded waits; should it be stuck elsewhere, this thread leaves on its behalf.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const LONG signal = (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ? SIGINT : SIGTERM;
  InterlockedExchange(&gTakenSignal, signal);
  Sleep(1000);
  ExitForSignal(signal);
}

}  // namespace

void InstallSignalHandlers() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int TakenSignal() {
  return static_cast<int>(InterlockedCompareExchange(&gTakenSignal, 0, 0));
}

void EnterExitPath() {
  const auto self = static_cast<LONG>(GetCurrentThreadId());
  const LONG owner = InterlockedCompareExchange(&gExitingThread, self, 0);
  if (owner == 0 || owner == self) return;
  // Both threads closing the same handles would race; the owner ends the process.
  for (;;) Sleep(INFINITE);
}

}  // namespace talven
