// The scanner as clone slave: the program under test sends, it checks and keeps.
#include <cstdio>
#include <vector>

#include "roles.h"

namespace simscanner {

namespace {

class SlaveSession {
 public:
  SlaveSession(Link& link, const Options& options) : link_(link), options_(options) {}

  int Run() {
    // The peer may wait for a person before it starts, hence the longer first wait.
    Clock::time_point deadline = After(options_.startTimeoutMs);
    if (!link_.WaitForPeer(deadline)) return Finish(link_.LastError());
    std::string line;
    for (;;) {
      switch (link_.ReadLine(line, deadline)) {
        case ReadStatus::kLine:
          break;
        case ReadStatus::kTimeout:
          return Finish(started_ ? "no line from the peer within " +
                                       std::to_string(options_.timeoutMs) + " ms"
                                 : "the peer sent nothing");
        case ReadStatus::kHangUp:
          return Finish("the peer hung up before END");
        case ReadStatus::kError:
          return Finish(link_.LastError());
      }
      if (!started_) watch_ = Stopwatch{};
      started_ = true;
      deadline = After(options_.timeoutMs);
      if (options_.verbose) Note("< %s", Visible(line).c_str());
      if (line.empty()) continue;  // the CR doubled after SUM
      const std::string_view word = std::string_view(line).substr(0, 3);
      const std::string_view argument =
          line.size() > 4 ? std::string_view(line).substr(4) : std::string_view{};
      if (word == "END") break;
      if (silent_) continue;
      bool sent = true;
      if (word == "MDL") {
        sent = Send(options_.identity);
      } else if (word == "CLN") {
        sent = Record(argument);
      } else if (word == "SUM") {
        sent = Sum(argument);
      } else {
        ++unexpected_;
        Note("unexpected line \"%s\"", Visible(line).c_str());
      }
      if (!sent) return Finish("answering " + std::string(word) + ": " + link_.LastError());
    }
    return Finish(Verdict());
  }

 private:
  bool Send(const std::string& line) {
    if (options_.verbose) Note("> %s", Visible(line).c_str());
    return link_.SendLine(line, After(options_.timeoutMs));
  }

  bool Record(std::string_view record) {
    if (refused_ < options_.rejectCount) {
      ++refused_;
      return Send(options_.rejectReply);
    }
    if (!RecordValid(record)) {
      ++invalid_;
      Note("record %zu \"%s\" fails its checksum", accepted_.size(), Visible(record).c_str());
      return Send("NG");
    }
    accepted_.emplace_back(record);
    sum_ = static_cast<std::uint16_t>(sum_ + ChecksumField(record).value_or(0));
    const bool ok = Send("OK");
    if (options_.silentAfter >= 0 &&
        accepted_.size() == static_cast<std::size_t>(options_.silentAfter)) {
      Note("silent after %zu records, as asked", accepted_.size());
      silent_ = true;
    }
    return ok;
  }

  bool Sum(std::string_view argument) {
    sumSeen_ = true;
    const std::optional<std::uint32_t> received = ParseHex(argument);
    sumMatched_ = received && *received == sum_ && !options_.wrongSum;
    if (!sumMatched_) {
      Note("SUM \"%s\" refused; the records received sum to %04X", Visible(argument).c_str(),
           unsigned{sum_});
    }
    return Send(sumMatched_ ? "OK" : "NG");
  }

  std::string Verdict() const {
    if (!options_.out.empty()) {
      std::string error;
      if (!WriteRecordFile(options_.out, accepted_, error)) return error;
    }
    if (silent_) return "went silent";
    if (invalid_ > 0) return std::to_string(invalid_) + " records failed their checksum";
    if (sumSeen_ && !sumMatched_) return "the sum did not match";
    if (unexpected_ > 0) return std::to_string(unexpected_) + " unexpected lines";
    return {};
  }

  int Finish(const std::string& failure) {
    const double seconds = watch_.Seconds();
    const std::size_t count = accepted_.size();
    if (failure.empty()) {
      Note("slave: %zu records received in %.3f s, %.0f records/s, sum %04X%s: complete", count,
           seconds, seconds > 0 ? static_cast<double>(count) / seconds : 0.0, unsigned{sum_},
           sumSeen_ ? " (matched)" : "");
      return 0;
    }
    Note("slave: FAILED after %zu records: %s", count, failure.c_str());
    return 1;
  }

  Link& link_;
  const Options& options_;
  Stopwatch watch_;
  bool started_ = false;
  bool silent_ = false;
  std::vector<std::string> accepted_;
  std::uint16_t sum_ = 0;
  std::uint32_t refused_ = 0;
  std::uint32_t invalid_ = 0;
  std::uint32_t unexpected_ = 0;
  bool sumSeen_ = false;
  bool sumMatched_ = false;
};

}  // namespace

int RunSlaveRole(Link& link, const Options& options) {
  return SlaveSession(link, options).Run();
}

}  // namespace simscanner
