// The scanner's end of the serial line: a device opened raw, or a pseudo-terminal made here.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace simscanner {

using Clock = std::chrono::steady_clock;

inline Clock::time_point After(std::uint32_t milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds);
}

enum class ReadStatus { kLine, kTimeout, kHangUp, kError };

class Link {
 public:
  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link();

  // Raw 8N1 at the given speed.
  bool OpenDevice(const std::string& path, std::uint32_t baud, std::string& error);
  // A pseudo-terminal whose slave end is left closed for the peer; its path goes to slavePath.
  bool CreatePty(std::string& slavePath, std::string& error);

  // Pacing of the line (0: none): what is sent leaves at that speed, and a line received counts
  // as arrived once its bytes would have crossed the wire. And an LF sent after every CR.
  void SetPacing(std::uint32_t baud) { pacingBaud_ = baud; }
  void SetLfAfterCr(bool on) { lfAfterCr_ = on; }

  // On a pseudo-terminal: true once the peer has opened the slave end and made it raw. A device
  // is taken as ready at once.
  bool WaitForPeer(Clock::time_point deadline);

  // Sends the text and a CR; false when the peer is gone or the line stays blocked.
  bool SendLine(std::string_view text, Clock::time_point deadline);

  // The next line up to its CR, without the CR and without an LF that followed an earlier CR.
  ReadStatus ReadLine(std::string& line, Clock::time_point deadline);

  // Before closing: lets the peer take in what was sent. A pseudo-terminal drops unread input
  // when its master closes, so wait until the peer closes its end; a device is drained.
  void Linger(Clock::time_point deadline);

  const std::string& LastError() const { return error_; }

  // For a paced line: bytes each way, the time from the first byte exchanged to the last, and
  // the peer's turnaround (the last byte of a line sent here to the first byte of its answer).
  std::string PacingReport() const;

 private:
  bool WriteAll(const char* data, std::size_t length, Clock::time_point deadline);
  bool WritePaced(const char* data, std::size_t length, Clock::time_point deadline);
  void Received(std::size_t count);
  void Exchanged(Clock::time_point when);

  int fd_ = -1;
  bool pty_ = false;
  std::uint32_t pacingBaud_ = 0;
  bool lfAfterCr_ = false;
  Clock::time_point wireFree_{};
  Clock::time_point receiveFree_{};  // when what was read so far has crossed the wire
  std::uint64_t bytesSent_ = 0;
  std::uint64_t bytesReceived_ = 0;
  Clock::time_point firstExchange_{};
  Clock::time_point lastExchange_{};
  bool awaitingAnswer_ = false;
  std::vector<double> turnaroundsUs_;
  std::string outgoing_;
  std::string pending_;
  std::size_t pendingStart_ = 0;
  std::string error_;
};

}  // namespace simscanner
