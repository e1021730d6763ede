#include "records/record_tally.h"

#include <cerrno>
#include <cstdint>

#include "records/record_reader.h"

namespace talven {

bool TallyRecordFiles(std::FILE* oldFile, std::FILE* newFile, DiffTally& tally) {
  DiffIndex index;
  RecordReader oldReader(oldFile);
  std::uint64_t oldCount = 0;
  while (oldReader.Next()) {
    if (++oldCount == UINT32_MAX) {
      errno = EFBIG;
      return false;
    }
    index.AddOld(DigestRecord(oldReader.record()));
  }
  if (oldReader.failed()) return false;
  index.Seal();
  RecordReader newReader(newFile);
  while (newReader.Next()) tally.Count(index.PairNew(DigestRecord(newReader.record())).outcome);
  if (newReader.failed()) return false;
  tally.removed += index.Unpaired().size();
  return true;
}

}  // namespace talven
