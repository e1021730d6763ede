#include "backup/backup_commands.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backup/file_check.h"
#include "names/file_system.h"
#include "process/exit_path.h"
#include "records/clone_file.h"
#include "records/record_check.h"
#include "records/record_reader.h"
#include "storage/scratch_file.h"

namespace talven {

namespace {

int Unreadable(ReadFailure& failure, const char* name, int error) {
  failure.name = name;
  failure.error = error != 0 ? error : EIO;
  return kFileUnreadable;
}

// A clone file's records as --check counts them: one a line, a line longer than a record taken
// whole (its first record's text, the digest of all of it and the length of the rest).
class LineRecords {
 public:
  explicit LineRecords(std::FILE* file) : reader_(file) {}

  bool Next() {
    if (!reader_.Next()) return false;
    text_.assign(reader_.record());
    line_ = reader_.line();
    offset_ = reader_.offset();
    digest_ = DigestRecord(text_);
    rest_ = 0;
    for (bool goesOn = reader_.cut(); goesOn && reader_.Next(); goesOn = reader_.cut()) {
      digest_ = ContinueDigest(digest_, reader_.record());
      rest_ += reader_.length();
    }
    return true;
  }

  std::string_view record() const { return text_; }
  const RecordDigest& digest() const { return digest_; }
  std::uint64_t rest() const { return rest_; }
  std::uint64_t line() const { return line_; }
  std::uint64_t offset() const { return offset_; }
  // Another record after the checksum field, as --check finds it: most likely lines that end
  // with CR alone, read as one.
  bool twoRecords() const { return CheckRecord(text_, false).secondRecord; }

  std::uint64_t BytesAfterEndMark(std::uint64_t& markLine) {
    return reader_.BytesAfterEndMark(markLine);
  }
  bool Seek(std::uint64_t offset, std::uint64_t line) { return reader_.Seek(offset, line); }
  bool failed() const { return reader_.failed(); }

 private:
  RecordReader reader_;
  std::string text_;
  RecordDigest digest_;
  std::uint64_t rest_ = 0;
  std::uint64_t line_ = 0;
  std::uint64_t offset_ = 0;
};

// Once per file: the hint --check gives for two records on one line.
void NoteCrInside(const char* name, const LineRecords& records, bool& noted, std::FILE* notes) {
  if (noted || notes == nullptr || !records.twoRecords()) return;
  noted = true;
  EndLineBeforeError();
  std::fprintf(notes,
               "talven: %s: line %llu: note: two records on one line: do lines end with CR "
               "alone?\n",
               name, static_cast<unsigned long long>(records.line()));
}

// Where OLD's records stand, to show them again: an offset each; record n stands on line n + 1.
// An offset is kept in 32 bits, with the records from which its high bits change.
struct RecordPositions {
  std::vector<std::uint32_t> lowOffsets;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> highFrom;  // (first record, high bits)

  std::size_t size() const { return lowOffsets.size(); }
  void Add(std::uint64_t offset) {
    const auto high = static_cast<std::uint32_t>(offset >> 32);
    if (high != (highFrom.empty() ? 0 : highFrom.back().second)) {
      highFrom.emplace_back(static_cast<std::uint32_t>(lowOffsets.size()), high);
    }
    lowOffsets.push_back(static_cast<std::uint32_t>(offset));
  }
  std::uint64_t Offset(std::uint32_t index) const {
    const auto after =
        std::upper_bound(highFrom.begin(), highFrom.end(), index,
                         [](std::uint32_t at, const std::pair<std::uint32_t, std::uint32_t>& from) {
                           return at < from.first;
                         });
    const std::uint64_t high = after == highFrom.begin() ? 0 : std::prev(after)->second;
    return high << 32 | lowOffsets[index];
  }

  std::uint64_t Line(std::uint32_t index) const { return std::uint64_t{index} + 1; }
};

// The blocks of a stretch of NEW, waiting for the texts of OLD they show. OLD's records are read
// again in the order they stand in OLD, one forward pass per batch, however NEW is ordered; a batch
// holds a few MiB of text at most.
class BlockBatch {
 public:
  static constexpr std::size_t kMaxBlocks = 1U << 16;
  static constexpr std::size_t kMaxText = 8U << 20;

  void Add(DiffOutcome outcome, std::uint32_t oldIndex, std::uint64_t newLine,
           std::string_view newText, std::uint64_t newRest, const RecordPositions& positions) {
    blocks_.push_back({newLine, newRest, oldIndex, static_cast<std::uint32_t>(newTexts_.size()),
                       static_cast<std::uint32_t>(newText.size()), outcome});
    newTexts_.append(newText);
    if (outcome != DiffOutcome::kAdded) {
      // What OLD's record takes in the file; its text is no longer.
      const std::size_t next = std::size_t{oldIndex} + 1;
      oldBytes_ += next < positions.size() ? positions.Offset(static_cast<std::uint32_t>(next)) -
                                                 positions.Offset(oldIndex)
                                           : kRecordTextMax;
    }
  }
  bool Full() const {
    return blocks_.size() >= kMaxBlocks || newTexts_.size() + oldBytes_ >= kMaxText;
  }

  // Prints the blocks in the order they were added; false when OLD cannot be read again.
  bool Flush(LineRecords& oldReader, const RecordPositions& positions, std::FILE* out) {
    wanted_.clear();
    for (const Block& block : blocks_) {
      if (block.outcome != DiffOutcome::kAdded) wanted_.push_back(block.oldIndex);
    }
    std::sort(wanted_.begin(), wanted_.end());
    wanted_.erase(std::unique(wanted_.begin(), wanted_.end()), wanted_.end());
    oldTexts_.clear();
    oldSpans_.clear();
    oldRests_.clear();
    for (const std::uint32_t index : wanted_) {
      errno = 0;
      if (!oldReader.Seek(positions.Offset(index), positions.Line(index)) || !oldReader.Next()) {
        if (errno == 0) errno = ESPIPE;
        return false;
      }
      oldSpans_.push_back(oldTexts_.size());
      oldTexts_.append(oldReader.record());
      oldRests_.push_back(oldReader.rest());
    }
    oldSpans_.push_back(oldTexts_.size());
    const std::string_view oldTexts(oldTexts_);
    const std::string_view newTexts(newTexts_);
    for (const Block& block : blocks_) {
      std::string_view oldText;
      std::uint64_t oldLine = 0;
      std::uint64_t oldRest = 0;
      if (block.outcome != DiffOutcome::kAdded) {
        const auto at = static_cast<std::size_t>(
            std::lower_bound(wanted_.begin(), wanted_.end(), block.oldIndex) - wanted_.begin());
        oldText = oldTexts.substr(oldSpans_[at], oldSpans_[at + 1] - oldSpans_[at]);
        oldLine = positions.Line(block.oldIndex);
        oldRest = oldRests_[at];
      }
      AppendDiffBlock(shown_, block.outcome, oldLine, oldText, block.newLine,
                      newTexts.substr(block.newStart, block.newLength), oldRest, block.newRest);
      if (shown_.size() >= kShownChunk) Write(out);
    }
    blocks_.clear();
    newTexts_.clear();
    oldBytes_ = 0;
    Write(out);
    return true;
  }

 private:
  static constexpr std::size_t kShownChunk = 1U << 16;

  // A failed write shows in the stream's error state, which the command checks at its end.
  void Write(std::FILE* out) {
    std::fwrite(shown_.data(), 1, shown_.size(), out);
    shown_.clear();
  }

  struct Block {
    std::uint64_t newLine;
    std::uint64_t newRest;
    std::uint32_t oldIndex;
    std::uint32_t newStart, newLength;
    DiffOutcome outcome;
  };
  std::vector<Block> blocks_;
  std::string newTexts_;
  std::uint64_t oldBytes_ = 0;
  std::vector<std::uint32_t> wanted_;
  std::string oldTexts_;
  std::vector<std::size_t> oldSpans_;
  std::vector<std::uint64_t> oldRests_;
  std::string shown_;
};

using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// A file that cannot go back, such as a pipe, is copied as it is read once, so that its records can
// be shown again from the copy. Answers the file to read: the copy, or file itself.
std::FILE* Rereadable(std::FILE* file, FileHandle& copy, int& error) {
  if (std::fseek(file, 0, SEEK_CUR) == 0) return file;
  copy.reset(OpenScratchFile());
  if (copy == nullptr) {
    error = errno;
    return nullptr;
  }
  std::vector<char> buffer(1U << 16);
  std::size_t count = 0;
  while ((count = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    if (std::fwrite(buffer.data(), 1, count, copy.get()) != count) break;
  }
  if (std::ferror(file) || std::ferror(copy.get()) || std::fflush(copy.get()) != 0) {
    error = errno != 0 ? errno : EIO;
    return nullptr;
  }
  std::rewind(copy.get());
  return copy.get();
}

// Text after a 0x1A byte is never read by a transfer, nor compared here: noted as --check notes it.
void NoteEndMark(const char* name, LineRecords& reader, std::FILE* notes) {
  std::uint64_t markLine = 0;
  const std::uint64_t afterMark = reader.BytesAfterEndMark(markLine);
  if (afterMark == 0 || notes == nullptr) return;
  std::fflush(stdout);
  std::fprintf(notes,
               "talven: %s: line %llu: note: 0x1A ends the file here; the %llu bytes after "
               "it are not read\n",
               name, static_cast<unsigned long long>(markLine),
               static_cast<unsigned long long>(afterMark));
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

// A file named to --check or --diff: "-" is standard input, which is read but never closed.
struct QuestionFile {
  explicit QuestionFile(const char* path)
      : name(std::strcmp(path, "-") == 0 ? "standard input" : path),
        standardInput(std::strcmp(path, "-") == 0) {}
  QuestionFile(const QuestionFile&) = delete;
  QuestionFile& operator=(const QuestionFile&) = delete;
  ~QuestionFile() {
    if (stream != nullptr && !standardInput) std::fclose(stream);
  }

  // False, with the reason on standard error, when the file cannot be opened.
  bool Open() {
    stream = standardInput ? StandardInputBytes() : OpenSessionFile(name, "r");
    if (stream == nullptr) ReportError(name, FileErrorText(errno));
    return stream != nullptr;
  }

  const char* name;
  bool standardInput;
  std::FILE* stream = nullptr;
};

}  // namespace

int ReportCloneFileCheck(const char* name, std::FILE* file, std::FILE* out, ReadFailure& failure) {
  RecordReader reader(file);
  FileCheck check;
  while (reader.Next())
    check.AddRecord(reader.record(), reader.line(), reader.piece(), reader.cut());
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
  std::fprintf(out, "%s: %llu record%s, %llu distinct key%s, %llu not valid, SUM %04X\n", name,
               static_cast<unsigned long long>(check.records()), check.records() == 1 ? "" : "s",
               static_cast<unsigned long long>(check.distinctKeys()),
               check.distinctKeys() == 1 ? "" : "s", static_cast<unsigned long long>(check.bad()),
               unsigned{check.sessionSum()});
  return check.passed() ? kFilesAgree : kFilesDisagree;
}

int DiffCloneFiles(const char* oldName, std::FILE* oldFile, const char* newName, std::FILE* newFile,
                   std::FILE* out, ReadFailure& failure, DiffTally& tally, std::FILE* notes) {
  FileHandle copy(nullptr, &std::fclose);
  int copyError = 0;
  std::FILE* const oldText = Rereadable(oldFile, copy, copyError);
  if (oldText == nullptr) return Unreadable(failure, oldName, copyError);
  LineRecords oldReader(oldText);
  DiffIndex index;
  RecordPositions positions;
  bool crNoted = false;
  while (oldReader.Next()) {
    // Indices are 32-bit; a file of that many records would not fit in memory anyway.
    if (positions.size() == UINT32_MAX) return Unreadable(failure, oldName, EFBIG);
    positions.Add(oldReader.offset());
    index.AddOld(oldReader.digest());
    NoteCrInside(oldName, oldReader, crNoted, notes);
  }
  if (oldReader.failed()) return Unreadable(failure, oldName, errno);
  NoteEndMark(oldName, oldReader, notes);
  if (oldReader.failed()) return Unreadable(failure, oldName, errno);
  index.Seal();

  LineRecords newReader(newFile);
  crNoted = false;
  BlockBatch batch;
  // NEW's records are paired a few behind their reading, so that the index's memory they need
  // is fetched while the ones before are paired.
  struct Pending {
    RecordDigest digest;
    std::uint64_t line = 0;
    std::uint64_t rest = 0;
    std::string text;
  };
  constexpr std::size_t kAhead = 16;
  std::array<Pending, kAhead> pending;
  std::size_t first = 0, waiting = 0;
  const auto pairFirst = [&]() {
    const Pending& record = pending[first];
    first = (first + 1) % kAhead;
    --waiting;
    const DiffIndex::Pairing pairing = index.PairNew(record.digest);
    tally.Count(pairing.outcome);
    if (pairing.outcome == DiffOutcome::kSame) return true;
    batch.Add(pairing.outcome, pairing.oldIndex, record.line, record.text, record.rest, positions);
    return !batch.Full() || batch.Flush(oldReader, positions, out);
  };
  bool readAgain = true;
  while (readAgain && newReader.Next()) {
    if (waiting == kAhead) readAgain = pairFirst();
    Pending& record = pending[(first + waiting) % kAhead];
    record.digest = newReader.digest();
    record.line = newReader.line();
    record.rest = newReader.rest();
    record.text.assign(newReader.record());
    NoteCrInside(newName, newReader, crNoted, notes);
    index.Prefetch(record.digest.key);
    if (waiting >= kAhead / 2)
      index.PrefetchPartner(pending[(first + waiting - kAhead / 2) % kAhead].digest.key);
    ++waiting;
  }
  while (readAgain && waiting > 0) readAgain = pairFirst();
  if (!readAgain) return Unreadable(failure, oldName, errno);
  if (newReader.failed()) return Unreadable(failure, newName, errno);
  NoteEndMark(newName, newReader, notes);
  if (newReader.failed()) return Unreadable(failure, newName, errno);
  if (!batch.Flush(oldReader, positions, out)) return Unreadable(failure, oldName, errno);
  for (const std::uint32_t removed : index.Unpaired()) {
    tally.Count(DiffOutcome::kRemoved);
    batch.Add(DiffOutcome::kRemoved, removed, 0, "", 0, positions);
    if (batch.Full() && !batch.Flush(oldReader, positions, out)) {
      return Unreadable(failure, oldName, errno);
    }
  }
  if (!batch.Flush(oldReader, positions, out)) return Unreadable(failure, oldName, errno);
  std::fprintf(out, "%s\n", FormatDiffSummary(tally).c_str());
  return tally.differs() ? kFilesDisagree : kFilesAgree;
}

int RunCheckCommand(const char* path) {
  QuestionFile file(path);
  if (!file.Open()) return kFileUnreadable;
  ReadFailure failure;
  int status = kFileUnreadable;
  try {
    status = ReportCloneFileCheck(file.name, file.stream, stdout, failure);
  } catch (const std::bad_alloc&) {
    status = Unreadable(failure, file.name, ENOMEM);
  }
  return Answered(status, failure);
}

int RunDiffCommand(const char* oldPath, const char* newPath) {
  QuestionFile oldFile(oldPath);
  QuestionFile newFile(newPath);
  if (!oldFile.Open() || !newFile.Open()) return kFileUnreadable;
  ReadFailure failure;
  DiffTally tally;
  int status = kFileUnreadable;
  try {
    status = DiffCloneFiles(oldFile.name, oldFile.stream, newFile.name, newFile.stream, stdout,
                            failure, tally, stderr);
  } catch (const std::bad_alloc&) {
    // OLD is the file that is held in memory, as digests.
    status = Unreadable(failure, oldFile.name, ENOMEM);
  }
  return Answered(status, failure);
}

}  // namespace talven
