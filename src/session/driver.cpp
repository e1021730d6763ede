#include "session/driver.h"

#include <cstdio>
#include <cstring>

#include "clone/transfer.h"
#include "serial/port.h"
#include "session/clock.h"
#include "session/config.h"
#include "session/exit_path.h"
#include "session/platform.h"
#include "session/setup.h"

namespace talven {

namespace {

inline constexpr std::int32_t kQueueSize = 4096;
inline constexpr std::int32_t kReadTimeoutMs = 100;

// The line on standard error says which device failed and why; the console line stays as it is.
[[noreturn]] void LeaveForPortError(bool settingsRefused) {
  std::printf("RS-232C ERROR\n");
  char device[1100];
  if (gConfig.port >= kFirstPort && gConfig.port <= kLastPort) {
    FormatDevicePath(gConfig.port, device, sizeof device);
  } else {
    std::snprintf(device, sizeof device, "port %d", gConfig.port);
  }
  if (settingsRefused) {
    char reason[400];
    const auto baud = DecodeLinkSettings(ChosenModel().linkSettingsWord).baudRate;
    std::snprintf(reason, sizeof reason, "settings not accepted (%u baud): %s",
                  static_cast<unsigned>(baud.value_or(0)), LastPortErrorText());
    ReportError(device, reason);
  } else {
    // The two commonest mistakes have a next step to suggest.
    const char* reason = LastPortErrorText();
    const char* hint = "";
    if (std::strncmp(reason, "no such", 7) == 0) {
      hint = "; talven --list-ports lists the serial ports there are";
    } else if (std::strcmp(reason, "in use by another program") == 0) {
      hint = "; close that program and try again";
    }
    char text[400];
    std::snprintf(text, sizeof text, "%s%s", reason, hint);
    ReportError(device, text);
  }
  Terminate(-1);
}

int RunTransfer() {
  switch (gConfig.mode) {
    case kMaster:
      return RunMaster();
    case kSlave:
      return RunSlave();
    case kCompare:
      return ChosenModel().compareAllowed ? RunCompare() : 0;
    default:
      return 0;
  }
}

}  // namespace

[[noreturn]] void RunSession(int argc, char** argv) {
  ConfigureStandardOutput();
  InstallExitSignals();
  std::printf("               ***** TALVEN EMULATOR PRO %s *****\n\n", kVersionText);

  SetupSession(argc, argv);

  if (gConfig.portPath[0] != '\0') AssignDevicePath(gConfig.port, gConfig.portPath);
  if (OpenPort(gConfig.port, kQueueSize, kQueueSize) != kPortOk) LeaveForPortError(false);
  if (ApplyLinkSettings(gConfig.port, ChosenModel().linkSettingsWord) != kPortOk) {
    LeaveForPortError(true);
  }
  SetReadTimeout(gConfig.port, kReadTimeoutMs);

  const int result = RunTransfer();

  SubtractTimeOfDay(gStopwatch.end, gStopwatch.start);
  if (result == 1) {
    std::printf("\n\n(^_^)/  complete\n");
    char line[96];
    FormatTotalTime(gStopwatch.end, line, sizeof line);
    std::fputs(line, stdout);
  } else {
    std::printf("\n\n(x_x);  error\n");
  }
  CloseAllPorts();
  Terminate(0);
}

}  // namespace talven
