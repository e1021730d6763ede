// Command line of talven-simscanner: which side it plays, on which line, with which records and
// faults.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace simscanner {

enum class Role { kNone, kMaster, kSlave };

struct Options {
  Role role = Role::kNone;

  // The line: a device path, or a pseudo-terminal made here.
  std::string device;
  bool makePty = false;
  std::uint32_t baud = 115200;
  std::uint32_t pacingBaud = 0;  // 0: send as fast as the line takes it
  std::uint32_t startTimeoutMs = 30000;
  std::uint32_t delayMs = 0;

  // What is sent as master, or answered to "MDL" as slave.
  std::string recordsFile;
  std::uint32_t generateCount = 0;
  bool generate = false;
  std::uint32_t bodyLength = 48;
  std::uint64_t seed = 1;
  bool highBytes = false;
  std::string identity;
  bool sendSum = false;
  std::uint32_t maxSends = 10;
  std::string out;
  std::string saveRecords;

  // Faults.
  std::uint32_t corruptCount = 0;
  bool lfAfterCr = false;
  bool wrongSum = false;
  std::uint32_t rejectCount = 0;
  std::string rejectReply = "NG";
  std::int64_t silentAfter = -1;  // negative: never
  std::uint32_t timeoutMs = 10000;
  bool verbose = false;
};

struct ParseResult {
  Options options;
  bool help = false;
  std::string error;  // non-empty: a usage error
};

ParseResult ParseOptions(int argc, char** argv);
void PrintHelp(std::FILE* out);

}  // namespace simscanner
