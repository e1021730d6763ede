#include <cerrno>
#include <cstdio>
#include <cstring>

#include "clock/clock.h"
#include "clone/received_file.h"
#include "clone/transfer.h"
#include "clone/transfer_lines.h"
#include "process/exit_path.h"
#include "records/record.h"
#include "serial/line_exchange.h"

namespace talven {

namespace {

// What the slave keeps of the records it has accepted.
struct SlaveTally {
  std::uint32_t accepted = 0;
  std::uint16_t sessionSum = 0;
  std::int32_t previousKey = -1;
};

void AcceptRecord(CloneSession& session, const char* record, SlaveTally& tally) {
  SendCommand(session.line, "OK");
  session.received.Store(record);
  PrintProgressMark(session.line.progress, tally.accepted, session.model.progressInterval);
  ++tally.accepted;
  // A record resent with the key of the one before is stored again but summed once.
  const std::int32_t key = RecordKey(record);
  if (key != tally.previousKey) {
    tally.sessionSum = static_cast<std::uint16_t>(tally.sessionSum + ChecksumFieldValue(record));
  }
  tally.previousKey = key;
}

}  // namespace

TransferResult RunSlave(CloneSession& session) {
  TransferLine& line = session.line;
  // Each record is handed to the system whole as it is stored; standard output before each wait.
  FlushBeforeEveryWait(line, nullptr);
  PrintScannerIsMasterPrompt();
  SlaveTally tally;
  for (;;) {
    ReceivedCommand command;
    const LineResult result = ReceiveCommand(line, line.receive, command);
    if (result != LineResult::kOk) return LostLine(result);
    AnswerModelRequest(line, command, session.model, session.stopwatch);
    if (command.Is("CLN")) {
      if (RecordChecksumValid(command.argument)) {
        AcceptRecord(session, command.argument, tally);
      } else {
        SendCommand(line, "NG");
      }
    }
    if (command.Is("SUM")) {
      const std::uint32_t received = static_cast<std::uint32_t>(HexValue(command.argument));
      if (received != tally.sessionSum) {
        // The ")" after the line end is the message as users and their scripts know it.
        std::printf("\n\nChecksum Error ( stored sum=%04x ,recive sum = %04x\n)",
                    unsigned{tally.sessionSum}, received);
        NoteUnfinishedLine(true);
        char reason[120];
        std::snprintf(reason, sizeof reason,
                      "its closing sum %04X differs from the sum of the records received, %04X",
                      static_cast<unsigned>(received), unsigned{tally.sessionSum});
        ReportError("scanner", reason);
        FlushBeforeEveryWait(line, nullptr);
        return TransferResult::kFailed;
      }
      SendCommand(line, "OK");
    }
    if (command.Is("END")) break;
  }
  ReadTimeOfDay(session.stopwatch.end);
  FlushBeforeEveryWait(line, nullptr);
  // Every record must be on the disk, and in place of the named file, before success is reported.
  session.received.KeepReplacedAs(session.settings.options.backup);
  return session.received.Commit(line.progress) ? TransferResult::kCompleted
                                                : TransferResult::kFailed;
}

}  // namespace talven
