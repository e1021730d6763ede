// talven: copies a radio scanner's clone data between the scanner and a PC over a serial port.
#include <cstdio>
#include <vector>

#include "session/driver.h"
#include "session/options.h"

int main(int argc, char** argv) {
  const talven::Options options = talven::ParseOptions(argc, argv);
  if (options.error != nullptr) {
    std::fprintf(stderr, "talven: unknown option: %s\n", options.error);
    talven::PrintUsage(stderr);
    return 2;
  }
  if (options.help) {
    talven::PrintUsage(stdout);
    return 0;
  }
  if (options.version) {
    std::printf("talven %s\n", talven::kVersionText);
    return 0;
  }
  // Setup sees the program name and the positional arguments only.
  std::vector<char*> positional{argv[0]};
  for (int i = options.firstPositional; i < argc; ++i) positional.push_back(argv[i]);
  positional.push_back(nullptr);
  talven::RunSession(static_cast<int>(positional.size() - 1), positional.data());
}
