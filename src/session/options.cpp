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
    } else if (std::strcmp(word, "--no-verify") == 0) {
      options.noVerify = true;
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
               "Arguments are taken by position, in the order above; whatever is missing is asked\n"
               "for on the console. Six or more arguments are all ignored.\n"
               "\n"
               "  MODEL  product code or label of the scanner (see the table below)\n"
               "  PORT   serial port number n of COMn (1-256); on Linux and macOS n opens\n"
               "         /dev/ttyS<n-1>, or give the device path itself, e.g. /dev/ttyUSB0.\n"
               "         talven --list-ports shows what to give here.\n"
               "  MODE   MASTER   PC -> scanner: send FILE to a scanner waiting as clone slave\n"
               "         SLAVE    scanner -> PC: the scanner, as clone master, sends its data\n"
               "                  into FILE (replaced once the transfer is complete;\n"
               "                  until then the records go into FILE.partial)\n"
               "         COMPARE  the scanner, as clone master, sends its data; talven checks it\n"
               "                  against FILE and logs differences (models with compare: yes)\n"
               "  FILE   the clone file: text, one record per line\n"
               "  PAUSE  1 (default): wait for a key before exiting; any other number: do not\n"
               "\n"
               "Options (before the arguments):\n"
               "  -h, --help        show this help and exit\n"
               "  --version         show the version and exit\n"
               "  --list-ports      list this machine's serial ports and exit\n"
               "  --trace FILE      record every byte on the wire, with times, in FILE\n"
               "  --no-verify       MASTER: send FILE as it is, without first checking every\n"
               "                    record's checksum (a bad record stops the scanner midway)\n"
               "\n"
               "Models:\n"
               "  key  label       code    speed   compare\n");
  for (const ModelEntry& model : kModels) {
    std::fprintf(out, "  %c    %-11.*s %.*s  %-6u  %s\n", model.menuKey,
                 static_cast<int>(model.commandLineLabel.size()), model.commandLineLabel.data(),
                 static_cast<int>(model.productCode.size()), model.productCode.data(),
                 DecodeLinkSettings(model.linkSettingsWord).baudRate.value_or(0),
                 model.compareAllowed ? "yes" : "no");
  }
  std::fprintf(out,
               "\n"
               "Give the label or the code as MODEL; the key picks the model in the menu, which\n"
               "shows model f as QR450PL.\n"
               "\n"
               "Messages: a short reason for every failure follows on standard error, e.g. which\n"
               "device could not be opened and why. See also the talven(1) manual page.\n"
               "\n"
               "Exit status:\n"
               "  0      the session reached its report (also after a failed transfer)\n"
               "  255    a fault ended it early: the port could not be opened or set, a record\n"
               "         was not taken after 10 sends or the clone file failed its check before\n"
               "         sending, the mismatch log could not be created,\n"
               "         or a question could not be answered (-1 on Windows)\n"
               "  2      the options could not be understood, or the trace file not created\n"
               "  128+N  ended by signal N (Ctrl+C: 130)\n"
               "\n"
               "Examples:\n"
               "  talven KM504R 3 SLAVE scanner.txt 0\n"
               "      receive the scanner's data from COM3 into scanner.txt, no key wait\n"
               "  talven --trace wire.log QRX320A /dev/ttyUSB0 MASTER scanner.txt\n"
               "      send scanner.txt to the scanner on /dev/ttyUSB0, recording the wire\n");
}

}  // namespace talven
