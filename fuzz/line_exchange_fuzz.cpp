// The line receiver and sender fed arbitrary byte streams, split at arbitrary points, with reads
// that time out at arbitrary moments. Checks that no line overruns its 4096-byte buffer, that every
// line is exactly the bytes before its CR (cut at 4095), that bytes read ahead for one line begin
// the next, and that a stream without CR ends in the port error instead of a hang.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fake_port.h"
#include "fuzz_exit.h"
#include "serial/line_exchange.h"

namespace {

using talven::kLineBufferSize;
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
void CheckReply(char* line, Model& model) {
  const std::int32_t result = talven::ReceiveReply(line);
  model.Add(talven::fuzz::TakeDeliveredBytes());
  if (result == 0) {
    const Bytes expected = model.TakeLine();
    RequireLine(line, expected.size(), expected);
    return;
  }
  Require(result == -1, "reply result");
  // A reply gives up only once nothing is left to take.
  Bytes taken(model.buffered.begin(), model.buffered.end());
  model.buffered.clear();
  Require(std::find(taken.begin(), taken.end(), '\r') == taken.end(), "reply read past its CR");
  if (taken.size() > kLineBufferSize - 1) taken.resize(kLineBufferSize - 1);
  RequireLine(line, taken.size(), taken);
}

void CheckSend(FuzzedDataProvider& input) {
  const std::string text = input.ConsumeRandomLengthString(kLongestText);
  talven::SendCommand(text.c_str());
  const Bytes written = talven::fuzz::TakeWrittenBytes();
  const std::size_t length = std::min(std::strlen(text.c_str()), kLineBufferSize - 1);
  Require(written.size() == length + 1, "command length");
  Require(std::memcmp(written.data(), text.data(), length) == 0, "command bytes");
  Require(written.back() == '\r', "command without its CR");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The port error message goes to standard output; keep the fuzzer's own output readable.
  return std::freopen("/dev/null", "w", stdout) != nullptr ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  talven::fuzz::StartFakePort(input);
  talven::ResetReceiveBuffer();
  // Exactly the transfers' buffer size, so that a write past it is caught.
  const auto line = std::make_unique<char[]>(kLineBufferSize);
  Model model;
  try {
    for (int op = 0; op < kMostOperations && input.remaining_bytes() > 0; ++op) {
      switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
          const std::size_t length = talven::ReceiveLine(line.get());
          model.Add(talven::fuzz::TakeDeliveredBytes());
          RequireLine(line.get(), length, model.TakeLine());
          break;
        }
        case 1: {
          const unsigned char byte = talven::NextReceivedByte();
          model.Add(talven::fuzz::TakeDeliveredBytes());
          Require(!model.buffered.empty() && model.buffered.front() == byte, "next byte");
          model.buffered.pop_front();
          break;
        }
        case 2:
          CheckReply(line.get(), model);
          break;
        default:
          CheckSend(input);
          break;
      }
    }
  } catch (const talven::fuzz::ProcessExit& ended) {
    // The only way out is the failed device at the end of the input.
    Require(ended.code == -1, "exit code");
    Require(input.remaining_bytes() == 0, "left before the input was used up");
  }
  return 0;
}
