// The scanner as clone master: it sends, the program under test receives.
#include <cstdio>
#include <thread>

#include "roles.h"

namespace simscanner {

namespace {

class MasterSession {
 public:
  MasterSession(Link& link, const Options& options, const RecordSet& records)
      : link_(link), options_(options), records_(records) {}

  int Run() {
    if (!link_.WaitForPeer(After(options_.startTimeoutMs))) return Finish(link_.LastError());
    std::this_thread::sleep_for(std::chrono::milliseconds(options_.delayMs));
    watch_ = Stopwatch{};

    std::string reply;
    if (!Exchange("MDL", reply)) return Finish(failure_);
    if (!options_.identity.empty() && reply != options_.identity) {
      return Finish("identity \"" + Visible(reply) + "\" is not \"" + options_.identity + "\"");
    }

    for (std::size_t i = 0; i < records_.size(); ++i) {
      if (options_.silentAfter >= 0 && i == static_cast<std::size_t>(options_.silentAfter)) {
        return GoSilent();
      }
      const std::string record = records_.At(i);
      if (i < options_.corruptCount) {
        if (!Exchange("CLN " + CorruptCopy(record), reply)) return Finish(failure_);
        if (reply == "OK") {
          ++corruptAccepted_;
          Note("record %zu: a corrupt copy was answered OK", i);
        } else {
          // The good copy that follows a refused corrupt one is a resend of the record.
          ++resends_;
        }
      }
      if (!Deliver(record, i)) return Finish(failure_);
      sum_ = static_cast<std::uint16_t>(sum_ + ChecksumField(record).value_or(0));
    }

    if (options_.sendSum) {
      const unsigned sent = (sum_ + (options_.wrongSum ? 1u : 0u)) & 0xFFFFu;
      char line[16];
      std::snprintf(line, sizeof line, "SUM %04X", sent);
      if (!Exchange(line, reply)) return Finish(failure_);
      if (reply != "OK") return Finish("SUM was answered \"" + Visible(reply) + "\"");
    }
    if (!Send("END")) return Finish(failure_);
    link_.Linger(After(options_.timeoutMs));
    return Finish(corruptAccepted_ == 0 ? std::string{} : "corrupt records were accepted");
  }

 private:
  bool Send(const std::string& line) {
    if (options_.verbose) Note("> %s", Visible(line).c_str());
    if (link_.SendLine(line, After(options_.timeoutMs))) return true;
    failure_ = "sending " + line.substr(0, 3) + ": " + link_.LastError();
    return false;
  }

  bool Exchange(const std::string& line, std::string& reply) {
    if (!Send(line)) return false;
    switch (link_.ReadLine(reply, After(options_.timeoutMs))) {
      case ReadStatus::kLine:
        if (options_.verbose) Note("< %s", Visible(reply).c_str());
        return true;
      case ReadStatus::kTimeout:
        failure_ = "no reply to " + line.substr(0, 3) + " within " +
                   std::to_string(options_.timeoutMs) + " ms";
        return false;
      case ReadStatus::kHangUp:
        failure_ = "the peer hung up";
        return false;
      case ReadStatus::kError:
        break;
    }
    failure_ = link_.LastError();
    return false;
  }

  // Sends the record until it is answered OK, at most --max-sends times.
  bool Deliver(const std::string& record, std::size_t index) {
    std::string reply;
    for (std::uint32_t send = 1; send <= options_.maxSends; ++send) {
      if (!Exchange("CLN " + record, reply)) return false;
      if (reply == "OK") return true;
      ++resends_;
      if (options_.verbose) Note("record %zu refused with \"%s\"", index, Visible(reply).c_str());
    }
    failure_ = "record " + std::to_string(index) + " refused " + std::to_string(options_.maxSends) +
               " times, last with \"" + Visible(reply) + "\"";
    return false;
  }

  // Holds the line open without a word until the wait limit has passed or the peer leaves.
  int GoSilent() {
    Note("silent after %lld records, as asked", static_cast<long long>(options_.silentAfter));
    std::string line;
    const Clock::time_point until = After(options_.timeoutMs);
    while (link_.ReadLine(line, until) == ReadStatus::kLine) {
    }
    return Finish("went silent");
  }

  int Finish(const std::string& failure) {
    const double seconds = watch_.Seconds();
    const std::size_t sent = records_.size();
    if (failure.empty()) {
      Note("master: %zu records sent (%u resends) in %.3f s, %.0f records/s, sum %04X: complete",
           sent, resends_, seconds, seconds > 0 ? static_cast<double>(sent) / seconds : 0.0,
           unsigned{sum_});
      return 0;
    }
    Note("master: FAILED: %s", failure.c_str());
    return 1;
  }

  Link& link_;
  const Options& options_;
  const RecordSet& records_;
  Stopwatch watch_;
  std::string failure_;
  std::uint16_t sum_ = 0;
  std::uint32_t resends_ = 0;
  std::uint32_t corruptAccepted_ = 0;
};

}  // namespace

int RunMasterRole(Link& link, const Options& options, const RecordSet& records) {
  return MasterSession(link, options, records).Run();
}

}  // namespace simscanner
