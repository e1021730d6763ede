// talven-simscanner: a scanner at the other end of the cable, for tests, the demo and the bench.
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <csignal>
#include <cstdarg>
#include <cstdio>

#include "link.h"
#include "options.h"
#include "records.h"
#include "roles.h"

namespace simscanner {

void Note(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("talven-simscanner: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
}

std::string Visible(std::string_view line) {
  std::string out;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned{byte});
      out += escaped;
    }
  }
  return out;
}

}  // namespace simscanner

namespace {

using simscanner::Note;

constexpr int kIncomplete = 1;
constexpr int kUsage = 2;

int Usage(const std::string& message) {
  Note("%s (see --help)", message.c_str());
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const simscanner::ParseResult parsed = simscanner::ParseOptions(argc, argv);
  if (parsed.help) {
    simscanner::PrintHelp(stdout);
    return 0;
  }
  if (!parsed.error.empty()) return Usage(parsed.error);
  const simscanner::Options& options = parsed.options;

  simscanner::RecordSet records;
  if (options.generate) {
    const std::uint32_t keyWidth = simscanner::KeyWidth(options.generateCount);
    if (options.bodyLength < keyWidth + 1) {
      return Usage("--body-length must be at least " + std::to_string(keyWidth + 1) +
                   " for the keys of " + std::to_string(options.generateCount) + " records");
    }
    records = simscanner::RecordSet::Generated(options.generateCount, options.bodyLength,
                                               options.seed, options.highBytes);
  } else if (!options.recordsFile.empty()) {
    std::string error;
    if (!simscanner::RecordSet::Load(options.recordsFile, records, error)) return Usage(error);
  }

  if (!options.saveRecords.empty()) {
    std::string error;
    if (!simscanner::WriteRecordFile(options.saveRecords, records, error)) {
      Note("%s", error.c_str());
      return kIncomplete;
    }
  }

  // A peer that leaves shows as an error from write, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  simscanner::Link link;
  std::string error;
  if (options.makePty) {
    std::string path;
    if (!link.CreatePty(path, error)) {
      Note("%s", error.c_str());
      return kIncomplete;
    }
    std::printf("PTY %s\n", path.c_str());
    std::fflush(stdout);
  } else if (!link.OpenDevice(options.device, options.baud, error)) {
    Note("%s", error.c_str());
    return kIncomplete;
  }
  link.SetPacing(options.pacingBaud);
#ifdef __linux__
  // Paced sleeps would otherwise end up to 50 us late each, which the wire time would not show.
  if (options.pacingBaud != 0) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  link.SetLfAfterCr(options.lfAfterCr);

  const int status = options.role == simscanner::Role::kMaster
                         ? simscanner::RunMasterRole(link, options, records)
                         : simscanner::RunSlaveRole(link, options);
  if (options.pacingBaud != 0) Note("%s", link.PacingReport().c_str());
  return status;
}
