#include "session/setup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "clone/received_file.h"
#include "process/console.h"
#include "process/exit_path.h"
#include "process/platform.h"
#include "process/signals.h"
#include "process/text_io.h"
#include "records/clone_file.h"
#include "session/argument_notes.h"
#include "session/parse.h"
#include "session/session.h"
#include "storage/file_system.h"

namespace talven {

namespace {

// Typed answers come from standard input; a signal that interrupts the read ends the program here.
class StandardInput final : public CharSource {
 public:
  int Get() override {
    for (;;) {
      errno = 0;
      const int c = ReadInputChar();
      if (c != EOF) return c;
      CheckInterrupt();
      if (std::ferror(stdin) && errno == EINTR) {
        std::clearerr(stdin);
        continue;
      }
      // Ctrl+C can end a console read before its signal is recorded: not the end of input.
      if (const int signal = SignalAfterEmptyRead(); signal != 0) ExitForSignal(signal);
      return -1;
    }
  }
  void Unget(int c) override { UngetInputChar(c); }
};

[[noreturn]] void LeaveForEndOfInput() {
  ReportError("standard input", "input ended while an answer was expected");
  Terminate(-1);
}

// Why a menu asks although arguments were given, for the message when no keyboard can answer it.
struct UnusedArguments {
  const char* model = nullptr;
  const char* mode = nullptr;
  bool tooMany = false;
};

// The steps of setup on one session's settings.
class Setup {
 public:
  Setup(SessionConfig& config, ReceivedFile& received) : config_(config), received_(received) {}

  void Run(int argc, char** argv);

 private:
  [[noreturn]] void LeaveForMissingKeyboard(const char* menu, const char* argument) {
    char reason[200];
    if (unused_.tooMany) {
      std::snprintf(
          reason, sizeof reason,
          "no keyboard to answer the %s menu (more than five arguments: all were ignored)", menu);
    } else if (argument != nullptr) {
      std::snprintf(reason, sizeof reason,
                    "no keyboard to answer the %s menu (the argument %.100s was not taken)", menu,
                    argument);
    } else {
      std::snprintf(reason, sizeof reason,
                    "no keyboard to answer the %s menu (give all arguments instead)", menu);
    }
    ReportError("console", reason);
    Terminate(-1);
  }

  // A menu answer: one key from the console, echoed.
  int ReadMenuKey(const char* menu, const char* argument) {
    std::fflush(stdout);
    if (!WaitForKey()) LeaveForMissingKeyboard(menu, argument);
    const int key = ReadKeyEcho();
    if (key < 0) {
      ReportError("console", "the keyboard cannot be read");
      Terminate(-1);
    }
    // A key without a character is one answer, and a wrong one: Alt+N's second code is '1'.
    if (key == 0) {
      ReadKey();
      return 0;
    }
    return key;
  }

  const char* OpenModeFor(std::int32_t mode) {
    switch (mode) {
      case kMaster:
      case kCompare:
        return "r";
      case kSlave:
        return "w";
      default:
        return nullptr;
    }
  }

  bool CompareAllowedFor(ModelId model) {
    return model < kModelCount && kModels[model].compareAllowed;
  }

  // A device named by path; the driver gives the path to this number of the port registry.
  void UsePortPath(std::string_view path) {
    std::snprintf(config_.portPath, sizeof config_.portPath, "%.*s", static_cast<int>(path.size()),
                  path.data());
    config_.port = kPathPort;
  }

  // A bare device name ("ttyUSB0") where device paths are allowed: taken as the device of that name
  // under /dev when there is one, as "COM3" is taken as port 3. Only a character device can be a
  // port: "null", "stdin" or "sda" stay words that are no port.
  bool UseDeviceName(std::string_view word) {
    if (!DevicePathsAllowed() || word.empty() || word.size() > kFileNameMax - 5) return false;
    for (const char c : word) {
      if (c == '/' || c == ' ' || (c >= '\t' && c <= '\r')) return false;
    }
    const std::string path = "/dev/" + std::string(word);
    if (KindOf(path.c_str()) != FileKind::kDevice) return false;
    UsePortPath(path);
    return true;
  }

  // A port is taken as given, and the line on standard error says what was taken when the word
  // said more or less than that.
  void NoteTakenPort(const char* word, const PortWord& port) {
    if (port.kind == PortWordKind::kNotAPort) {
      char reason[kFileNameMax + 16];
      std::snprintf(reason, sizeof reason, "taken as %s", config_.portPath);
      ReportError(word, reason);
    } else if (!port.rest.empty()) {
      const std::string rest(port.rest);
      ReportError(rest.c_str(), port.kind == PortWordKind::kPath ? "ignored after the device path"
                                                                 : "ignored after the port number");
    }
  }

  // One line on standard error for each argument that is not taken as given, in the order given.
  void ExplainArguments(int given, char** argv, const PortWord& port) {
    ArgumentNote note{};
    if (given > 5) {
      ExplainTooManyArguments(given, note);
      ReportError("arguments", note.data());
      unused_.tooMany = true;
      return;
    }
    if (given >= 1 && ExplainModelWord(argv[1], note)) {
      ReportError(argv[1], note.data());
      unused_.model = argv[1];
    }
    if (given >= 2 && config_.portPath[0] != '\0') {
      NoteTakenPort(argv[2], port);
    } else if (given >= 2 && ExplainPortWord(port, DevicePathsAllowed(), note)) {
      ReportError(argv[2][0] != '\0' ? argv[2] : "\"\"", note.data());
    }
    if (given >= 3 && ExplainModeWord(argv[3], config_.model, note)) {
      ReportError(argv[3], note.data());
      unused_.mode = argv[3];
    }
    if (given >= 4 && std::strlen(argv[4]) > kFileNameMax) {
      ReportError("FILE", "the name is longer than 1023 characters");
    }
    if (given >= 5 && ExplainPauseWord(argv[5], note)) ReportError(argv[5], note.data());
  }

  void TakeArguments(int argc, char** argv) {
    const int given = argc - 1;
    PortWord port;
    if (given >= 1 && given <= 5) {
      if (given >= 5) config_.pauseOnExit = LeadingDecimal(argv[5]) == 1;
      // A name longer than the field is refused, so the prompt asks for another.
      if (given >= 4 && std::strlen(argv[4]) <= kFileNameMax) {
        std::snprintf(config_.transfer.fileName, sizeof config_.transfer.fileName, "%s", argv[4]);
      }
      if (given >= 3) config_.mode = LookupByName(ModeNames, argv[3]);
      if (given >= 2) {
        port = ReadPortWord(argv[2], DevicePathsAllowed());
        if (port.kind == PortWordKind::kPath && port.path.size() <= kFileNameMax) {
          UsePortPath(port.path);
        } else if (port.kind == PortWordKind::kNotAPort && UseDeviceName(argv[2])) {
          // Named on standard error with the other arguments.
        } else {
          config_.port = port.number;
        }
      }
      config_.model = LookupByName(ModelNames, argv[1]);
    }
    ExplainArguments(given, argv, port);
  }

  // The rest of an answer line is not left for the next prompt; a device path is taken as the
  // argument would take it.
  void AskPort(StandardInput& input) {
    char answer[kFileNameMax + 1];
    while (config_.port == kNoPort) {
      std::printf("Input Com port (1-99): ");
      std::fflush(stdout);
      const WordAnswer read = ReadLineAnswer(input, answer, sizeof answer);
      if (read == WordAnswer::kEndOfInput) LeaveForEndOfInput();
      if (read != WordAnswer::kWord) answer[0] = '\0';
      const PortWord port = ReadPortWord(answer, DevicePathsAllowed());
      if (port.kind == PortWordKind::kPath) {
        UsePortPath(port.path);
        NoteTakenPort(answer, port);
      } else if (port.kind == PortWordKind::kNumber && port.number >= 1 && port.number <= 99) {
        config_.port = port.number;
        NoteTakenPort(answer, port);
      } else if (port.kind == PortWordKind::kNotAPort && UseDeviceName(answer)) {
        NoteTakenPort(answer, port);
      } else {
        std::printf("\aINVALID COM port\n\n");
        config_.port = kNoPort;
      }
    }
  }

  void AskModel() {
    while (config_.model == kNoModel) {
      std::printf("Select Scanner Model\n");
      for (std::size_t row = 0; row < kMenuLineCount; ++row) {
        std::fputs(ModelMenuLine(row).data(), stdout);
      }
      config_.model = ModelForMenuKey(ReadMenuKey("model", unused_.model));
      if (config_.model == kNoModel) std::printf("\a\n\n");
      std::printf("\n\n");
    }
  }

  void AskMode() {
    while (config_.mode == kNoMode) {
      const bool compareAllowed = CompareAllowedFor(config_.model);
      std::printf("Select TALVEN Mode\n");
      std::printf("  1 : Master ( PC ->SCN )\n");
      std::printf("  2 : Slave  ( SCN->PC  )\n");
      if (compareAllowed) std::printf("  3 : Compare \n");
      const int key = ReadMenuKey("mode", unused_.mode);
      if (key == '1') {
        config_.mode = kMaster;
      } else if (key == '2') {
        config_.mode = kSlave;
      } else if (key == '3' && compareAllowed) {
        config_.mode = kCompare;
      } else {
        std::printf("\a\n\n");
      }
      std::printf("\n\n");
    }
  }

  void OpenCloneFile(StandardInput& input) {
    const char* openMode = OpenModeFor(config_.mode);
    for (;;) {
      if (config_.transfer.fileName[0] != '\0') {
        // Slave mode leaves the named file as it is until a transfer has completed; it names what
        // failed itself.
        if (config_.mode == kSlave) {
          if (OpenReceivedFile(received_, config_.transfer.fileName)) return;
        } else {
          config_.transfer.cloneFile = OpenSessionFile(config_.transfer.fileName, openMode);
          if (config_.transfer.cloneFile != nullptr) break;
          // The prompt alone would not say whether the name, the folder or the permissions were
          // wrong.
          ReportError(config_.transfer.fileName, FileErrorText(errno));
        }
      }
      std::printf("Input clone file name : ");
      std::fflush(stdout);
      // The whole line is the name: folders and names may have blanks in them.
      const WordAnswer answer =
          ReadLineAnswer(input, config_.transfer.fileName, sizeof config_.transfer.fileName);
      if (answer == WordAnswer::kEndOfInput) LeaveForEndOfInput();
      if (answer == WordAnswer::kTooLong) config_.transfer.fileName[0] = '\0';
      std::printf("\n");
    }
    TrackOpenFile(config_.transfer.cloneFile);
  }

  void PrintSummary() {
    std::printf("  File Name  = ");
    PrintText(stdout, config_.transfer.fileName);
    std::printf("\n");
    std::printf("  Model Name = %s\n", LookupByValue(ModelNames, config_.model));
    if (config_.portPath[0] != '\0') {
      std::printf("  Com Port   = %s\n", config_.portPath);
    } else {
      std::printf("  Com Port   = %d\n", config_.port);
    }
  }

  SessionConfig& config_;
  ReceivedFile& received_;
  UnusedArguments unused_;
};

}  // namespace

void SetupSession(int argc, char** argv, SessionConfig& config, ReceivedFile& received) {
  // The options came from the command line before setup; the rest is chosen afresh.
  const TransferOptions options = config.transfer.options;
  config = SessionConfig{};
  config.transfer.options = options;
  Setup(config, received).Run(argc, argv);
}

void Setup::Run(int argc, char** argv) {
  TakeArguments(argc, argv);
  // From here on a way out waits for a key only when the session asks for it.
  PauseOnExit(config_.pauseOnExit);
  if (config_.mode == kCompare && !CompareAllowedFor(config_.model)) config_.mode = kNoMode;
  if (argc < 5) std::printf("\n");

  StandardInput input;
  AskPort(input);
  AskModel();
  AskMode();
  OpenCloneFile(input);
  PrintSummary();

  config_.transfer.checksumRequired = config_.Model().checksumRequired;
  std::uint16_t lines = 0;
  // What Slave mode receives starts empty, whatever the named file holds now.
  if (config_.mode != kSlave) CountTextLines(config_.transfer.fileName, lines);
  config_.transfer.progressScale = static_cast<std::uint16_t>(lines / 80);
}

}  // namespace talven
