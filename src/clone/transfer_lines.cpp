#include "clone/transfer_lines.h"

#include <cstdio>

#include "process/exit_path.h"

namespace talven {

namespace {

void FlushAnswered(void* object) {
  std::fflush(stdout);
  if (std::FILE* file = static_cast<TransferLine*>(object)->flushed; file != nullptr) {
    std::fflush(file);
  }
}

}  // namespace

void ProgressLine::PrintMark() {
  std::printf("o");
  marksOnLine = true;
  NoteUnfinishedLine(true);
}

void ProgressLine::End() {
  // An error may have ended the line already.
  if (marksOnLine && LineUnfinished()) std::printf("\n");
  Ended();
}

void ProgressLine::Ended() {
  marksOnLine = false;
  NoteUnfinishedLine(false);
}

std::int32_t SendCommand(TransferLine& line, const char* text) {
  return line.exchange.SendCommand(text);
}

LineResult ReceiveLine(TransferLine& line, char* destination, std::size_t& length) {
  length = 0;
  return line.exchange.ReceiveLine(destination, length);
}

LineResult ReceiveReply(TransferLine& line, char* destination) {
  return line.exchange.ReceiveReply(destination);
}

void FlushBeforeEveryWait(TransferLine& line, std::FILE* file) {
  line.exchange.SetBeforeWait(FlushAnswered, &line);
  line.flushed = file;
}

bool NoteReceivedLineEnd(TransferLine& line, const char* received) {
  if (received[0] != '\n') return false;
  if (!line.lineEndNoted) ReportError("scanner", kLineEndHint);
  line.lineEndNoted = true;
  return true;
}

LineResult ReceiveCommand(TransferLine& line, char* destination, ReceivedCommand& command) {
  std::size_t length = 0;
  const LineResult result = ReceiveLine(line, destination, length);
  if (result != LineResult::kOk) return result;
  NoteReceivedLineEnd(line, destination);
  if (length < 4) destination[4] = '\0';
  destination[3] = '\0';
  command = {destination, destination + 4};
  return result;
}

void PrintScannerIsMasterPrompt() {
  std::printf("\nPress Scanner's \"SCAN\" key (The scanner is a clone MASTER unit) !!\n");
}

bool AnswerModelRequest(TransferLine& line, const ReceivedCommand& command, const ModelEntry& model,
                        Stopwatch& stopwatch) {
  if (!command.Is("MDL")) return false;
  SendCommand(line, model.cloneIdentity.data());
  ReadTimeOfDay(stopwatch.start);
  return true;
}

void PrintProgressMark(ProgressLine& progress, std::uint32_t recordsSoFar, std::uint32_t interval) {
  if (recordsSoFar % interval == 1) progress.PrintMark();
}

}  // namespace talven
