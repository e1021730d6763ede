// The line receiver and sender fed arbitrary byte streams, split at arbitrary points, with reads
// that time out at arbitrary moments. Checks that no line overruns its 4096-byte buffer, that every
// line is exactly the bytes before its CR (cut at 4095), that bytes read ahead for one line begin
// the next, and that a stream without CR ends in the port failure instead of a hang. A session's
// TransferLine on the same exchange splits lines into command and argument and notes the CR LF
// hint once for itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "clone/transfer_lines.h"
#include "fake_port.h"
#include "serial/line_exchange.h"
#include "serial/port.h"

namespace {

using talven::kLineBufferSize;
using talven::LineResult;
using Bytes = std::vector<std::uint8_t>;

constexpr int kMostOperations = 64;
constexpr std::size_t kLongestText = 2 * kLineBufferSize;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "line exchange: %s\n", what);
    std::abort();
  }
}

void RequireLine(const char* line, std::size_t length, const Bytes& expected) {
  Require(length == expected.size(), "line length differs from the bytes before the CR");
  Require(length == 0 || std::memcmp(line, expected.data(), length) == 0, "line bytes differ");
  Require(line[length] == '\0', "line not terminated");
}

// What ReceiveLine should hand out: bytes that refills brought in and no line has taken yet.
struct Model {
  std::deque<std::uint8_t> buffered;

  void Add(const Bytes& bytes) { buffered.insert(buffered.end(), bytes.begin(), bytes.end()); }

  Bytes TakeLine() {
    Bytes line;
    for (;;) {
      Require(!buffered.empty(), "a line came back without its CR");
      const std::uint8_t byte = buffered.front();
      buffered.pop_front();
      if (byte == '\r') break;
      if (line.size() < kLineBufferSize - 1) line.push_back(byte);
    }
    return line;
  }
};

// A reply takes its bytes in arrival order from the buffer lines are taken from: what earlier
// reads brought in first, then what arrives during this call. Bytes behind its CR stay buffered.
// Answers false once the device failed, which it only does at the end of the input.
bool Settled(LineResult result, FuzzedDataProvider& input) {
  if (result != LineResult::kPortFailed) return true;
  Require(input.remaining_bytes() == 0, "failed before the input was used up");
  return false;
}

bool CheckReply(talven::LineExchange& exchange, char* line, Model& model,
                FuzzedDataProvider& input) {
  const LineResult result = exchange.ReceiveReply(line);
  model.Add(talven::fuzz::TakeDeliveredBytes());
  if (!Settled(result, input)) return false;
  if (result == LineResult::kOk) {
    const Bytes expected = model.TakeLine();
    RequireLine(line, expected.size(), expected);
    return true;
  }
  Require(result == LineResult::kNoReply, "reply result");
  // A reply gives up only once nothing is left to take.
  Bytes taken(model.buffered.begin(), model.buffered.end());
  model.buffered.clear();
  Require(std::find(taken.begin(), taken.end(), '\r') == taken.end(), "reply read past its CR");
  if (taken.size() > kLineBufferSize - 1) taken.resize(kLineBufferSize - 1);
  RequireLine(line, taken.size(), taken);
  return true;
}

void CheckSend(talven::LineExchange& exchange, FuzzedDataProvider& input) {
  const std::string text = input.ConsumeRandomLengthString(kLongestText);
  exchange.SendCommand(text.c_str());
  const Bytes written = talven::fuzz::TakeWrittenBytes();
  const std::size_t length = std::min(std::strlen(text.c_str()), kLineBufferSize - 1);
  Require(written.size() == length + 1, "command length");
  Require(std::memcmp(written.data(), text.data(), length) == 0, "command bytes");
  Require(written.back() == '\r', "command without its CR");
}

// A command: the word is the line's first three characters, the argument begins at the fifth and
// is empty for a shorter line. The hint is noted by the first line that begins with LF.
bool CheckCommand(talven::TransferLine& transfer, char* line, Model& model,
                  FuzzedDataProvider& input) {
  const bool notedBefore = transfer.lineEndNoted;
  talven::ReceivedCommand command;
  const LineResult result = talven::ReceiveCommand(transfer, line, command);
  model.Add(talven::fuzz::TakeDeliveredBytes());
  if (!Settled(result, input)) return false;
  const Bytes expected = model.TakeLine();
  Require(command.word == line && command.argument == line + 4, "command split");
  Require(line[3] == '\0', "command word longer than three characters");
  if (expected.size() < 4) {
    Require(line[4] == '\0', "short line with an argument");
  } else {
    Require(std::memcmp(line + 4, expected.data() + 4, expected.size() - 4) == 0 &&
                line[expected.size()] == '\0',
            "argument bytes");
  }
  const bool startsWithLf = !expected.empty() && expected[0] == '\n';
  Require(transfer.lineEndNoted == (notedBefore || startsWithLf), "CR LF hint noted");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  talven::fuzz::StartFakePort(input);
  talven::PortRegistry ports;
  talven::LineExchange exchange(ports, 1);
  talven::TransferLine transfer(exchange);
  // Exactly the transfers' buffer size, so that a write past it is caught.
  const auto line = std::make_unique<char[]>(kLineBufferSize);
  Model model;
  bool open = true;
  for (int op = 0; open && op < kMostOperations && input.remaining_bytes() > 0; ++op) {
    switch (input.ConsumeIntegralInRange<int>(0, 4)) {
      case 0: {
        std::size_t length = 0;
        const LineResult result = exchange.ReceiveLine(line.get(), length);
        model.Add(talven::fuzz::TakeDeliveredBytes());
        open = Settled(result, input);
        if (open) RequireLine(line.get(), length, model.TakeLine());
        break;
      }
      case 1: {
        unsigned char byte = 0;
        const LineResult result = exchange.NextReceivedByte(byte);
        model.Add(talven::fuzz::TakeDeliveredBytes());
        open = Settled(result, input);
        if (!open) break;
        Require(!model.buffered.empty() && model.buffered.front() == byte, "next byte");
        model.buffered.pop_front();
        break;
      }
      case 2:
        open = CheckReply(exchange, line.get(), model, input);
        break;
      case 3:
        open = CheckCommand(transfer, line.get(), model, input);
        break;
      default:
        CheckSend(exchange, input);
        break;
    }
  }
  return 0;
}
