// Command lines over a pseudo-terminal standing in for the cable.
#include "serial/line_exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "clone/transfer.h"
#include "pty_pair.h"
#include "serial/port.h"

namespace talven {
namespace {

constexpr PortNumber kPort = 211;

class LineExchangeTest : public testing::Test {
 protected:
  void SetUp() override {
    alarm(20);  // a receive that never returns must fail the run, not stall it
    ASSERT_FALSE(pty_.path.empty());
    ports_.AssignDevicePath(kPort, pty_.path.c_str());
    ASSERT_EQ(ports_.OpenPort(kPort, 4096, 4096), kPortOk);
    ASSERT_EQ(ports_.SetReadTimeout(kPort, 100), kPortOk);
  }
  void TearDown() override { alarm(0); }

  std::string Line() {
    std::size_t length = 0;
    EXPECT_EQ(exchange_.ReceiveLine(line_, length), LineResult::kOk);
    return std::string(line_, length);
  }
  // Nothing left on the port: every byte that arrived is in the exchange's buffer or taken.
  bool PortDrained() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char c = 0;
    return ports_.ReadWaitingBytes(kPort, &c, 1) == 0;
  }

  Pty pty_;
  PortRegistry ports_;
  LineExchange exchange_{ports_, kPort};
  char line_[kLineBufferSize] = {};
};

TEST_F(LineExchangeTest, SendAppendsOneCr) {
  EXPECT_EQ(exchange_.SendCommand("MDL"), 4);
  EXPECT_EQ(pty_.Receive(4), "MDL\r");
  EXPECT_EQ(exchange_.SendCommand(""), 1);
  EXPECT_EQ(pty_.Receive(1), "\r");
  // A text that ends in CR goes out with two.
  EXPECT_EQ(exchange_.SendCommand("SUM 0000\r"), 10);
  EXPECT_EQ(pty_.Receive(10), "SUM 0000\r\r");
}

TEST_F(LineExchangeTest, OverlongCommandIsCutNotOverrun) {
  const std::string text(5000, 'x');
  EXPECT_EQ(exchange_.SendCommand(text.c_str()), 4096);
  EXPECT_EQ(pty_.Receive(4096), std::string(4095, 'x') + "\r");
}

TEST_F(LineExchangeTest, LinesEndAtCrOnly) {
  pty_.Send(std::string("OK\r\r\nEND\rA\0B\r", 13));
  EXPECT_EQ(Line(), "OK");
  EXPECT_EQ(Line(), "");
  // An LF after a CR begins the next line.
  EXPECT_EQ(Line(), "\nEND");
  // A NUL is stored as received.
  EXPECT_EQ(Line(), std::string("A\0B", 3));
}

TEST_F(LineExchangeTest, LineArrivingInPieces) {
  pty_.Send("CL");
  std::thread rest([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    pty_.Send("N 12~");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    pty_.Send("0000\r");
  });
  EXPECT_EQ(Line(), "CLN 12~0000");
  rest.join();
}

TEST_F(LineExchangeTest, SecondLineComesFromTheBuffer) {
  pty_.Send("MDL\rEND\r");
  EXPECT_EQ(Line(), "MDL");
  // Nothing is waiting on the port any more: the second line is already buffered.
  EXPECT_TRUE(PortDrained());
  EXPECT_EQ(Line(), "END");
}

TEST_F(LineExchangeTest, OverlongLineCutAndRestDropped) {
  pty_.Send(std::string(5000, 'y') + "\rnext\r");
  EXPECT_EQ(Line(), std::string(kLineBufferSize - 1, 'y'));
  EXPECT_EQ(Line(), "next");
}

TEST_F(LineExchangeTest, ReplyEndsAtCr) {
  pty_.Send("OK\r");
  EXPECT_EQ(exchange_.ReceiveReply(line_), LineResult::kOk);
  EXPECT_STREQ(line_, "OK");
}

// Lines and replies take the bytes in the order they arrived, whichever of the two read them in.
TEST_F(LineExchangeTest, LinesAndRepliesShareTheBytesInArrivalOrder) {
  struct Step {
    const char* send;  // sent before the step, may be empty
    bool reply;        // ReceiveReply, else ReceiveLine
    const char* expected;
  };
  const Step steps[] = {
      {"OK\rNG\rMDL\r", true, "OK"},
      {"", true, "NG"},
      {"", false, "MDL"},
      {"ID\rX", false, "ID"},
      {"OK\r", true, "XOK"},
      {"A\rB\r", true, "A"},
      {"", false, "B"},
  };
  for (const Step& step : steps) {
    if (*step.send != '\0') pty_.Send(step.send);
    if (step.reply) {
      EXPECT_EQ(exchange_.ReceiveReply(line_), LineResult::kOk) << step.expected;
      EXPECT_STREQ(line_, step.expected);
    } else {
      EXPECT_EQ(Line(), step.expected);
    }
  }
  EXPECT_TRUE(PortDrained());
}

TEST_F(LineExchangeTest, ReplyGivesUpAfterTenEmptyAttempts) {
  const auto start = Clock::now();
  EXPECT_EQ(exchange_.ReceiveReply(line_), LineResult::kNoReply);
  EXPECT_STREQ(line_, "");
  // Ten attempts of 100 ms; loose bounds for a loaded machine.
  EXPECT_GE(MsSince(start), 700);
  EXPECT_LT(MsSince(start), 5000);

  pty_.Send("OK");
  EXPECT_EQ(exchange_.ReceiveReply(line_), LineResult::kNoReply);
  EXPECT_STREQ(line_, "OK");
}

TEST_F(LineExchangeTest, HangUpEndsEveryReceiveWithThePortFailure) {
  close(pty_.master);
  pty_.master = -1;
  std::size_t length = 0;
  EXPECT_EQ(exchange_.ReceiveLine(line_, length), LineResult::kPortFailed);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(exchange_.ReceiveReply(line_), LineResult::kPortFailed);
}

// A transfer on a port that hung up answers the failure to its session, which ends the process;
// the transfer itself never does. (Master waits for a key first, so it is not among them.)
class TransferOnHungUpPort : public LineExchangeTest,
                             public testing::WithParamInterface<TransferResult (*)(CloneSession&)> {
};

TEST_P(TransferOnHungUpPort, AnswersThePortFailure) {
  close(pty_.master);
  pty_.master = -1;
  ReceivedFile received;
  TransferSettings settings;
  CloneSession session(exchange_, kModels[0], settings, received);
  EXPECT_EQ(GetParam()(session), TransferResult::kPortFailed);
}

INSTANTIATE_TEST_SUITE_P(ListeningTransfers, TransferOnHungUpPort,
                         testing::Values(&RunSlave, &RunCompare));

}  // namespace
}  // namespace talven
