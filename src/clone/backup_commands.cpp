#include "clone/backup_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "clone/clone_file.h"
#include "clone/file_check.h"
#include "clone/record_reader.h"
#include "process/exit_path.h"

namespace talven {

namespace {

int Unreadable(ReadFailure& failure, const char* name, int error) {
  failure.name = name;
  failure.error = error != 0 ? error : EIO;
  return kFileUnreadable;
}

// Where OLD's records stand, to show them again: an offset each, and the few records that continue
// a cut line, from which every record's line number follows.
struct RecordPositions {
  std::vector<std::uint64_t> offsets;
  std::vector<std::uint32_t> continuations;

  std::uint64_t Line(std::uint32_t index) const {
    const auto before = std::upper_bound(continuations.begin(), continuations.end(), index);
    return index + 1 - static_cast<std::uint64_t>(before - continuations.begin());
  }
};

void PrintBlock(std::FILE* out, DiffOutcome outcome, std::uint64_t oldLine, const char* oldText,
                std::uint64_t newLine, const char* newText) {
  const std::string block = FormatDiffBlock(outcome, oldLine, oldText, newLine, newText);
  std::fwrite(block.data(), 1, block.size(), out);
}

// OLD's record at index, read again; nullptr when OLD cannot go back (a pipe) or fails.
const char* Reread(RecordReader& reader, const RecordPositions& positions, std::uint32_t index) {
  errno = 0;
  if (!reader.Seek(positions.offsets[index], positions.Line(index)) || !reader.Next()) {
    if (errno == 0) errno = ESPIPE;
    return nullptr;
  }
  return reader.text();
}

// The reason for a file that could not be read goes to standard error; a report that standard
// output could not take must not end as an answer either.
int Answered(int status, const ReadFailure& failure) {
  if (status == kFileUnreadable) {
    ReportError(failure.name, std::strerror(failure.error));
    return status;
  }
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  ReportError("standard output", std::strerror(errno != 0 ? errno : EIO));
  return kFileUnreadable;
}

}  // namespace

int ReportCloneFileCheck(const char* name, std::FILE* file, std::FILE* out, ReadFailure& failure) {
  RecordReader reader(file);
  FileCheck check;
  while (reader.Next()) check.AddRecord(reader.text(), reader.line(), reader.piece());
  std::uint64_t markLine = 0;
  const std::uint64_t afterMark = reader.BytesAfterEndMark(markLine);
  if (reader.failed()) return Unreadable(failure, name, errno);
  check.NoteEndMark(markLine, afterMark);
  check.Finish();

  for (const std::string& message : check.messages()) {
    std::fprintf(out, "%s %s\n", name, message.c_str());
  }
  if (check.unshownMessages() > 0) {
    std::fprintf(out, "%s: %llu more not shown\n", name,
                 static_cast<unsigned long long>(check.unshownMessages()));
  }
  // An emptied backup must not pass for a sound one.
  if (check.records() == 0) std::fprintf(out, "%s: no records; a transfer sends nothing\n", name);
  std::fprintf(out, "%s: %llu records, %llu distinct keys, %llu not valid, SUM %04X\n", name,
               static_cast<unsigned long long>(check.records()),
               static_cast<unsigned long long>(check.distinctKeys()),
               static_cast<unsigned long long>(check.bad()), unsigned{check.sessionSum()});
  return check.passed() ? kFilesAgree : kFilesDisagree;
}

int DiffCloneFiles(const char* oldName, std::FILE* oldFile, const char* newName, std::FILE* newFile,
                   std::FILE* out, ReadFailure& failure, DiffTally& tally) {
  RecordReader oldReader(oldFile);
  DiffIndex index;
  RecordPositions positions;
  while (oldReader.Next()) {
    // Indices are 32-bit; a file of that many records would not fit in memory anyway.
    if (positions.offsets.size() == UINT32_MAX) return Unreadable(failure, oldName, EFBIG);
    const auto at = static_cast<std::uint32_t>(positions.offsets.size());
    if (oldReader.piece() > 0) positions.continuations.push_back(at);
    positions.offsets.push_back(oldReader.offset());
    index.AddOld(DigestRecord(oldReader.text()));
  }
  if (oldReader.failed()) return Unreadable(failure, oldName, errno);
  index.Seal();

  RecordReader newReader(newFile);
  while (newReader.Next()) {
    const DiffIndex::Pairing pairing = index.PairNew(DigestRecord(newReader.text()));
    tally.Count(pairing.outcome);
    if (pairing.outcome == DiffOutcome::kSame) continue;
    if (pairing.outcome == DiffOutcome::kAdded) {
      PrintBlock(out, pairing.outcome, 0, "", newReader.line(), newReader.text());
      continue;
    }
    const char* oldText = Reread(oldReader, positions, pairing.oldIndex);
    if (oldText == nullptr) return Unreadable(failure, oldName, errno);
    PrintBlock(out, pairing.outcome, positions.Line(pairing.oldIndex), oldText, newReader.line(),
               newReader.text());
  }
  if (newReader.failed()) return Unreadable(failure, newName, errno);
  for (const std::uint32_t removed : index.Unpaired()) {
    tally.Count(DiffOutcome::kRemoved);
    const char* oldText = Reread(oldReader, positions, removed);
    if (oldText == nullptr) return Unreadable(failure, oldName, errno);
    PrintBlock(out, DiffOutcome::kRemoved, positions.Line(removed), oldText, 0, "");
  }
  std::fprintf(out, "%s\n", FormatDiffSummary(tally).c_str());
  return tally.differs() ? kFilesDisagree : kFilesAgree;
}

int RunCheckCommand(const char* path) {
  std::FILE* file = OpenSessionFile(path, "r");
  if (file == nullptr) {
    ReportError(path, std::strerror(errno));
    return kFileUnreadable;
  }
  ReadFailure failure;
  int status = kFileUnreadable;
  try {
    status = ReportCloneFileCheck(path, file, stdout, failure);
  } catch (const std::bad_alloc&) {
    status = Unreadable(failure, path, ENOMEM);
  }
  std::fclose(file);
  return Answered(status, failure);
}

int RunDiffCommand(const char* oldPath, const char* newPath) {
  std::FILE* oldFile = OpenSessionFile(oldPath, "r");
  if (oldFile == nullptr) {
    ReportError(oldPath, std::strerror(errno));
    return kFileUnreadable;
  }
  std::FILE* newFile = OpenSessionFile(newPath, "r");
  if (newFile == nullptr) {
    ReportError(newPath, std::strerror(errno));
    std::fclose(oldFile);
    return kFileUnreadable;
  }
  ReadFailure failure;
  DiffTally tally;
  int status = kFileUnreadable;
  try {
    status = DiffCloneFiles(oldPath, oldFile, newPath, newFile, stdout, failure, tally);
  } catch (const std::bad_alloc&) {
    // OLD is the file that is held in memory, as digests.
    status = Unreadable(failure, oldPath, ENOMEM);
  }
  std::fclose(oldFile);
  std::fclose(newFile);
  return Answered(status, failure);
}

}  // namespace talven
