// Options of the command line. They begin with "-", come before the positional arguments and do not
// count towards the positional argument rule.
#pragma once

#include <cstdio>
#include <string>

#include "storage/kept_backup.h"

namespace talven {

struct Options {
  bool help = false;
  bool version = false;
  bool listPorts = false;
  bool noVerify = false;
  const char* tracePath = nullptr;
  bool exitCode = false;            // a session whose result is an error exits with 1
  const char* checkPath = nullptr;  // --check FILE
  const char* diffPaths[2] = {};    // --diff OLD NEW
  int firstPositional = 1;          // index in argv of the first positional argument
  // --backup[=simple|numbered], --no-backup
  BackupControl backup = BackupControl::kSimple;
  // Empty when the options were understood; else what is wrong, for "talven: " to lead: the word
  // and its reason ("--frob: unknown option") or a message ("--trace needs a file name").
  std::string error;
};

Options ParseOptions(int argc, char** argv);

void PrintUsage(std::FILE* out);

}  // namespace talven
