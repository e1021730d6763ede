// The pieces that decide how Windows ends a session: which console events hold the handler until
// the main thread's exit path is done, and a port whose read wait cannot be set counting as failed
// (its waits would otherwise return at once and spin).
#include <windows.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "process/signals.h"
#include "serial/port_backend.h"

namespace talven {
namespace {

TEST(ConsoleEvents, OnlyCloseLogoffAndShutdownWaitForTheExitPath) {
  struct Case {
    DWORD event;
    int signal;
    bool waits;
  };
  for (const Case& c :
       {Case{CTRL_C_EVENT, SIGINT, false}, Case{CTRL_BREAK_EVENT, SIGINT, false},
        Case{CTRL_CLOSE_EVENT, SIGTERM, true}, Case{CTRL_LOGOFF_EVENT, SIGTERM, true},
        Case{CTRL_SHUTDOWN_EVENT, SIGTERM, true}}) {
    const ConsoleEventPlan plan = PlanForConsoleEvent(c.event);
    EXPECT_EQ(plan.signal, c.signal) << c.event;
    EXPECT_EQ(plan.waitForExitPath, c.waits) << c.event;
  }
}

// A plain file refuses every communications call, with an error that says nothing of a device gone.
TEST(PortTimeouts, AReadWaitThatCannotBeSetFailsThePort) {
  char name[MAX_PATH];
  std::snprintf(name, sizeof name, "talven-timeouts-%lu.tmp", GetCurrentProcessId());
  const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  PortError error;
  detail::PortEntry entry;
  entry.open = 1;
  entry.handle = handle;
  entry.error = &error;
  EXPECT_EQ(detail::BackendSetReadTimeout(entry, 100), kPortCallFailed);
  EXPECT_TRUE(entry.failed);
  const ULONGLONG start = GetTickCount64();
  unsigned char byte = 0;
  EXPECT_EQ(detail::BackendReadArriving(entry, &byte, 1, 100), 0);
  EXPECT_EQ(detail::BackendRead(entry, &byte, 1), 0);
  EXPECT_LT(GetTickCount64() - start, 1000u);
  CloseHandle(handle);
}

}  // namespace
}  // namespace talven
