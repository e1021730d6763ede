#include <cstdio>
#include <cstring>

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
    ShowOutputSoFar();
    ReceiveReply(reply);
    if (std::strcmp(reply, "OK") == 0) return true;
    PrintRejectedExchange(reply, gTransmitLineBuffer);
  }
  return false;
}

[[noreturn]] void LeaveForRefusedRecord(std::uint32_t number, const char* reply) {
  char reason[160];
  std::snprintf(reason, sizeof reason,
                "record %u was not taken after %d sends (last answer: %s%.40s%s)",
                static_cast<unsigned>(number), kSendsPerRecord, reply[0] != '\0' ? "\"" : "",
                reply[0] != '\0' ? reply : "none", reply[0] != '\0' ? "\"" : "");
  ReportError("scanner", reason);
  Terminate(-1);
}

}  // namespace

bool RunMaster() {
  WaitUntilReady();
  ReadTimeOfDay(gStopwatch.start);
  char* const reply = gReceiveLineBuffer;
  SendCommand("MDL");
  ShowOutputSoFar();
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
    if (!DeliverRecord(reply)) LeaveForRefusedRecord(sent + 1, reply);
    sessionSum = static_cast<std::uint16_t>(sessionSum + ChecksumFieldValue(record));
    if (sent % groupSize == gConfig.progressScale) std::printf("o");
    ++sent;
  }

  if (gConfig.checksumRequired) {
    // SendCommand ends the line with a CR of its own; scanners expect the sum line with both.
    std::snprintf(gTransmitLineBuffer, kLineBufferSize, "SUM %04X\r", unsigned{sessionSum});
    SendCommand(gTransmitLineBuffer);
    ShowOutputSoFar();
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
