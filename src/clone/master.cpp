#include <cerrno>
#include <cstdio>
#include <cstring>

#include "clone/clone_check.h"
#include "clone/clone_file.h"
#include "clone/record.h"
#include "clone/transfer.h"
#include "clone/transfer_lines.h"
#include "process/clock.h"
#include "process/config.h"
#include "process/console.h"
#include "process/exit_path.h"
#include "serial/line_exchange.h"

namespace talven {

namespace {

inline constexpr int kSendsPerRecord = 10;
inline constexpr char kRecordPrefix[] = "CLN ";
inline constexpr std::size_t kPrefixLength = sizeof kRecordPrefix - 1;

void WaitUntilReady() {
  std::printf("\nPress Scanner's \"SCAN\" key (The scanner is a clone SLAVE unit) !!\n");
  std::printf("Are you ready ? (Press any key)\n");
  std::fflush(stdout);
  if (WaitForKey()) {
    ReadKey();
  } else {
    ReportError("console", "no keyboard to wait on; starting at once");
  }
  std::printf("\n");
}

// Nothing is sent from a file the scanner would refuse partway: it would be left half programmed.
void CheckBeforeSending() {
  const char* name = gConfig.fileName;
  // What is checked is what is sent: the bytes are read once and kept.
  std::FILE* bytes = KeepFileBytes(gConfig.cloneFile);
  if (bytes == nullptr) {
    ReportError(name, std::strerror(errno));
    Terminate(-1);
  }
  if (bytes != gConfig.cloneFile) {
    TrackOpenFile(bytes);
    gConfig.cloneFile = bytes;
  }
  const CloneFileCheck check = CheckCloneFile(gConfig.cloneFile);
  char what[kFileNameMax + 32];
  for (std::uint32_t i = 0; i < check.faultCount && i < CloneFileCheck::kFaultsKept; ++i) {
    std::snprintf(what, sizeof what, "%s line %u", name, unsigned{check.faults[i].line});
    ReportError(what, check.faults[i].reason);
  }
  if (check.faultCount > CloneFileCheck::kFaultsKept) {
    char more[64];
    std::snprintf(more, sizeof more, "%u more records fail the check",
                  static_cast<unsigned>(check.faultCount - CloneFileCheck::kFaultsKept));
    ReportError(name, more);
  }
  if (check.records == 0) ReportError(name, "holds no records to send");
  if (!check.Passed()) {
    ReportError(name, "nothing was sent; --no-verify sends the file as it is");
    Terminate(-1);
  }
  // The kept bytes are read a second time to send them.
  if (std::fseek(gConfig.cloneFile, 0, SEEK_SET) != 0) {
    ReportError(name, "cannot be read twice to check it first; --no-verify sends it unchecked");
    Terminate(-1);
  }
  std::clearerr(gConfig.cloneFile);
}

void PrintRejectedExchange(const char* reply, const char* sent) {
  std::printf("\n");
  std::printf("ERR Rx=[%s]\n", reply);
  std::printf("    Tx=[%s]\n", sent);
}

// Sends the command in the transmit buffer until the scanner answers "OK"; false after every send
// failed.
bool DeliverRecord(char* reply) {
  for (int send = 0; send < kSendsPerRecord; ++send) {
    SendCommand(gTransmitLineBuffer);
    ReceiveReply(reply);
    if (std::strcmp(reply, "OK") == 0) return true;
    PrintRejectedExchange(reply, gTransmitLineBuffer);
  }
  return false;
}

// The scanner took the records before this one and none after: it must be sent the whole file
// again.
[[noreturn]] void LeaveForRefusedRecord(std::uint32_t number, const char* record,
                                        const char* reply) {
  char reason[256];
  std::snprintf(reason, sizeof reason,
                "record %u (key %X) was refused %d times, last reply [%.40s]; the scanner now "
                "holds only the %u records before it: repeat the transfer",
                unsigned{number + 1}, static_cast<unsigned>(RecordKey(record)), kSendsPerRecord,
                reply, unsigned{number});
  ReportError(gConfig.fileName, reason);
  Terminate(-1);
}

}  // namespace

TransferOptions gTransferOptions;

bool RunMaster() {
  if (gTransferOptions.verifyBeforeSending) {
    CheckBeforeSending();
  }
  WaitUntilReady();
  FlushBeforeEveryWait(nullptr);
  ReadTimeOfDay(gStopwatch.start);
  char* const reply = gReceiveLineBuffer;
  SendCommand("MDL");
  ReceiveLine(reply);

  std::memcpy(gTransmitLineBuffer, kRecordPrefix, kPrefixLength);
  char* const record = gTransmitLineBuffer + kPrefixLength;
  // The record follows the prefix; with its terminator the whole command fits the buffer.
  const std::size_t recordCapacity = kLineBufferSize - kPrefixLength;
  const std::uint32_t groupSize = std::uint32_t{gConfig.progressScale} + 1;
  std::uint32_t sent = 0;
  std::uint16_t sessionSum = 0;
  while (ReadTextLine(gConfig.cloneFile, record, recordCapacity) > 0) {
    TrimTrailingNewlines(record);
    if (!DeliverRecord(reply)) LeaveForRefusedRecord(sent, record, reply);
    sessionSum = static_cast<std::uint16_t>(sessionSum + ChecksumFieldValue(record));
    if (sent % groupSize == gConfig.progressScale) std::printf("o");
    ++sent;
  }

  if (gConfig.checksumRequired) {
    // SendCommand ends the line with a CR of its own; scanners expect the sum line with both.
    std::snprintf(gTransmitLineBuffer, kLineBufferSize, "SUM %04X\r", unsigned{sessionSum});
    SendCommand(gTransmitLineBuffer);
    ReceiveLine(reply);
    if (std::strcmp(reply, "OK") != 0) {
      PrintRejectedExchange(reply, gTransmitLineBuffer);
      std::printf("Checksum Error!!\n ");
      char reason[120];
      std::snprintf(reason, sizeof reason, "the closing sum %04X was refused (answer: \"%.40s\")",
                    unsigned{sessionSum}, reply);
      ReportError("scanner", reason);
      return false;
    }
  }
  SendCommand("END");
  ReadTimeOfDay(gStopwatch.end);
  return true;
}

}  // namespace talven
