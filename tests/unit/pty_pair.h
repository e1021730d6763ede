// A pseudo-terminal pair standing in for a serial cable: the slave is the port's device, the
// master is the scanner's end.
#pragma once

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace talven {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;

  Pty() {
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  termios Settings() const {
    termios t{};
    tcgetattr(slave, &t);
    return t;
  }
  void Send(const std::string& bytes) const {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the port sent, waiting at most a second for all of it.
  std::string Receive(std::size_t count) const {
    std::string got;
    const auto start = Clock::now();
    while (got.size() < count && MsSince(start) < 1000) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(master, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
};

}  // namespace talven
