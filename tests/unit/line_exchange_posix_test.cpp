// Command lines over a pseudo-terminal standing in for the cable.
#include "serial/line_exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "process/config.h"
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
    AssignDevicePath(kPort, pty_.path.c_str());
    ASSERT_EQ(OpenPort(kPort, 4096, 4096), kPortOk);
    ASSERT_EQ(SetReadTimeout(kPort, 100), kPortOk);
    gConfig.port = kPort;
    gConfig.pauseOnExit = 0;
    ResetReceiveBuffer();
  }
  void TearDown() override {
    CloseAllPorts();
    AssignDevicePath(kPort, nullptr);
    alarm(0);
  }

  std::string Line() {
    const std::size_t length = ReceiveLine(line_);
    return std::string(line_, length);
  }

  Pty pty_;
  char line_[kLineBufferSize] = {};
};

TEST_F(LineExchangeTest, SendAppendsOneCr) {
  EXPECT_EQ(SendCommand("MDL"), 4);
  EXPECT_EQ(pty_.Receive(4), "MDL\r");
  EXPECT_EQ(SendCommand(""), 1);
  EXPECT_EQ(pty_.Receive(1), "\r");
  // A text that ends in CR goes out with two.
  EXPECT_EQ(SendCommand("SUM 0000\r"), 10);
  EXPECT_EQ(pty_.Receive(10), "SUM 0000\r\r");
}

TEST_F(LineExchangeTest, OverlongCommandIsCutNotOverrun) {
  const std::string text(5000, 'x');
  EXPECT_EQ(SendCommand(text.c_str()), 4096);
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
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(InQueueCount(kPort), 0);
  EXPECT_EQ(Line(), "END");
}

TEST_F(LineExchangeTest, OverlongLineCutAndRestDropped) {
  pty_.Send(std::string(5000, 'y') + "\rnext\r");
  EXPECT_EQ(Line(), std::string(kLineBufferSize - 1, 'y'));
  EXPECT_EQ(Line(), "next");
}

TEST_F(LineExchangeTest, ReplyEndsAtCr) {
  pty_.Send("OK\r");
  EXPECT_EQ(ReceiveReply(line_), 0);
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
      EXPECT_EQ(ReceiveReply(line_), 0) << step.expected;
      EXPECT_STREQ(line_, step.expected);
    } else {
      EXPECT_EQ(Line(), step.expected);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(InQueueCount(kPort), 0);
}

TEST_F(LineExchangeTest, ReplyGivesUpAfterTenEmptyAttempts) {
  const auto start = Clock::now();
  EXPECT_EQ(ReceiveReply(line_), -1);
  EXPECT_STREQ(line_, "");
  // Ten attempts of 100 ms; loose bounds for a loaded machine.
  EXPECT_GE(MsSince(start), 700);
  EXPECT_LT(MsSince(start), 5000);

  pty_.Send("OK");
  EXPECT_EQ(ReceiveReply(line_), -1);
  EXPECT_STREQ(line_, "OK");
}

TEST_F(LineExchangeTest, HangUpDuringReceiveEndsTheProgram) {
  close(pty_.master);
  pty_.master = -1;
  EXPECT_EXIT(ReceiveLine(line_), testing::ExitedWithCode(255), "stopped working");
}

}  // namespace
}  // namespace talven
