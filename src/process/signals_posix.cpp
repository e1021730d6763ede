#include <csignal>
#include <initializer_list>

#include "process/signals.h"

namespace talven {

namespace {

volatile std::sig_atomic_t gTakenSignal = 0;

void RecordSignal(int signal) {
  gTakenSignal = signal;
}

}  // namespace

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = RecordSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocked read or poll returns EINTR so the main thread can leave cleanly.
  action.sa_flags = 0;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // Output nobody reads any more (a pager that quit) must not kill the process with the clone file
  // and the mismatch log unwritten: the write fails instead and the transfer goes on.
  std::signal(SIGPIPE, SIG_IGN);
}

int TakenSignal() {
  return gTakenSignal;
}

// The handler has run by the time the interrupted read returns.
int SignalAfterEmptyRead() {
  return gTakenSignal;
}

// The handlers only record the signal: the session ends on the main thread alone.
void ExitPathDone() {}

}  // namespace talven
