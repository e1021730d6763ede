#include "clone/transfer_lines.h"

#include <cerrno>
#include <cstdio>

#include "process/clock.h"
#include "process/exit_path.h"

namespace talven {

char gReceiveLineBuffer[kLineBufferSize];
char gTransmitLineBuffer[kLineBufferSize];

namespace {

struct SessionLine {
  LineExchange* exchange = nullptr;
  LineFailureExit leave = nullptr;
};
SessionLine gLine;

std::FILE* gFlushedFiles[2] = {};
int gFlushError = 0;

void FlushAnswered() {
  std::fflush(stdout);
  for (std::FILE* file : gFlushedFiles) {
    if (file != nullptr && std::fflush(file) != 0 && gFlushError == 0) gFlushError = errno;
  }
}

// What is left of a receive that did not end with a line.
void Settle(LineResult result) {
  if (result == LineResult::kInterrupted) CheckInterrupt();
  if (result == LineResult::kPortFailed) gLine.leave(*gLine.exchange, kPortStoppedText);
}

}  // namespace

void UseLineExchange(LineExchange* exchange, LineFailureExit leave) {
  gLine = {exchange, leave};
}

std::int32_t SendCommand(const char* text) {
  return gLine.exchange->SendCommand(text);
}

std::size_t ReceiveLine(char* destination) {
  std::size_t length = 0;
  Settle(gLine.exchange->ReceiveLine(destination, length));
  return length;
}

std::int32_t ReceiveReply(char* destination) {
  const LineResult result = gLine.exchange->ReceiveReply(destination);
  Settle(result);
  return result == LineResult::kOk ? 0 : -1;
}

int FirstFlushError() {
  return gFlushError;
}

void FlushBeforeEveryWait(std::FILE* file) {
  if (gLine.exchange != nullptr) gLine.exchange->SetBeforeWait(FlushAnswered);
  if (file == nullptr) {
    gFlushedFiles[0] = gFlushedFiles[1] = nullptr;
    return;
  }
  for (std::FILE*& slot : gFlushedFiles) {
    if (slot == nullptr || slot == file) {
      slot = file;
      break;
    }
  }
}

bool NoteReceivedLineEnd(const char* line) {
  static bool noted = false;
  if (line[0] != '\n') return false;
  if (!noted) ReportError("scanner", kLineEndHint);
  noted = true;
  return true;
}

ReceivedCommand ReceiveCommand(char* line) {
  const std::size_t length = ReceiveLine(line);
  NoteReceivedLineEnd(line);
  if (length < 4) line[4] = '\0';
  line[3] = '\0';
  return {line, line + 4};
}

void PrintScannerIsMasterPrompt() {
  std::printf("\nPress Scanner's \"SCAN\" key (The scanner is a clone MASTER unit) !!\n");
}

bool AnswerModelRequest(const ReceivedCommand& command, const ModelEntry& model) {
  if (!command.Is("MDL")) return false;
  SendCommand(model.cloneIdentity.data());
  ReadTimeOfDay(gStopwatch.start);
  return true;
}

void PrintProgressMark(std::uint32_t recordsSoFar, std::uint32_t interval) {
  if (recordsSoFar % interval == 1) PrintProgressMarkOnLine();
}

}  // namespace talven
