#include "session/options.h"

#include <cstring>

#include "serial/link_settings.h"
#include "session/catalogue.h"
#include "session/driver.h"

namespace talven {

Options ParseOptions(int argc, char** argv) {
  Options options;
  int index = 1;
  for (; index < argc; ++index) {
    const char* word = argv[index];
    if (std::strcmp(word, "--") == 0) {
      ++index;
      break;
    }
    if (word[0] != '-' || word[1] != '-') {
      if (std::strcmp(word, "-h") == 0) {
        options.help = true;
        continue;
      }
      break;
    }
    if (std::strcmp(word, "--help") == 0) {
      options.help = true;
    } else if (std::strcmp(word, "--version") == 0) {
      options.version = true;
    } else if (std::strcmp(word, "--list-ports") == 0) {
      options.listPorts = true;
    } else if (std::strcmp(word, "--trace") == 0) {
      if (index + 1 >= argc) {
        options.error = "--trace needs a file name";
        break;
      }
      options.tracePath = argv[++index];
    } else {
      options.error = word;
      break;
    }
  }
  options.firstPositional = index;
  return options;
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: talven [OPTIONS] [MODEL [PORT [MODE [FILE [PAUSE]]]]]\n"
               "\n"
               "Copies a scanner's clone data between the scanner and a PC over a serial port.\n"
               "Arguments are taken by position; whatever is missing is asked for on the console.\n"
               "Six or more arguments are all ignored.\n"
               "\n"
               "  MODEL  product code or label of the scanner (see the table below)\n"
               "  PORT   serial port number n of COMn (1-256); on Linux and macOS n opens\n"
               "         /dev/ttyS<n-1>, or give the device path itself, e.g. /dev/ttyUSB0\n"
               "  MODE   MASTER  (PC -> scanner: send FILE to a scanner waiting as clone slave)\n"
               "         SLAVE   (scanner -> PC: receive the scanner's data into FILE)\n"
               "         COMPARE (check the scanner's data against FILE; some models only)\n"
               "  FILE   the clone file\n"
               "  PAUSE  1 (default): wait for a key before exiting; any other number: do not\n"
               "\n"
               "Options:\n"
               "  -h, --help        show this help and exit\n"
               "  --version         show the version and exit\n"
               "  --list-ports      list this machine's serial ports and exit\n"
               "  --trace FILE      record every byte on the wire, with times, in FILE\n"
               "\n"
               "Models:\n"
               "  key  label       code    speed   compare\n");
  for (const ModelEntry& model : kModels) {
    std::fprintf(out, "  %c    %-11.*s %.*s  %-6u  %s\n", model.menuKey,
                 static_cast<int>(model.commandLineLabel.size()), model.commandLineLabel.data(),
                 static_cast<int>(model.productCode.size()), model.productCode.data(),
                 DecodeLinkSettings(model.linkSettingsWord).baudRate.value_or(0), model.compareAllowed ? "yes" : "no");
  }
  std::fprintf(out,
               "\n"
               "Exit status: 0 when the session reached its report (also after a failed\n"
               "transfer), 255 (-1) when a fault ended it early, 128+N after signal N.\n"
               "\n"
               "Examples:\n"
               "  talven KM504R 3 SLAVE scanner.txt 0     receive into scanner.txt from COM3\n"
               "  talven QRX320A /dev/ttyUSB0 MASTER scanner.txt\n");
}

}  // namespace talven
