#include "session/driver.h"

#include <cstdio>

#include "clone/transfer.h"
#include "clone/transfer_lines.h"
#include "process/clock.h"
#include "process/console.h"
#include "process/exit_path.h"
#include "process/platform.h"
#include "process/signals.h"
#include "serial/line_exchange.h"
#include "serial/port.h"
#include "serial/wire_trace.h"
#include "session/session.h"
#include "session/setup.h"

namespace talven {

namespace {

inline constexpr std::int32_t kQueueSize = 4096;
inline constexpr std::int32_t kReadTimeoutMs = 100;

// The reason for a port that would not open or take the model's settings, with a next step for
// the commonest mistakes.
void DescribeOpenFailure(const Session& session, char* reason, std::size_t capacity) {
  const char* text = session.ports.LastPortErrorText();
  switch (session.ports.LastPortFault()) {
    case PortFault::kSettingsRefused: {
      const auto baud = DecodeLinkSettings(session.config.Model().linkSettingsWord).baudRate;
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
[[noreturn]] void LeaveForPortError(Session& session, const char* reason) {
  if (session.clone) session.clone->line.progress.End();
  std::printf("RS-232C ERROR\n");
  const PortNumber port = session.config.port;
  char device[1100];
  if (port >= kFirstPort && port <= kLastPort) {
    session.ports.FormatDevicePath(port, device, sizeof device);
  } else {
    std::snprintf(device, sizeof device, "port %d", port);
  }
  ReportError(device, reason);
  Terminate(-1);
}

// Why the port stopped under a transfer: the device going away, or the call the port refused
// (a driver that would not take a read time-out) in the system's words.
[[noreturn]] void LeaveForStoppedPort(Session& session) {
  const PortFault fault = session.ports.LastPortFault();
  const char* text = session.ports.LastPortErrorText();
  if (fault == PortFault::kVanished || fault == PortFault::kNone || text[0] == '\0') {
    LeaveForPortError(session, kPortStoppedText);
  }
  char reason[200];
  std::snprintf(reason, sizeof reason, "the serial device failed: %s", text);
  LeaveForPortError(session, reason);
}

[[noreturn]] void LeaveForOpenFailure(Session& session) {
  char reason[400];
  DescribeOpenFailure(session, reason, sizeof reason);
  LeaveForPortError(session, reason);
}

// Opens the chosen port with the model's settings and makes the session's line on it.
void ConnectSession(Session& session) {
  const SessionConfig& config = session.config;
  PortRegistry& ports = session.ports;
  if (config.portPath[0] != '\0') ports.AssignDevicePath(config.port, config.portPath);
  if (ports.OpenPort(config.port, kQueueSize, kQueueSize) != kPortOk) LeaveForOpenFailure(session);
  if (ports.ApplyLinkSettings(config.port, config.Model().linkSettingsWord) != kPortOk) {
    LeaveForOpenFailure(session);
  }
  // Without its read time-out every wait would end at once: the exchange could not be timed.
  if (ports.SetReadTimeout(config.port, kReadTimeoutMs) != kPortOk) LeaveForOpenFailure(session);

  session.line.emplace(ports, config.port);
  session.clone.emplace(*session.line, config.Model(), session.config.transfer, session.received);
}

TransferResult RunTransfer(Session& session) {
  CloneSession& clone = *session.clone;
  switch (session.config.mode) {
    case kMaster:
      return RunMaster(clone);
    case kSlave:
      return RunSlave(clone);
    case kCompare:
      return clone.model.compareAllowed ? RunCompare(clone) : TransferResult::kFailed;
    default:
      return TransferResult::kFailed;
  }
}

}  // namespace

[[noreturn]] void RunSession(WireTrace& trace, const TransferOptions& options, int argc,
                             char** argv, int failedStatus) {
  ConfigureStandardOutput();
  InstallSignalHandlers();
  HoldConsoleForSession();
  std::printf("               ***** TALVEN EMULATOR PRO %s *****\n\n", kVersionText);

  // The session leaves only through Terminate, so it lives until the exit path has closed its
  // port and files.
  Session session(trace, options);
  SetupSession(argc, argv, session.config, session.received);
  ConnectSession(session);
  const TransferResult result = RunTransfer(session);
  switch (result) {
    case TransferResult::kPortFailed:
      LeaveForStoppedPort(session);
    case TransferResult::kInterrupted:
      // A receive ends so only for a signal that is recorded.
      ExitForSignal(TakenSignal());
    case TransferResult::kAbandoned:
      Terminate(-1);
    case TransferResult::kCompleted:
    case TransferResult::kFailed:
      break;
  }

  Stopwatch& stopwatch = session.clone->stopwatch;
  SubtractTimeOfDay(stopwatch.end, stopwatch.start);
  const bool completed = result == TransferResult::kCompleted;
  if (completed) {
    std::printf("\n\n(^_^)/  complete\n");
    char line[96];
    FormatTotalTime(stopwatch.end, line, sizeof line);
    std::fputs(line, stdout);
  } else {
    std::printf("\n\n(x_x);  error\n");
  }
  session.ports.CloseAllPorts();
  Terminate(completed ? 0 : failedStatus);
}

}  // namespace talven
