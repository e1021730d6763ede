#include "session/options.h"

#include <cstring>

#include "models/catalogue.h"
#include "process/platform.h"
#include "serial/link_settings.h"
#include "session/driver.h"

namespace talven {

namespace {

// A word that looks like an option: "-" and a letter, or "--" and more. "-4" is a number and "-"
// alone a name.
bool IsDashWord(const char* word) {
  return word[0] == '-' && word[1] != '\0' && (word[1] < '0' || word[1] > '9');
}

constexpr const char* kUnknownOption = "unknown option";

void RefuseWord(Options& options, const char* word, const char* reason) {
  options.error = std::string(word) + ": " + reason;
}

// Whether the option loop knows the word: tried alone, with a stand-in value should it take one.
bool KnownOption(char* word) {
  char program[] = "talven";
  char value[] = "x";
  char* probe[] = {program, word, value, nullptr};
  return ParseOptions(3, probe).error.empty();
}

// A dash word among the positional arguments is a mistyped or misplaced option, not a model name or
// a file name; after "--" every word is positional.
void RefuseDashWords(int argc, char** argv, bool afterDoubleDash, Options& options) {
  if (!options.error.empty() || afterDoubleDash) return;
  for (int i = options.firstPositional; i < argc; ++i) {
    if (!IsDashWord(argv[i])) continue;
    RefuseWord(
        options, argv[i],
        KnownOption(argv[i]) ? "options go before MODEL and the other arguments" : kUnknownOption);
    return;
  }
}

// The value of an option that takes one, given as "--name VALUE" or "--name=VALUE"; nullptr when
// there is none. index moves past what was taken.
const char* TakeValue(int argc, char** argv, int& index, std::size_t nameLength) {
  const char* word = argv[index];
  if (word[nameLength] == '=')
    return word[nameLength + 1] != '\0' ? word + nameLength + 1 : nullptr;
  if (index + 1 >= argc) return nullptr;
  return argv[++index];
}

// The option's name: the word, or what stands before its "=".
bool IsOption(const char* word, const char* name) {
  const std::size_t length = std::strlen(name);
  return std::strncmp(word, name, length) == 0 && (word[length] == '\0' || word[length] == '=');
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options options;
  int index = 1;
  bool afterDoubleDash = false;
  for (; index < argc; ++index) {
    const char* word = argv[index];
    if (std::strcmp(word, "--") == 0) {
      ++index;
      afterDoubleDash = true;
      break;
    }
    if (word[0] != '-' || word[1] != '-') {
      if (std::strcmp(word, "-h") == 0) {
        options.help = true;
        continue;
      }
      if (IsDashWord(word)) RefuseWord(options, word, kUnknownOption);
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
    } else if (IsOption(word, "--trace")) {
      options.tracePath = TakeValue(argc, argv, index, std::strlen("--trace"));
      if (options.tracePath == nullptr) {
        options.error = "--trace needs a file name";
        break;
      }
    } else if (std::strcmp(word, "--exit-code") == 0) {
      options.exitCode = true;
    } else if (std::strcmp(word, "--no-backup") == 0) {
      options.backup = BackupControl::kNone;
    } else if (std::strcmp(word, "--backup") == 0) {
      options.backup = BackupControl::kSimple;
    } else if (std::strncmp(word, "--backup=", std::strlen("--backup=")) == 0) {
      // The value only after "=": a word after "--backup" is MODEL.
      if (!ParseBackupControl(word + std::strlen("--backup="), options.backup)) {
        RefuseWord(options, word, "give simple or numbered");
        break;
      }
    } else if (IsOption(word, "--check")) {
      options.checkPath = TakeValue(argc, argv, index, std::strlen("--check"));
      if (options.checkPath == nullptr) {
        options.error = "--check needs a file name";
        break;
      }
    } else if (IsOption(word, "--diff")) {
      // "--diff=OLD NEW": the first value in the word, the second after it.
      options.diffPaths[0] = TakeValue(argc, argv, index, std::strlen("--diff"));
      if (options.diffPaths[0] == nullptr || index + 1 >= argc) {
        options.diffPaths[0] = nullptr;
        options.error = "--diff needs two file names, OLD and NEW";
        break;
      }
      options.diffPaths[1] = argv[++index];
    } else if (IsOption(word, "--help") || IsOption(word, "--version") ||
               IsOption(word, "--list-ports") || IsOption(word, "--no-verify") ||
               IsOption(word, "--exit-code") || IsOption(word, "--no-backup")) {
      RefuseWord(options, word, "takes no value");
      break;
    } else {
      RefuseWord(options, word, kUnknownOption);
      break;
    }
  }
  options.firstPositional = index;
  RefuseDashWords(argc, argv, afterDoubleDash, options);
  // The file questions need no scanner and take nothing else.
  const bool fileQuestion = options.checkPath != nullptr || options.diffPaths[0] != nullptr;
  if (options.error.empty() && fileQuestion) {
    if (options.checkPath != nullptr && options.diffPaths[0] != nullptr) {
      options.error = "--check and --diff cannot be given together";
    } else if (index < argc) {
      options.error = "--check and --diff take no further arguments";
    } else if (options.diffPaths[0] != nullptr && std::strcmp(options.diffPaths[0], "-") == 0 &&
               std::strcmp(options.diffPaths[1], "-") == 0) {
      options.error = "--diff: standard input (-) can be only one of OLD and NEW";
    }
  } else if (options.error.empty() && options.listPorts && index < argc) {
    options.error = "--list-ports takes no further arguments";
  }
  return options;
}

namespace {

// What the help says differently on Windows, where ports are COMn only, there is no manual page
// and the examples are typed at a command prompt.
struct SystemHelp {
  const char* portLines;
  const char* seeAlso;
  const char* traceExample;
};

constexpr SystemHelp kPosixHelp = {
    "  PORT   serial port n of COMn (1-256), as n or COMn; on Linux and macOS n opens\n"
    "         /dev/ttyS<n-1>, or give the device path itself, e.g. /dev/ttyUSB0.\n",
    " See also the talven(1) manual page.\n",
    "  talven --trace wire.log QRX320A /dev/ttyUSB0 MASTER scanner.txt\n"
    "      send scanner.txt to the scanner on /dev/ttyUSB0, recording the wire\n"};

constexpr SystemHelp kWindowsHelp = {
    "  PORT   serial port n of COMn (1-256), as n or COMn, e.g. 3 or COM3.\n", "\n",
    "  talven --trace wire.log QRX320A COM4 MASTER \"My Documents\\scanner.txt\"\n"
    "      send scanner.txt to the scanner on COM4, recording the wire\n"
    "  talven KM504R 3 SLAVE scanner.txt 0\n"
    "  if errorlevel 1 echo The transfer did not finish.\n"
    "      in a batch file: a fault (status 255) is caught by \"if errorlevel 1\"\n"};

}  // namespace

void PrintUsage(std::FILE* out) {
  const SystemHelp& system = DevicePathsAllowed() ? kPosixHelp : kWindowsHelp;
  std::fprintf(out,
               "Usage: talven [OPTIONS] [MODEL [PORT [MODE [FILE [PAUSE]]]]]\n"
               "       talven --check FILE | --diff OLD NEW\n"
               "\n"
               "Copies a scanner's clone data between the scanner and a PC over a serial port.\n"
               "Arguments are taken by position, in the order above; whatever is missing is asked\n"
               "for on the console. Six or more arguments are all ignored.\n"
               "\n"
               "  MODEL  product code or label of the scanner (see the table below)\n"
               "%s"
               "         talven --list-ports shows what to give here. A word that is no port\n"
               "         is taken as port 0, which no machine has.\n"
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
               "  --exit-code       exit with 1 when the session's result is an error\n"
               "  --check FILE      check every record of FILE without a scanner; exit 0 when\n"
               "                    all are valid, 1 when one is not\n"
               "  --diff OLD NEW    compare two clone files record by record, matched by key\n"
               "                    (the text before the first comma); exit 0 when the same\n"
               "  --no-verify       MASTER: send FILE as it is, without first checking every\n"
               "                    record's checksum (a bad record stops the scanner midway)\n"
               "  --backup=CONTROL  SLAVE: keep the file FILE replaces as FILE~ (simple, the\n"
               "                    default) or as FILE.~N~, the next free N (numbered), when\n"
               "                    the records received differ from the ones it held\n"
               "  --no-backup       SLAVE: replace FILE without keeping the file it replaces\n"
               "  An option's value may also follow an \"=\": --trace=FILE, --diff=OLD NEW.\n"
               "\n"
               "MASTER waits for a key once the scanner is ready; without a keyboard (input\n"
               "from a file or a pipe) it says \"no keyboard to wait on; starting at once\" on\n"
               "standard error and sends at once: put the scanner in its clone state first.\n"
               "\n"
               "Models:\n"
               "  key  label       code    speed   compare\n",
               system.portLines);
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
               "device could not be opened and why.%s"
               "\n"
               "Exit status:\n"
               "  0      the session reached its report (also after a failed transfer)\n"
               "  1      with --exit-code: the result was an error; with --check: a record is\n"
               "         not valid; with --diff: the files differ\n"
               "  255    a fault ended it early: the port could not be opened or set, a record\n"
               "         was not taken after 10 sends or the clone file failed its check before\n"
               "         sending, the mismatch log could not be created, or a question could not\n"
               "         be answered; with --check or --diff: a file could not be read\n"
               "         (255 on Windows too, so a batch file's \"if errorlevel 1\" sees it)\n"
               "  2      the options could not be understood, or the trace file could not be\n"
               "         created (or is a file that is no wire trace); nothing was started\n"
               "  128+N  ended by signal N (Ctrl+C: 130)\n"
               "\n"
               "Examples:\n"
               "  talven KM504R 3 SLAVE scanner.txt 0\n"
               "      receive the scanner's data from COM3 into scanner.txt, no key wait\n"
               "%s"
               "  talven --exit-code KM504R 3 COMPARE scanner.txt 0\n"
               "      compare the scanner with scanner.txt; exit status 1 when they differ\n"
               "  talven --check scanner.txt\n"
               "      check every record of scanner.txt and show the SUM it would send\n"
               "  talven --diff 2026-11-01.txt 2026-12-01.txt\n"
               "      show the records changed, added and removed between two backups\n",
               system.seeAlso, system.traceExample);
}

}  // namespace talven
