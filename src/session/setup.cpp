#include "session/setup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "clone/clone_file.h"
#include "clone/received_file.h"
#include "session/config.h"
#include "session/console.h"
#include "session/exit_path.h"
#include "session/parse.h"
#include "session/platform.h"

namespace talven {

namespace {

// Typed answers come from standard input; a signal that interrupts the read ends the program here.
class StandardInput final : public CharSource {
 public:
  int Get() override {
    for (;;) {
      errno = 0;
      const int c = std::fgetc(stdin);
      if (c != EOF) return c;
      CheckInterrupt();
      if (std::ferror(stdin) && errno == EINTR) {
        std::clearerr(stdin);
        continue;
      }
      return -1;
    }
  }
  void Unget(int c) override { std::ungetc(c, stdin); }
};

[[noreturn]] void LeaveForEndOfInput() {
  ReportError("standard input", "input ended while an answer was expected");
  Terminate(-1);
}

// A menu answer: one key from the console, echoed.
int ReadMenuKey() {
  std::fflush(stdout);
  if (!WaitForKey()) {
    ReportError("console", "no keyboard to answer the menu from (give all arguments instead)");
    Terminate(-1);
  }
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

void TakeArguments(int argc, char** argv) {
  const int given = argc - 1;
  if (given < 1 || given > 5) return;
  if (given >= 5) gConfig.pauseOnExit = LeadingDecimal(argv[5]);
  if (given >= 4) {
    // A name longer than the field is refused, so the prompt asks for another.
    if (std::strlen(argv[4]) <= kFileNameMax) {
      std::snprintf(gConfig.fileName, sizeof gConfig.fileName, "%s", argv[4]);
    }
  }
  if (given >= 3) gConfig.mode = LookupByName(ModeNames, argv[3]);
  if (given >= 2) {
    if (PortArgumentIsPath(argv[2]) && std::strlen(argv[2]) <= kFileNameMax) {
      // The driver gives the path to this number of the port registry.
      std::snprintf(gConfig.portPath, sizeof gConfig.portPath, "%s", argv[2]);
      gConfig.port = kPathPort;
    } else {
      gConfig.port = LeadingDecimal(argv[2]);
    }
  }
  gConfig.model = LookupByName(ModelNames, argv[1]);
}

void AskPort(StandardInput& input) {
  while (gConfig.port == kNoPort) {
    std::printf("Input Com port (1-99): ");
    std::fflush(stdout);
    std::int32_t value = 0;
    const NumberAnswer answer = ReadNumberAnswer(input, value);
    if (answer == NumberAnswer::kEndOfInput) LeaveForEndOfInput();
    if (answer == NumberAnswer::kNumber && value >= 1 && value <= 99) {
      gConfig.port = value;
    } else {
      std::printf("\aINVALID COM port\n\n");
      gConfig.port = kNoPort;
    }
  }
}

void AskModel() {
  while (gConfig.model == kNoModel) {
    std::printf("Select Scanner Model\n");
    for (std::size_t row = 0; row < kMenuLineCount; ++row) {
      std::fputs(ModelMenuLine(row).data(), stdout);
    }
    gConfig.model = ModelForMenuKey(ReadMenuKey());
    if (gConfig.model == kNoModel) std::printf("\a\n\n");
    std::printf("\n\n");
  }
}

void AskMode() {
  while (gConfig.mode == kNoMode) {
    const bool compareAllowed = CompareAllowedFor(gConfig.model);
    std::printf("Select TALVEN Mode\n");
    std::printf("  1 : Master ( PC ->SCN )\n");
    std::printf("  2 : Slave  ( SCN->PC  )\n");
    if (compareAllowed) std::printf("  3 : Compare \n");
    const int key = ReadMenuKey();
    if (key == '1') {
      gConfig.mode = kMaster;
    } else if (key == '2') {
      gConfig.mode = kSlave;
    } else if (key == '3' && compareAllowed) {
      gConfig.mode = kCompare;
    } else {
      std::printf("\a\n\n");
    }
    std::printf("\n\n");
  }
}

void OpenCloneFile(StandardInput& input) {
  const char* openMode = OpenModeFor(gConfig.mode);
  for (;;) {
    if (gConfig.fileName[0] != '\0') {
      // Slave mode leaves the named file as it is until a transfer has completed.
      gConfig.cloneFile = gConfig.mode == kSlave ? OpenReceivedFile(gConfig.fileName)
                                                 : OpenSessionFile(gConfig.fileName, openMode);
      if (gConfig.cloneFile != nullptr) break;
      // The prompt alone would not say whether the name, the folder or the permissions were wrong.
      ReportError(gConfig.fileName, std::strerror(errno));
    }
    std::printf("Input clone file name : ");
    std::fflush(stdout);
    const WordAnswer answer = ReadWordAnswer(input, gConfig.fileName, sizeof gConfig.fileName);
    if (answer == WordAnswer::kEndOfInput) LeaveForEndOfInput();
    if (answer == WordAnswer::kTooLong) gConfig.fileName[0] = '\0';
    std::printf("\n");
  }
  TrackOpenFile(gConfig.cloneFile);
}

void PrintSummary() {
  std::printf("  File Name  = %s\n", gConfig.fileName);
  std::printf("  Model Name = %s\n", LookupByValue(ModelNames, gConfig.model));
  if (gConfig.portPath[0] != '\0') {
    std::printf("  Com Port   = %s\n", gConfig.portPath);
  } else {
    std::printf("  Com Port   = %d\n", gConfig.port);
  }
}

}  // namespace

void SetupSession(int argc, char** argv) {
  gConfig = SessionConfig{};
  TakeArguments(argc, argv);
  if (gConfig.mode == kCompare && !CompareAllowedFor(gConfig.model)) gConfig.mode = kNoMode;
  if (argc < 5) std::printf("\n");

  StandardInput input;
  AskPort(input);
  AskModel();
  AskMode();
  OpenCloneFile(input);
  PrintSummary();

  gConfig.checksumRequired = ChosenModel().checksumRequired;
  std::uint16_t lines = 0;
  // What Slave mode receives starts empty, whatever the named file holds now.
  if (gConfig.mode != kSlave) CountTextLines(gConfig.fileName, lines);
  gConfig.progressScale = static_cast<std::uint16_t>(lines / 80);
}

}  // namespace talven
