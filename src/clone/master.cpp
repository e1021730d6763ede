#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "clock/clock.h"
#include "clone/transfer.h"
#include "clone/transfer_lines.h"
#include "names/file_system.h"
#include "process/console.h"
#include "process/exit_path.h"
#include "process/signals.h"
#include "records/clone_check.h"
#include "records/clone_file.h"
#include "records/record.h"
#include "records/record_reader.h"
#include "serial/line_exchange.h"
#include "storage/owned_file.h"

namespace talven {

namespace {

inline constexpr int kSendsPerRecord = 10;

// What Master sends: the clone file, or once it is checked a stream of its own over the bytes it
// checked, closed when Master ends.
struct SentBytes {
  std::FILE* file = nullptr;
  std::vector<char> storage;
  OwnedFile kept;  // over storage, so declared after it: it closes first
};

// false when a signal came by the end of the wait: nothing may be sent then.
bool WaitUntilReady() {
  std::printf("\nPress Scanner's \"SCAN\" key (The scanner is a clone SLAVE unit) !!\n");
  std::printf("Are you ready ? (Press any key)\n");
  std::fflush(stdout);
  if (WaitForKey()) {
    ReadKey();
  } else if (TakenSignal() == 0) {
    ReportError("console", "no keyboard to wait on; starting at once");
  }
  if (TakenSignal() != 0) return false;
  std::printf("\n");
  return true;
}

// Nothing is sent from a file the scanner would refuse partway: it would be left half programmed.
// false, with the reason on standard error, when nothing may be sent.
bool CheckBeforeSending(CloneSession& session, SentBytes& sent) {
  const char* name = session.settings.fileName;
  // What is checked is what is sent: the bytes are read once and kept.
  std::FILE* bytes = KeepFileBytes(sent.file, sent.storage);
  if (bytes == nullptr) {
    // A pipe that waits is a wait like any other: a signal ends the session as itself.
    if (TakenSignal() != 0) return false;
    char tooLarge[96];
    std::snprintf(tooLarge, sizeof tooLarge,
                  "too large for a clone file (more than %zu MiB); nothing was sent",
                  kKeptBytesMax >> 20);
    ReportError(name, errno == EFBIG ? tooLarge : FileErrorText(errno));
    return false;
  }
  if (bytes != sent.file) {
    sent.kept.reset(bytes);
    sent.file = bytes;
  }
  const CloneFileCheck check = CheckCloneFile(sent.file);
  char what[kFileNameMax + 32];
  for (std::uint32_t i = 0; i < check.faultCount && i < CloneFileCheck::kFaultsKept; ++i) {
    std::snprintf(what, sizeof what, "%s line %u", name, unsigned{check.faults[i].line});
    ReportError(what, check.faults[i].reason);
  }
  if (check.faultCount > CloneFileCheck::kFaultsKept) {
    char more[64];
    const unsigned count = static_cast<unsigned>(check.faultCount - CloneFileCheck::kFaultsKept);
    std::snprintf(more, sizeof more, "%u more record%s the check", count,
                  count == 1 ? " fails" : "s fail");
    ReportError(name, more);
  }
  if (check.records == 0) ReportError(name, "holds no records to send");
  if (!check.Passed()) {
    ReportError(name, "nothing was sent; --no-verify sends the file as it is");
    return false;
  }
  // The kept bytes are read a second time to send them.
  if (std::fseek(sent.file, 0, SEEK_SET) != 0) {
    ReportError(name, "cannot be read twice to check it first; --no-verify sends it unchecked");
    return false;
  }
  std::clearerr(sent.file);
  return true;
}

void PrintRejectedExchange(ProgressLine& progress, const char* reply, const char* sent) {
  std::printf("\n");
  progress.Ended();
  std::printf("ERR Rx=[%s]\n", reply);
  std::printf("    Tx=[%s]\n", sent);
}

// Sends the command in the transmit buffer until the scanner answers "OK": kOk once it did,
// kNoReply after every send failed, or how the line was lost.
LineResult DeliverRecord(TransferLine& line, char* reply) {
  for (int send = 0; send < kSendsPerRecord; ++send) {
    SendCommand(line, line.transmit);
    const LineResult result = ReceiveReply(line, reply);
    if (result != LineResult::kOk && result != LineResult::kNoReply) return result;
    NoteReceivedLineEnd(line, reply);
    if (std::strcmp(reply, "OK") == 0) return LineResult::kOk;
    PrintRejectedExchange(line.progress, reply, line.transmit);
  }
  return LineResult::kNoReply;
}

// The scanner took the records before this one and none after: it must be sent the whole file
// again.
void ReportRefusedRecord(const char* fileName, std::uint32_t number, const char* record,
                         const char* reply) {
  // The record is named by the start of its text, as the file shows it.
  const int shown = static_cast<int>(std::min<std::size_t>(std::strcspn(record, ","), 16));
  char held[64];
  if (number == 0) {
    std::snprintf(held, sizeof held, "holds none of the records");
  } else {
    std::snprintf(held, sizeof held, "holds only the %u record%s before it", unsigned{number},
                  number == 1 ? "" : "s");
  }
  // The reply stays on the one line: an LF shows as "\n", another control byte as "?".
  char answer[96];
  std::size_t length = 0;
  for (const char* p = reply; *p != '\0' && p < reply + 40; ++p) {
    if (*p == '\n') {
      answer[length++] = '\\';
      answer[length++] = 'n';
    } else {
      answer[length++] = static_cast<unsigned char>(*p) < 0x20 ? '?' : *p;
    }
  }
  answer[length] = '\0';
  char reason[320];
  std::snprintf(reason, sizeof reason,
                "record %u (%.*s) was refused %d times, last reply [%s]; the scanner now %s: "
                "repeat the transfer%s%s",
                unsigned{number + 1}, shown, record, kSendsPerRecord, answer, held,
                reply[0] == '\n' ? "; " : "", reply[0] == '\n' ? kLineEndHint : "");
  ReportError(fileName, reason);
}

}  // namespace

TransferResult RunMaster(CloneSession& session) {
  SentBytes bytes;
  bytes.file = session.settings.cloneFile.get();
  if (session.settings.options.verifyBeforeSending && !CheckBeforeSending(session, bytes)) {
    return TakenSignal() != 0 ? TransferResult::kInterrupted : TransferResult::kAbandoned;
  }
  TransferLine& line = session.line;
  if (!WaitUntilReady()) return TransferResult::kInterrupted;
  FlushBeforeEveryWait(line, nullptr);
  ReadTimeOfDay(session.stopwatch.start);
  char* const reply = line.receive;
  std::size_t length = 0;
  SendCommand(line, "MDL");
  if (const LineResult result = ReceiveLine(line, reply, length); result != LineResult::kOk) {
    return LostLine(result);
  }
  NoteReceivedLineEnd(line, reply);

  std::memcpy(line.transmit, kRecordPrefix, kRecordPrefixLength);
  char* const record = line.transmit + kRecordPrefixLength;
  // The record follows the prefix; the reader's limit is what the buffer has left for it, so the
  // whole command fits with its terminator. The reader takes a record with its line end in one
  // read, as the check before sending read it.
  RecordReader reader(bytes.file);
  const std::uint32_t groupSize = std::uint32_t{session.settings.progressScale} + 1;
  std::uint32_t sent = 0;
  std::uint16_t sessionSum = 0;
  while (reader.Next()) {
    std::memcpy(record, reader.text(), reader.length() + 1);
    const LineResult delivered = DeliverRecord(line, reply);
    if (delivered == LineResult::kNoReply) {
      ReportRefusedRecord(session.settings.fileName, sent, record, reply);
      return TransferResult::kAbandoned;
    }
    if (delivered != LineResult::kOk) return LostLine(delivered);
    sessionSum = static_cast<std::uint16_t>(sessionSum + ChecksumFieldValue(record));
    if (sent % groupSize == session.settings.progressScale) line.progress.PrintMark();
    ++sent;
  }

  if (session.settings.checksumRequired) {
    // SendCommand ends the line with a CR of its own; scanners expect the sum line with both.
    std::snprintf(line.transmit, kLineBufferSize, "SUM %04X\r", unsigned{sessionSum});
    SendCommand(line, line.transmit);
    if (const LineResult result = ReceiveLine(line, reply, length); result != LineResult::kOk) {
      return LostLine(result);
    }
    NoteReceivedLineEnd(line, reply);
    if (std::strcmp(reply, "OK") != 0) {
      PrintRejectedExchange(line.progress, reply, line.transmit);
      std::printf("Checksum Error!!\n ");
      char reason[120];
      std::snprintf(reason, sizeof reason, "the closing sum %04X was refused (answer: \"%.40s\")",
                    unsigned{sessionSum}, reply);
      ReportError("scanner", reason);
      return TransferResult::kFailed;
    }
  }
  // No reply follows END: a port that failed after the last OK shows only in the count written.
  if (SendCommand(line, "END") != 4) {
    return TakenSignal() != 0 ? TransferResult::kInterrupted : TransferResult::kPortFailed;
  }
  ReadTimeOfDay(session.stopwatch.end);
  return TransferResult::kCompleted;
}

}  // namespace talven
