// The console runs in a child process whose controlling terminal is a fresh pseudo-terminal; the
// test types into the master side and reads what the child reports through a pipe.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "process/console.h"
#include "process/signals.h"

namespace talven {
namespace {

using namespace std::chrono_literals;
constexpr auto kTimeLimit = 5s;

void Report(int fd, int value) {
  if (write(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) _exit(3);
}

class Child {
 public:
  // withTerminal false: the child is a new session without any controlling terminal.
  Child(std::function<void(int report)> body, bool withTerminal = true) {
    int fds[2];
    if (pipe(fds) != 0) return;
    // The child must not write the parent's buffered output a second time.
    std::fflush(nullptr);
    pid_ = withTerminal ? forkpty(&master_, nullptr, nullptr, nullptr) : fork();
    if (pid_ == 0) {
      close(fds[0]);
      if (!withTerminal) setsid();
      body(fds[1]);
      _exit(0);
    }
    close(fds[1]);
    results_ = fds[0];
  }

  ~Child() {
    Hangup();
    Wait();
    if (pid_ > 0) {  // still running after the time limit
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (results_ >= 0) close(results_);
  }

  bool started() const { return pid_ > 0 && results_ >= 0; }

  // True once the child has put the terminal into key-reading mode.
  bool WaitForKeyRead() const {
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    while (std::chrono::steady_clock::now() < deadline) {
      termios settings{};
      if (tcgetattr(master_, &settings) == 0 && (settings.c_lflag & ICANON) == 0) return true;
      std::this_thread::sleep_for(2ms);
    }
    return false;
  }

  void Type(const std::string& bytes) const {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::optional<int> Next() const {
    pollfd entry{results_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kTimeLimit).count())) != 1)
      return std::nullopt;
    int value = 0;
    if (read(results_, &value, sizeof value) != static_cast<ssize_t>(sizeof value))
      return std::nullopt;
    return value;
  }

  // What the child wrote to its terminal so far, given a moment to arrive.
  std::string Output() const {
    std::string text;
    pollfd entry{master_, POLLIN, 0};
    while (poll(&entry, 1, 100) == 1 && (entry.revents & POLLIN) != 0) {
      char buffer[256];
      const ssize_t count = read(master_, buffer, sizeof buffer);
      if (count <= 0) break;
      text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
  }

  termios Settings() const {
    termios settings{};
    tcgetattr(master_, &settings);
    return settings;
  }

  void Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
  }

  void Hangup() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  // The child's wait status once it has ended.
  std::optional<int> Wait() {
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  int results_ = -1;
};

TEST(ConsolePosix, BurstOfKeysIsReadInOrderWithQuitAndSuspendAsCodes) {
  Child child([](int report) {
    Report(report, WaitForKey());
    for (int i = 0; i < 6; ++i) Report(report, ReadKey());
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitForKeyRead());
  child.Type("a\x1b[A\r\x1c\x1a");
  for (int expected : {1, int{'a'}, 0, 72, 13, 28, 26}) EXPECT_EQ(child.Next(), expected);
}

TEST(ConsolePosix, LoneEscIsReadWithoutAFollowingKey) {
  Child child([](int report) {
    Report(report, ReadKey());
    Report(report, ReadKey());
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitForKeyRead());
  child.Type("\x1b");
  EXPECT_EQ(child.Next(), 27);
  ASSERT_TRUE(child.WaitForKeyRead());
  child.Type("x");
  EXPECT_EQ(child.Next(), 'x');
}

TEST(ConsolePosix, OnlyReadKeyEchoEchoesAndSettingsComeBack) {
  Child child([](int report) {
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
    termios before{};
    tcgetattr(tty, &before);
    Report(report, ReadKey());
    Report(report, ReadKeyEcho());
    termios after{};
    tcgetattr(tty, &after);
    Report(report, before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag &&
                       before.c_cc[VMIN] == after.c_cc[VMIN]);
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitForKeyRead());
  child.Type("p");
  EXPECT_EQ(child.Next(), 'p');
  ASSERT_TRUE(child.WaitForKeyRead());
  child.Type("q");
  EXPECT_EQ(child.Next(), 'q');
  EXPECT_EQ(child.Next(), 1);
  EXPECT_EQ(child.Output(), "q");
}

// Keys typed while no read is in progress must not be lost, extended keys included.
TEST(ConsolePosix, KeyAvailableFindsKeysTypedBetweenChecks) {
  Child child([](int report) {
    Report(report, KeyAvailable());
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    bool available = false;
    while (!available && std::chrono::steady_clock::now() < deadline) {
      available = KeyAvailable();
      std::this_thread::sleep_for(5ms);
    }
    Report(report, available);
    Report(report, ReadKey());
    Report(report, ReadKey());
  });
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.Next(), 0);
  child.Type("\x1bOP");
  EXPECT_EQ(child.Next(), 1);
  EXPECT_EQ(child.Next(), 0);
  EXPECT_EQ(child.Next(), 59);
}

TEST(ConsolePosix, HangupEndsTheWait) {
  Child child([](int report) {
    std::signal(SIGHUP, SIG_IGN);
    Report(report, WaitForKey());
    Report(report, ReadKey());
  });
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitForKeyRead());
  child.Hangup();
  EXPECT_EQ(child.Next(), 0);
  EXPECT_EQ(child.Next(), -1);
}

// A signal ends every key read with its "no key" answer, the terminal back in its normal mode, and
// the caller finds the signal recorded; the process goes on to leave by its own way out.
TEST(ConsolePosix, SignalEndsEveryKeyReadInNormalMode) {
  struct Case {
    int (*read)();
    int answer;
  };
  for (const Case& c :
       {Case{+[] { return int{WaitForKey()}; }, 0}, Case{&ReadKey, -1}, Case{&ReadKeyEcho, -1}}) {
    Child child([read = c.read](int report) {
      InstallSignalHandlers();
      Report(report, read());
      Report(report, TakenSignal());
    });
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.WaitForKeyRead());
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Next(), c.answer);
    EXPECT_EQ(child.Next(), SIGTERM);
    const std::optional<int> status = child.Wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(child.Settings().c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
  }
}

TEST(ConsolePosix, WithoutControllingTerminalNothingIsRead) {
  Child child(
      [](int report) {
        Report(report, KeyAvailable());
        Report(report, WaitForKey());
        Report(report, ReadKey());
      },
      false);
  ASSERT_TRUE(child.started());
  for (int expected : {0, 0, -1}) EXPECT_EQ(child.Next(), expected);
}

}  // namespace
}  // namespace talven
