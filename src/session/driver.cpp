#include "session/driver.h"

#include <cstdio>
#include <map>

#include "clock/clock.h"
#include "clone/replaced_records.h"
#include "clone/transfer.h"
#include "clone/transfer_lines.h"
#include "discovery/ftdi_latency.h"
#include "process/console.h"
#include "process/exit_path.h"
#include "process/platform.h"
#include "process/signals.h"
#include "serial/line_exchange.h"
#include "serial/port.h"
#include "session/session.h"
#include "session/setup.h"
#include "session/trace_guard.h"
#include "trace/wire_trace.h"

namespace talven {

namespace {

inline constexpr std::int32_t kQueueSize = 4096;
inline constexpr std::int32_t kReadTimeoutMs = 100;
// A session that could not go on (its reason on standard error): 255 where statuses are 8 bits.
inline constexpr int kStoppedStatus = -1;

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
// session's device and the reason on standard error; answers the status. The port could not be
// opened, took no settings, or failed under a transfer.
int PortErrorStatus(Session& session, const char* reason) {
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
  return kStoppedStatus;
}

// Why the port stopped under a transfer: the device going away, or the call the port refused
// (a driver that would not take a read time-out) in the system's words.
int StoppedPortStatus(Session& session) {
  const PortFault fault = session.ports.LastPortFault();
  const char* text = session.ports.LastPortErrorText();
  if (fault == PortFault::kVanished || fault == PortFault::kNone || text[0] == '\0') {
    return PortErrorStatus(session, kPortStoppedText);
  }
  char reason[200];
  std::snprintf(reason, sizeof reason, "the serial device failed: %s", text);
  return PortErrorStatus(session, reason);
}

int OpenFailureStatus(Session& session) {
  char reason[400];
  DescribeOpenFailure(session, reason, sizeof reason);
  return PortErrorStatus(session, reason);
}

// An FTDI adapter whose latency timer Windows leaves above 1 ms: said once, as the session starts.
void NoteSlowAdapter(const SessionConfig& config) {
  if (config.portPath[0] != '\0') return;
  const std::map<PortNumber, unsigned long> slow = ReadSlowFtdiPorts();
  const auto found = slow.find(config.port);
  if (found == slow.end()) return;
  char port[16];
  std::snprintf(port, sizeof port, "COM%d", static_cast<int>(config.port));
  ReportError(port, FtdiLatencyAdvice(found->second).c_str());
}

// Opens the chosen port with the model's settings and makes the session's line on it; false when
// the port would not open or take them.
bool ConnectSession(Session& session) {
  const SessionConfig& config = session.config;
  PortRegistry& ports = session.ports;
  if (config.portPath[0] != '\0') ports.AssignDevicePath(config.port, config.portPath);
  if (ports.OpenPort(config.port, kQueueSize, kQueueSize) != kPortOk ||
      ports.ApplyLinkSettings(config.port, config.Model().linkSettingsWord) != kPortOk ||
      // Without its read time-out every wait would end at once: the exchange could not be timed.
      ports.SetReadTimeout(config.port, kReadTimeoutMs) != kPortOk) {
    return false;
  }
  NoteSlowAdapter(config);
  session.line.emplace(ports, config.port);
  session.clone.emplace(*session.line, config.Model(), session.config.transfer, session.received);
  return true;
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

// A session that a recorded signal ended: no key wait.
SessionEnd EndForSignal() {
  return {StatusForSignal(TakenSignal()), false};
}

// The session from setup to the result line. Whatever way it ends, what it opened is closed by its
// owners once the caller lets the session go.
SessionEnd RunSteps(Session& session, int argc, char** argv, int failedStatus) {
  const SetupResult setup =
      SetupSession(argc, argv, session.config, session.received, &session.trace);
  const bool pause = session.config.pauseOnExit;
  if (setup == SetupResult::kInterrupted) return EndForSignal();
  if (setup == SetupResult::kTraceRefused) return {kTraceRefusedStatus, pause};
  if (setup != SetupResult::kReady) return {kStoppedStatus, pause};
  if (!ConnectSession(session)) return {OpenFailureStatus(session), pause};

  const TransferResult result = RunTransfer(session);
  switch (result) {
    case TransferResult::kPortFailed:
      return {StoppedPortStatus(session), pause};
    case TransferResult::kInterrupted:
      // A receive ends so only for a signal that is recorded.
      return EndForSignal();
    case TransferResult::kAbandoned:
      return {kStoppedStatus, pause};
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
  session.received.ReportReplacedRecords();
  // The scanner is let go before the key wait, not after it.
  session.ports.CloseAllPorts();
  return {completed ? 0 : failedStatus, pause};
}

}  // namespace

SessionEnd RunSession(WireTrace& trace, const TransferOptions& options, int argc, char** argv,
                      int failedStatus) {
  ConfigureStandardOutput();
  InstallSignalHandlers();
  HoldConsoleForSession();
  std::printf("               ***** TALVEN EMULATOR PRO %s *****\n\n", kVersionText);
  Session session(trace, options);
  return RunSteps(session, argc, argv, failedStatus);
}

}  // namespace talven
