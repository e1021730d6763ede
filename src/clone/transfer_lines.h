// The session's line as the transfers use it: the line exchange with the two line buffers, the
// files handed to the system before each wait, the CR LF hint and the progress marks, and the
// reading of a received line as command and argument.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "clock/clock.h"
#include "models/catalogue.h"
#include "serial/line_exchange.h"

namespace talven {

// Progress marks leave standard output's line open. A message that may follow them ends that line
// first with End; output that ends it by itself says so with Ended.
struct ProgressLine {
  bool marksOnLine = false;

  void PrintMark();
  void End();
  void Ended();  // the caller ended the line
};

struct TransferLine {
  explicit TransferLine(LineExchange& lineExchange) : exchange(lineExchange) {}
  TransferLine(const TransferLine&) = delete;
  TransferLine& operator=(const TransferLine&) = delete;

  LineExchange& exchange;
  char receive[kLineBufferSize] = {};   // the line last received
  char transmit[kLineBufferSize] = {};  // the command being sent
  std::FILE* flushed = nullptr;         // see FlushBeforeEveryWait
  bool lineEndNoted = false;            // see NoteReceivedLineEnd
  ProgressLine progress;
};

// The line exchange's calls on the session's line. A receive that ends without a line answers
// kPortFailed or kInterrupted, and the transfer ends with it at once.
std::int32_t SendCommand(TransferLine& line, const char* text);
LineResult ReceiveLine(TransferLine& line, char* destination, std::size_t& length);
// kOk when the reply ended with CR, kNoReply when a byte did not come.
LineResult ReceiveReply(TransferLine& line, char* destination);

// A received line split at its fourth character: the command word is the first three characters and
// the argument begins at the fifth. A line too short to carry an argument has an empty one, never
// what an earlier, longer line left in the buffer.
struct ReceivedCommand {
  const char* word = "";
  const char* argument = "";
  bool Is(const char* name) const { return std::strcmp(word, name) == 0; }
};

// Receives a line into destination and splits it into command.
LineResult ReceiveCommand(TransferLine& line, char* destination, ReceivedCommand& command);

// A scanner that ends its lines with CR LF cannot work: each LF becomes the first character of the
// next line. The first received line of the session that begins with LF is named once on standard
// error with this hint. Answers whether the line begins with LF.
inline constexpr char kLineEndHint[] =
    "the scanner ends its lines with CR LF; they must end with CR alone";
bool NoteReceivedLineEnd(TransferLine& line, const char* received);

// The slave and compare transfers listen to a scanner that drives the exchange as clone master.
void PrintScannerIsMasterPrompt();

// Answers "MDL" with the model's clone identity and (re)starts the stopwatch; false for other
// lines.
bool AnswerModelRequest(TransferLine& line, const ReceivedCommand& command, const ModelEntry& model,
                        Stopwatch& stopwatch);

// Before every wait for the scanner, standard output (held back in a pipe or file) and the one file
// given (Compare's mismatch log; Slave writes its records straight to the system) are handed to the
// system: whoever reads the output sees the prompts and progress so far, and a crash while the
// scanner is silent loses no logged line. nullptr forgets the file; standard output is flushed from
// the first call on.
void FlushBeforeEveryWait(TransferLine& line, std::FILE* file);

// A mark while the count of records so far holds 1, N + 1, 2N + 1, ... for an interval of N.
void PrintProgressMark(ProgressLine& progress, std::uint32_t recordsSoFar, std::uint32_t interval);

}  // namespace talven
