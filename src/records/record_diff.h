// Pairing the records of two clone files by key and occurrence, and the lines that show a pair.
// Records are kept as digests, so that two files of a million records each fit in a few MiB.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talven {

// The record's key: the text before its first "," (or before its "~" when that comes first).
std::string_view RecordKeyText(std::string_view record);

struct RecordDigest {
  std::uint64_t key = 0;   // hash of RecordKeyText
  std::uint64_t text = 0;  // hash of the whole record
};

// Every byte of the record counts, NUL bytes too.
RecordDigest DigestRecord(std::string_view record);
// The digest of the record's text followed by more: a line longer than one read, taken whole.
RecordDigest ContinueDigest(const RecordDigest& digest, std::string_view more);

enum class DiffOutcome { kSame, kChanged, kAdded, kRemoved };

// The records of OLD, then each record of NEW in its order: the n-th record of NEW with a key
// pairs with the n-th record of OLD with that key.
class DiffIndex {
 public:
  void AddOld(const RecordDigest& digest);
  // Call once after the last AddOld.
  void Seal();

  struct Pairing {
    DiffOutcome outcome;
    std::uint32_t oldIndex;  // the partner in OLD, for kSame and kChanged
  };
  Pairing PairNew(const RecordDigest& digest);
  // Hints that PairNew is to come for the key: first its slot, later (once the slot is at hand)
  // the records it leads to are fetched into the cache. Neither changes anything.
  void Prefetch(std::uint64_t key) const;
  void PrefetchPartner(std::uint64_t key) const;

  // The records of OLD that no record of NEW took, in OLD's order.
  std::vector<std::uint32_t> Unpaired() const;

  std::size_t oldCount() const { return records_.size(); }

 private:
  struct OldRecord {
    RecordDigest digest;
    std::uint32_t index;  // its place in OLD
  };
  // Open addressing by key: the key's first position in records_ + 1 (0: an empty slot), and how
  // many of its records NEW has paired so far.
  struct KeySlot {
    std::uint32_t first = 0;
    std::uint32_t taken = 0;
  };
  KeySlot* FindKey(std::uint64_t key);

  std::vector<OldRecord>
      records_;  // in file order until Seal, then by key, each key's in file order
  std::vector<KeySlot> slots_;
};

struct DiffTally {
  std::uint64_t same = 0, changed = 0, added = 0, removed = 0;
  void Count(DiffOutcome outcome);
  bool differs() const { return changed + added + removed != 0; }
};

// One difference, as the mismatch log shows one: a heading, then OLD's and NEW's text on two lines
// (empty for the side that has no record), then an empty line. A line of 0 is not shown. A text is
// shown as AppendShownText shows it; a rest length above 0 says how much of a long line follows.
std::string FormatDiffBlock(DiffOutcome outcome, std::uint64_t oldLine, std::string_view oldText,
                            std::uint64_t newLine, std::string_view newText,
                            std::uint64_t oldRest = 0, std::uint64_t newRest = 0);

// The same block, added to the end of out.
void AppendDiffBlock(std::string& out, DiffOutcome outcome, std::uint64_t oldLine,
                     std::string_view oldText, std::uint64_t newLine, std::string_view newText,
                     std::uint64_t oldRest = 0, std::uint64_t newRest = 0);

// A record's text as a terminal cannot lose it: NUL as "\0", another control byte as "\x1f", a
// backslash doubled, every other byte as it is; two texts that differ never show alike. Then, for
// a line that goes on, "\...(N more characters)".
void AppendShownText(std::string& out, std::string_view text, std::uint64_t restLength = 0);

// "3 same, 1 changed, 0 added, 2 removed"
std::string FormatDiffSummary(const DiffTally& tally);

}  // namespace talven
