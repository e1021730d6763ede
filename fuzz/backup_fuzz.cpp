// The readers behind --check and --diff on any two clone files: neither crashes nor reads past a
// buffer, a record the record rule passes is one the slave takes and a transfer sends whole, a file
// compared with itself is the same, and the diff accounts for every record of both files exactly
// once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backup/backup_commands.h"
#include "records/record.h"
#include "records/record_check.h"
#include "records/record_reader.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "backup: %s\n", what);
    std::abort();
  }
}

// fmemopen refuses an empty buffer; a file of one 0x1A byte reads as empty too.
std::FILE* Open(std::string& bytes) {
  if (bytes.empty()) bytes = "\x1A";
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
  Require(file != nullptr, "fmemopen");
  return file;
}

std::uint64_t CountRecords(std::string bytes) {
  std::FILE* file = Open(bytes);
  talven::RecordReader reader(file);
  std::uint64_t count = 0;
  while (reader.Next()) {
    ++count;
    const talven::RecordCheck check = talven::CheckRecord(reader.record(), reader.cut());
    if (check.fault != talven::RecordFault::kNone) continue;
    // What the rule passes, the slave takes, and it goes out as one record of the same text.
    Require(talven::RecordChecksumValid(reader.text()) == 1,
            "the rule passes what the slave refuses");
    Require(!reader.cut() && reader.length() <= talven::kRecordTextMax &&
                reader.record().find('\0') == std::string_view::npos,
            "the rule passes a record a transfer cannot send whole");
    const std::string_view field = reader.record().substr(reader.record().find('~') + 1);
    Require(field.size() == 4 &&
                talven::ChecksumFieldValue(reader.text()) == talven::RecordChecksum(reader.text()),
            "the rule passes a checksum field that is not four digits of the body's sum");
  }
  std::fclose(file);
  return count;
}

int Diff(std::string oldBytes, std::string newBytes, talven::DiffTally& tally) {
  std::FILE* oldFile = Open(oldBytes);
  std::FILE* newFile = Open(newBytes);
  std::FILE* out = std::fopen("/dev/null", "w");
  talven::ReadFailure failure;
  const int status = talven::DiffCloneFiles("old", oldFile, "new", newFile, out, failure, tally);
  std::fclose(out);
  std::fclose(oldFile);
  std::fclose(newFile);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string oldBytes = input.ConsumeRandomLengthString(size);
  std::string newBytes = input.ConsumeRemainingBytesAsString();

  std::string checked = oldBytes;
  std::FILE* file = Open(checked);
  std::FILE* out = std::fopen("/dev/null", "w");
  talven::ReadFailure failure;
  const int status = talven::ReportCloneFileCheck("old", file, out, failure);
  Require(status == talven::kFilesAgree || status == talven::kFilesDisagree, "check status");
  std::fclose(out);
  std::fclose(file);

  const std::uint64_t oldCount = CountRecords(oldBytes);
  const std::uint64_t newCount = CountRecords(newBytes);
  talven::DiffTally self;
  Require(Diff(oldBytes, oldBytes, self) == talven::kFilesAgree && self.same == oldCount,
          "a file differs from itself");
  talven::DiffTally tally;
  const int diffStatus = Diff(oldBytes, newBytes, tally);
  Require(diffStatus == (tally.differs() ? talven::kFilesDisagree : talven::kFilesAgree),
          "diff status");
  Require(tally.same + tally.changed + tally.removed == oldCount, "an OLD record lost or doubled");
  Require(tally.same + tally.changed + tally.added == newCount, "a NEW record lost or doubled");
  return 0;
}
