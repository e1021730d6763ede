#include "session/driver.h"

#include <cstdio>

#include "clone/transfer.h"
#include "clone/transfer_lines.h"
#include "process/clock.h"
#include "process/config.h"
#include "process/exit_path.h"
#include "process/platform.h"
#include "process/signals.h"
#include "serial/line_exchange.h"
#include "serial/port.h"
#include "serial/wire_trace.h"
#include "session/setup.h"

namespace talven {

namespace {

inline constexpr std::int32_t kQueueSize = 4096;
inline constexpr std::int32_t kReadTimeoutMs = 100;

// The reason for a port that would not open or take the model's settings, with a next step for
// the commonest mistakes.
void DescribeOpenFailure(const PortRegistry& ports, char* reason, std::size_t capacity) {
  const char* text = ports.LastPortErrorText();
  switch (ports.LastPortFault()) {
    case PortFault::kSettingsRefused: {
      const auto baud = DecodeLinkSettings(ChosenModel().linkSettingsWord).baudRate;
      std::snprintf(reason, capacity, "settings not accepted (%u baud): %s",
                    static_cast<unsigned>(baud.value_or(0)), text);
      return;
    }
    case PortFault::kNotFound:
      std::snprintf(reason, capacity, "%s; talven --list-ports lists the serial ports there are",
                    text);
      return;
    case PortFault::kInUse:
      std::snprintf(reason, capacity, "%s; close that program and try again", text);
      return;
    default:
      std::snprintf(reason, capacity, "%s", text);
      return;
  }
}

// The end of a session whose serial port failed: "RS-232C ERROR" on standard output, the
// session's device and the reason on standard error, and Terminate(-1). The port could not be
// opened, took no settings, or failed under a transfer.
[[noreturn]] void LeaveForPortError(const PortRegistry& ports, const char* reason) {
  EndProgressLine();
  std::printf("RS-232C ERROR\n");
  char device[1100];
  if (gConfig.port >= kFirstPort && gConfig.port <= kLastPort) {
    ports.FormatDevicePath(gConfig.port, device, sizeof device);
  } else {
    std::snprintf(device, sizeof device, "port %d", gConfig.port);
  }
  ReportError(device, reason);
  Terminate(-1);
}

[[noreturn]] void LeaveForOpenFailure(const PortRegistry& ports) {
  char reason[400];
  DescribeOpenFailure(ports, reason, sizeof reason);
  LeaveForPortError(ports, reason);
}

void LeaveForFailedLine(const LineExchange& exchange, const char* reason) {
  LeaveForPortError(exchange.Ports(), reason);
}

bool RunTransfer() {
  switch (gConfig.mode) {
    case kMaster:
      return RunMaster();
    case kSlave:
      return RunSlave();
    case kCompare:
      return ChosenModel().compareAllowed ? RunCompare() : false;
    default:
      return false;
  }
}

}  // namespace

[[noreturn]] void RunSession(WireTrace& trace, int argc, char** argv, int failedStatus) {
  ConfigureStandardOutput();
  InstallSignalHandlers();
  std::printf("               ***** TALVEN EMULATOR PRO %s *****\n\n", kVersionText);

  SetupSession(argc, argv);

  // The session leaves only through Terminate, so these live until the exit path has closed the
  // port.
  PortRegistry ports(&trace);
  if (gConfig.portPath[0] != '\0') ports.AssignDevicePath(gConfig.port, gConfig.portPath);
  if (ports.OpenPort(gConfig.port, kQueueSize, kQueueSize) != kPortOk) LeaveForOpenFailure(ports);
  if (ports.ApplyLinkSettings(gConfig.port, ChosenModel().linkSettingsWord) != kPortOk) {
    LeaveForOpenFailure(ports);
  }
  // Without its read time-out every wait would end at once: the exchange could not be timed.
  if (ports.SetReadTimeout(gConfig.port, kReadTimeoutMs) != kPortOk) LeaveForOpenFailure(ports);

  LineExchange exchange(ports, gConfig.port);
  UseLineExchange(&exchange, LeaveForFailedLine);
  const bool completed = RunTransfer();

  SubtractTimeOfDay(gStopwatch.end, gStopwatch.start);
  if (completed) {
    std::printf("\n\n(^_^)/  complete\n");
    char line[96];
    FormatTotalTime(gStopwatch.end, line, sizeof line);
    std::fputs(line, stdout);
  } else {
    std::printf("\n\n(x_x);  error\n");
  }
  ports.CloseAllPorts();
  Terminate(completed ? 0 : failedStatus);
}

}  // namespace talven
