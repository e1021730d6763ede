#include <cerrno>
#include <cstdio>
#include <cstring>

#include "clock/clock.h"
#include "clone/transfer.h"
#include "clone/transfer_lines.h"
#include "names/file_system.h"
#include "process/exit_path.h"
#include "records/clone_file.h"
#include "records/record.h"
#include "serial/line_exchange.h"
#include "storage/durable_file.h"
#include "storage/owned_file.h"

namespace talven {

namespace {

// Past this many names taken in one second something else is wrong.
inline constexpr unsigned kLogNameTries = 999;

// The log is named after the moment the compare began, not after the first difference. It is
// closed when the compare ends, however it ends.
struct MismatchLog {
  char name[64] = {};
  OwnedFile file;
  long errorCount = 0;
  CalendarDate date;
  TimeOfDay time;
};

// The second and later tries add "_2", "_3", ... before ".log".
void NameLog(MismatchLog& log, unsigned attempt) {
  const CalendarDate& date = log.date;
  const TimeOfDay& time = log.time;
  char suffix[16] = "";
  if (attempt > 1) std::snprintf(suffix, sizeof suffix, "_%u", attempt);
  std::snprintf(log.name, sizeof log.name, "%04d_%02d_%02d__%02d_%02d_%02d%s.log", int{date.year},
                int{date.month}, int{date.day}, int{time.hour}, int{time.minute}, int{time.second},
                suffix);
}

// Created, never emptied: another compare started in the same second keeps its log.
std::FILE* CreateLog(MismatchLog& log) {
  for (unsigned attempt = 1; attempt <= kLogNameTries; ++attempt) {
    NameLog(log, attempt);
    std::FILE* file = CreateNewFile(log.name);
    if (file != nullptr || errno != EEXIST) {
      if (file != nullptr && attempt > 1) ReportError("mismatch log", log.name);
      return file;
    }
  }
  return nullptr;
}

// false when the log, needed now, cannot be created: the compare is abandoned.
bool ReportMismatch(TransferLine& line, MismatchLog& log, const char* fileLine,
                    const char* received) {
  ++log.errorCount;
  std::printf("\n");
  line.progress.Ended();
  std::printf("Error Count =%ld\n", log.errorCount);
  std::printf(" Master Data=%s\n", fileLine);
  // "Recive" as spelled since the first release: people's scripts match these lines.
  std::printf(" Recive Data=%s\n", received);
  if (log.file == nullptr) {
    log.file.reset(CreateLog(log));
    if (log.file == nullptr) {
      const int error = errno;
      std::printf("File Open Error (%s)\n", log.name);
      ReportError(log.name, FileErrorText(error));
      return false;
    }
    FlushBeforeEveryWait(line, log.file.get());
  }
  // After a failed write the log stops, so that what it holds is every difference up to a point,
  // without a gap; the end of the compare reports it.
  std::FILE* file = log.file.get();
  if (std::ferror(file) != 0) return true;
  char count[40];
  std::snprintf(count, sizeof count, "Error Count =%ld\n", log.errorCount);
  WriteText(file, count);
  WriteText(file, " Master Data=");
  WriteText(file, fileLine);
  // The log keeps the same spelling; stored logs and the tools that read them expect it.
  WriteText(file, "\n Recive Data=");
  WriteText(file, received);
  WriteText(file, "\n\n");
  return true;
}

TransferResult Compare(CloneSession& session, MismatchLog& log) {
  TransferLine& line = session.line;
  FlushBeforeEveryWait(line, nullptr);
  PrintScannerIsMasterPrompt();
  ReadDateAndTime(log.date, log.time);
  NameLog(log, 1);

  const ModelEntry& model = session.model;
  // The file's line beside the received one, in a buffer of its own.
  char fileLine[kLineBufferSize];
  std::uint32_t received = 0;
  for (;;) {
    ReceivedCommand command;
    const LineResult result = ReceiveCommand(line, line.receive, command);
    if (result != LineResult::kOk) return LostLine(result);
    AnswerModelRequest(line, command, model, session.stopwatch);
    if (command.Is("CLN")) {
      SendCommand(line, "OK");
      PrintProgressMark(line.progress, received, model.progressInterval);
      ++received;
      // A record past the end of the file has no partner: that is a difference too.
      const bool paired =
          ReadTextLine(session.settings.cloneFile.get(), fileLine, kLineBufferSize) > 0;
      TrimTrailingNewlines(fileLine);
      if ((!paired || std::strcmp(command.argument, fileLine) != 0) &&
          !ReportMismatch(line, log, fileLine, command.argument)) {
        return TransferResult::kAbandoned;
      }
    }
    if (command.Is("END")) break;
  }
  // So is every line of the file that no record came for.
  while (ReadTextLine(session.settings.cloneFile.get(), fileLine, kLineBufferSize) > 0) {
    TrimTrailingNewlines(fileLine);
    if (!ReportMismatch(line, log, fileLine, "")) return TransferResult::kAbandoned;
  }
  ReadTimeOfDay(session.stopwatch.end);
  FlushBeforeEveryWait(line, nullptr);
  if (log.file != nullptr) {
    // On the disk before the result says what it holds.
    // The log's name in its folder must survive a power loss as well as its data.
    const bool synced = SyncFile(log.file.get());
    const bool closed = CloseOwnedFile(log.file);
    if (!closed || !synced || !SyncFolderOf(log.name)) {
      ReportError(log.name, "the mismatch log could not be written completely");
    }
    std::printf("\nError Count =%ld\n", log.errorCount);
    char reason[160];
    std::snprintf(reason, sizeof reason, "%ld difference%s from the scanner's data, listed in %s",
                  log.errorCount, log.errorCount == 1 ? "" : "s", log.name);
    ReportError(session.settings.fileName, reason);
  }
  return log.errorCount == 0 ? TransferResult::kCompleted : TransferResult::kFailed;
}

}  // namespace

TransferResult RunCompare(CloneSession& session) {
  MismatchLog log;
  const TransferResult result = Compare(session, log);
  // The log goes with this function: no later wait may flush it.
  FlushBeforeEveryWait(session.line, nullptr);
  return result;
}

}  // namespace talven
