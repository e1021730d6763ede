// talven: copies a radio scanner's clone data between the scanner and a PC over a serial port.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backup/backup_commands.h"
#include "clone/transfer.h"
#include "discovery/port_list.h"
#include "names/file_system.h"
#include "process/exit_path.h"
#include "process/text_io.h"
#include "session/driver.h"
#include "session/options.h"
#include "trace/wire_trace.h"

namespace {

// Exit status for a command line that cannot be acted on; the session itself never uses it.
constexpr int kUsageStatus = 2;

}  // namespace

int main(int rawCount, char** rawArguments) {
  // Every name inside the program is UTF-8.
  std::vector<std::string> arguments = talven::CommandLineArguments(rawCount, rawArguments);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());
  char** argv = pointers.data();
  const talven::Options options = talven::ParseOptions(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "talven: %s\nTry 'talven --help'.\n", options.error.c_str());
    return kUsageStatus;
  }
  if (options.help) {
    talven::PrintUsage(stdout);
    return 0;
  }
  if (options.version) {
    std::printf("talven %s\n", talven::kVersionText);
    return 0;
  }
  if (options.listPorts) {
    talven::PrintPortList(stdout, talven::ListSerialPorts());
    return 0;
  }
  if (options.checkPath != nullptr) {
    return talven::ProcessStatus(talven::RunCheckCommand(options.checkPath));
  }
  if (options.diffPaths[0] != nullptr) {
    return talven::ProcessStatus(
        talven::RunDiffCommand(options.diffPaths[0], options.diffPaths[1]));
  }
  talven::SessionEnd end;
  {
    // Closed with this block, before the process ends.
    talven::WireTrace trace;
    // Held now and begun once setup has found it is none of the session's own files.
    if (options.tracePath != nullptr && !trace.Hold(options.tracePath)) {
      talven::ReportError(options.tracePath,
                          errno == EEXIST ? "is there and is not a wire trace; give another name"
                          : errno == EBUSY
                              ? "is in use by another talven session; give another name"
                              : talven::FileErrorText(errno));
      return kUsageStatus;
    }
    talven::TransferOptions transfer;
    transfer.verifyBeforeSending = !options.noVerify;
    transfer.backup = options.backup;
    // Setup sees the program name and the positional arguments only.
    std::vector<char*> positional{argv[0]};
    for (int i = options.firstPositional; i < argc; ++i) positional.push_back(argv[i]);
    positional.push_back(nullptr);
    end = talven::RunSession(trace, transfer, static_cast<int>(positional.size() - 1),
                             positional.data(), options.exitCode ? 1 : 0);
  }
  return talven::EndProcess(end.status, end.pauseForKey);
}
