#include "session/setup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "clone/received_file.h"
#include "names/file_system.h"
#include "process/console.h"
#include "process/exit_path.h"
#include "process/platform.h"
#include "process/signals.h"
#include "process/text_io.h"
#include "records/clone_file.h"
#include "session/argument_notes.h"
#include "session/parse.h"
#include "session/session.h"
#include "session/trace_guard.h"

namespace talven {

namespace {

// Typed answers come from standard input. A recorded signal ends the input as its end would; the
// reader of an answer asks TakenSignal() which it was, whatever the answer (see Ended).
class StandardInput final : public CharSource {
 public:
  int Get() override {
    for (;;) {
      if (TakenSignal() != 0) return -1;
      errno = 0;
      const int c = ReadInputChar();
      if (c != EOF) return c;
      if (TakenSignal() != 0) return -1;
      if (std::ferror(stdin) && errno == EINTR) {
        std::clearerr(stdin);
        continue;
      }
      // Ctrl+C can end a console read before its signal is recorded: not the end of input.
      SignalAfterEmptyRead();
      return -1;
    }
  }
  void Unget(int c) override { UngetInputChar(c); }
};

// The answer to a prompt just printed. Its line is ended by the answer's echo on a terminal; from
// a file or pipe it stays unfinished, and a message after it starts on a line of its own.
WordAnswer ReadAnswerLine(CharSource& input, char* out, std::size_t capacity) {
  NoteUnfinishedLine(true);
  std::fflush(stdout);
  const WordAnswer answer = ReadLineAnswer(input, out, capacity);
  if (StandardInputIsTerminal()) NoteUnfinishedLine(false);
  return answer;
}

// How a step of setup that could not go on ended: a recorded signal, or what the step said on
// standard error.
SetupResult Ended() {
  return TakenSignal() != 0 ? SetupResult::kInterrupted : SetupResult::kStopped;
}

SetupResult EndOfInput() {
  if (TakenSignal() == 0) {
    ReportError("standard input", "input ended while an answer was expected");
  }
  return Ended();
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
  Setup(SessionConfig& config, ReceivedFile& received, WireTrace* trace)
      : config_(config), received_(received), trace_(trace) {}

  SetupResult Run(int argc, char** argv);

 private:
  void ReportMissingKeyboard(const char* menu, const char* argument) {
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
  }

  // A menu answer: one key from the console, echoed; -1 when setup cannot go on (see Ended).
  int ReadMenuKey(const char* menu, const char* argument) {
    std::fflush(stdout);
    if (!WaitForKey()) {
      if (TakenSignal() == 0) ReportMissingKeyboard(menu, argument);
      return -1;
    }
    const int key = ReadKeyEcho();
    if (key < 0) {
      if (TakenSignal() == 0) ReportError("console", "the keyboard cannot be read");
      return -1;
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

  // A word naming a serial device that is not there: most likely an adapter not plugged in.
  static bool MissingDevice(const char* word, const PortWord& port, bool taken,
                            ArgumentNote& note) {
    if (!DevicePathsAllowed() || port.kind != PortWordKind::kNotAPort ||
        !LooksLikeSerialDeviceName(word)) {
      return false;
    }
    if (KindOf(("/dev/" + std::string(word)).c_str()) != FileKind::kMissing) return false;
    ExplainMissingDevice(word, taken, note);
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
    } else if (given >= 2 && MissingDevice(argv[2], port, true, note)) {
      ReportError(argv[2], note.data());
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
  SetupResult AskPort(StandardInput& input) {
    char answer[kFileNameMax + 1];
    while (config_.port == kNoPort) {
      std::printf("Input Com port (1-99): ");
      const WordAnswer read = ReadAnswerLine(input, answer, sizeof answer);
      // A signal may have cut the answer short: what came before it is no answer.
      if (read == WordAnswer::kEndOfInput || TakenSignal() != 0) return EndOfInput();
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
        if (ArgumentNote note{}; MissingDevice(answer, port, false, note)) {
          ReportError(answer, note.data());
        }
        std::printf("\aINVALID COM port\n\n");
        config_.port = kNoPort;
      }
      // The answer is dealt with; whatever comes next is printed as before.
      NoteUnfinishedLine(false);
    }
    return SetupResult::kReady;
  }

  SetupResult AskModel() {
    while (config_.model == kNoModel) {
      std::printf("Select Scanner Model\n");
      for (std::size_t row = 0; row < kMenuLineCount; ++row) {
        std::fputs(ModelMenuLine(row).data(), stdout);
      }
      const int key = ReadMenuKey("model", unused_.model);
      if (key < 0) return Ended();
      config_.model = ModelForMenuKey(key);
      if (config_.model == kNoModel) std::printf("\a\n\n");
      std::printf("\n\n");
    }
    return SetupResult::kReady;
  }

  SetupResult AskMode() {
    while (config_.mode == kNoMode) {
      const bool compareAllowed = CompareAllowedFor(config_.model);
      std::printf("Select TALVEN Mode\n");
      std::printf("  1 : Master ( PC ->SCN )\n");
      std::printf("  2 : Slave  ( SCN->PC  )\n");
      if (compareAllowed) std::printf("  3 : Compare \n");
      const int key = ReadMenuKey("mode", unused_.mode);
      if (key < 0) return Ended();
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
    return SetupResult::kReady;
  }

  SetupResult OpenCloneFile(StandardInput& input) {
    const char* openMode = OpenModeFor(config_.mode);
    for (;;) {
      if (config_.transfer.fileName[0] != '\0') {
        if (trace_ != nullptr &&
            RefuseTraceOnSessionFile(*trace_, config_.transfer.fileName, config_.mode == kSlave)) {
          return SetupResult::kTraceRefused;
        }
        // Slave mode leaves the named file as it is until a transfer has completed; it names what
        // failed itself.
        if (config_.mode == kSlave) {
          if (received_.Open(config_.transfer.fileName)) return SetupResult::kReady;
          if (TakenSignal() != 0) return SetupResult::kInterrupted;
        } else if (std::FILE* file = OpenSessionFile(config_.transfer.fileName, openMode)) {
          config_.transfer.cloneFile.reset(file);
          return SetupResult::kReady;
        } else {
          // A pipe with no writer yet keeps the open waiting: a signal then ends the session.
          if (TakenSignal() != 0) return SetupResult::kInterrupted;
          // The prompt alone would not say whether the name, the folder or the permissions were
          // wrong.
          ReportError(config_.transfer.fileName, FileErrorText(errno));
        }
      }
      std::printf("Input clone file name : ");
      // The whole line is the name: folders and names may have blanks in them.
      const WordAnswer answer =
          ReadAnswerLine(input, config_.transfer.fileName, sizeof config_.transfer.fileName);
      if (answer == WordAnswer::kEndOfInput || TakenSignal() != 0) return EndOfInput();
      if (answer == WordAnswer::kTooLong) config_.transfer.fileName[0] = '\0';
      std::printf("\n");
      NoteUnfinishedLine(false);
    }
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
  WireTrace* trace_;
  UnusedArguments unused_;
};

}  // namespace

SetupResult SetupSession(int argc, char** argv, SessionConfig& config, ReceivedFile& received,
                         WireTrace* trace) {
  // The options came from the command line before setup; the rest is chosen afresh.
  const TransferOptions options = config.transfer.options;
  config = SessionConfig{};
  config.transfer.options = options;
  return Setup(config, received, trace).Run(argc, argv);
}

SetupResult Setup::Run(int argc, char** argv) {
  TakeArguments(argc, argv);
  if (config_.mode == kCompare && !CompareAllowedFor(config_.model)) config_.mode = kNoMode;
  if (argc < 5) std::printf("\n");

  StandardInput input;
  SetupResult result = AskPort(input);
  if (result == SetupResult::kReady) result = AskModel();
  if (result == SetupResult::kReady) result = AskMode();
  if (result == SetupResult::kReady) result = OpenCloneFile(input);
  if (result != SetupResult::kReady) return result;
  PrintSummary();

  config_.transfer.checksumRequired = config_.Model().checksumRequired;
  std::uint16_t lines = 0;
  // What Slave mode receives starts empty, whatever the named file holds now.
  if (config_.mode != kSlave) CountTextLines(config_.transfer.fileName, lines);
  config_.transfer.progressScale = static_cast<std::uint16_t>(lines / 80);
  return SetupResult::kReady;
}

}  // namespace talven
