// The line buffers the transfers share, and the reading of a received line as command and argument.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "models/catalogue.h"
#include "serial/line_exchange.h"

namespace talven {

// The session's line to the scanner for the transfers below, and the session's way out when its
// port fails under a transfer (it does not return). Set before a transfer runs.
using LineFailureExit = void (*)(const LineExchange& exchange, const char* reason);
void UseLineExchange(LineExchange* exchange, LineFailureExit leave);

// The line exchange's calls on that line. A signal leaves through the exit path and a failed port
// through the session's way out, so that a transfer only ever sees a line or a reply.
std::int32_t SendCommand(const char* text);
std::size_t ReceiveLine(char* destination);
// 0 when the reply ended with CR, -1 when a byte did not come.
std::int32_t ReceiveReply(char* destination);

extern char gReceiveLineBuffer[kLineBufferSize];
extern char gTransmitLineBuffer[kLineBufferSize];

// A received line split at its fourth character: the command word is the first three characters and
// the argument begins at the fifth. A line too short to carry an argument has an empty one, never
// what an earlier, longer line left in the buffer.
struct ReceivedCommand {
  const char* word;
  const char* argument;
  bool Is(const char* name) const { return std::strcmp(word, name) == 0; }
};

ReceivedCommand ReceiveCommand(char* line);

// A scanner that ends its lines with CR LF cannot work: each LF becomes the first character of the
// next line. The first received line that begins with LF is named once on standard error with this
// hint. Answers whether the line begins with LF.
inline constexpr char kLineEndHint[] =
    "the scanner ends its lines with CR LF; they must end with CR alone";
bool NoteReceivedLineEnd(const char* line);

// The slave and compare transfers listen to a scanner that drives the exchange as clone master.
void PrintScannerIsMasterPrompt();

// Answers "MDL" with the model's clone identity and (re)starts the stopwatch; false for other
// lines.
bool AnswerModelRequest(const ReceivedCommand& command, const ModelEntry& model);

// Before every wait for the scanner, standard output (held back in a pipe or file) and the records
// answered "OK" are handed to the system: whoever reads the output sees the prompts and progress so
// far, and a crash while the scanner is silent loses no record. Up to two files (the clone file,
// the mismatch log); nullptr forgets them all, standard output is flushed from the first call on.
void FlushBeforeEveryWait(std::FILE* file);
// errno of the first of those flushes that failed; 0 when none did. The stream only keeps the fact.
int FirstFlushError();

// A mark while the count of records so far holds 1, N + 1, 2N + 1, ... for an interval of N.
void PrintProgressMark(std::uint32_t recordsSoFar, std::uint32_t interval);

}  // namespace talven
