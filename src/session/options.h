// Options of the command line. They begin with "-", come before the positional arguments and do not
// count towards the positional argument rule.
#pragma once

#include <cstdio>

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
  const char* error = nullptr;      // set when the options cannot be understood
  // What is wrong with error when it is a word of the command line.
  const char* errorReason = "unknown option";
};

Options ParseOptions(int argc, char** argv);

void PrintUsage(std::FILE* out);

}  // namespace talven
