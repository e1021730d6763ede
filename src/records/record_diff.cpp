#include "records/record_diff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace talven {

namespace {

// FNV-1a, 64 bits: a false "same" between two records is as likely as one in 2^64.
constexpr std::uint64_t kHashStart = 0xCBF29CE484222325ULL;

std::uint64_t Hash(std::uint64_t hash, std::string_view text) {
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

// The slot a key's probe starts at, for a table of fewer than 2^32 slots.
std::size_t Slot(std::uint64_t key, std::size_t size) {
  const std::uint64_t mixed = (key ^ (key >> 32)) * 0x9E3779B97F4A7C15ULL;
  return static_cast<std::size_t>(((mixed >> 32) * size) >> 32);
}

}  // namespace

std::string_view RecordKeyText(std::string_view record) {
  return record.substr(0, std::min(record.find_first_of(",~"), record.size()));
}

RecordDigest DigestRecord(std::string_view record) {
  // The key is the text's beginning: one pass over the bytes gives both.
  const std::string_view key = RecordKeyText(record);
  const std::uint64_t keyHash = Hash(kHashStart, key);
  return {keyHash, Hash(keyHash, record.substr(key.size()))};
}

RecordDigest ContinueDigest(const RecordDigest& digest, std::string_view more) {
  return {digest.key, Hash(digest.text, more)};
}

void DiffIndex::AddOld(const RecordDigest& digest) {
  records_.push_back({digest, static_cast<std::uint32_t>(records_.size())});
}

void DiffIndex::Seal() {
  // Sorted as a whole, the records lie by key, each key's in file order, where one look finds
  // both a key's next partner and its digest.
  std::sort(records_.begin(), records_.end(), [](const OldRecord& a, const OldRecord& b) {
    return a.digest.key != b.digest.key ? a.digest.key < b.digest.key : a.index < b.index;
  });
  // A table at most two thirds full finds a key in a probe or two, where a binary search of a
  // million keys costs twenty misses of the cache. Each slot keeps its key's count of pairings
  // beside it.
  const std::size_t size = records_.size() + records_.size() / 2 + 2;
  slots_.assign(size, KeySlot{});
  for (std::size_t first = 0; first < records_.size(); ++first) {
    if (first > 0 && records_[first].digest.key == records_[first - 1].digest.key) continue;
    std::size_t slot = Slot(records_[first].digest.key, size);
    while (slots_[slot].first != 0) slot = slot + 1 == size ? 0 : slot + 1;
    slots_[slot].first = static_cast<std::uint32_t>(first + 1);
  }
}

DiffIndex::KeySlot* DiffIndex::FindKey(std::uint64_t key) {
  for (std::size_t slot = Slot(key, slots_.size()); slots_[slot].first != 0;
       slot = slot + 1 == slots_.size() ? 0 : slot + 1) {
    if (records_[slots_[slot].first - 1].digest.key == key) return &slots_[slot];
  }
  return nullptr;
}

void DiffIndex::Prefetch(std::uint64_t key) const {
  __builtin_prefetch(&slots_[Slot(key, slots_.size())]);
}

void DiffIndex::PrefetchPartner(std::uint64_t key) const {
  const KeySlot& slot = slots_[Slot(key, slots_.size())];
  if (slot.first != 0) __builtin_prefetch(&records_[slot.first - 1 + slot.taken]);
}

DiffIndex::Pairing DiffIndex::PairNew(const RecordDigest& digest) {
  KeySlot* const slot = FindKey(digest.key);
  if (slot == nullptr) return {DiffOutcome::kAdded, 0};
  const std::size_t partner = std::size_t{slot->first} - 1 + slot->taken;
  if (partner == records_.size() || records_[partner].digest.key != digest.key) {
    return {DiffOutcome::kAdded, 0};
  }
  ++slot->taken;
  const OldRecord& old = records_[partner];
  return {old.digest.text == digest.text ? DiffOutcome::kSame : DiffOutcome::kChanged, old.index};
}

std::vector<std::uint32_t> DiffIndex::Unpaired() const {
  // The slots in their order, then the records in theirs: no lookup for each key.
  std::vector<bool> paired(records_.size(), false);
  for (const KeySlot& slot : slots_) {
    if (slot.first == 0) continue;
    for (std::uint32_t n = 0; n < slot.taken; ++n) paired[slot.first - 1 + n] = true;
  }
  std::vector<std::uint32_t> unpaired;
  for (std::size_t at = 0; at < records_.size(); ++at) {
    if (!paired[at]) unpaired.push_back(records_[at].index);
  }
  std::sort(unpaired.begin(), unpaired.end());
  return unpaired;
}

void DiffTally::Count(DiffOutcome outcome) {
  switch (outcome) {
    case DiffOutcome::kSame:
      ++same;
      break;
    case DiffOutcome::kChanged:
      ++changed;
      break;
    case DiffOutcome::kAdded:
      ++added;
      break;
    case DiffOutcome::kRemoved:
      ++removed;
      break;
  }
}

std::string FormatDiffBlock(DiffOutcome outcome, std::uint64_t oldLine, std::string_view oldText,
                            std::uint64_t newLine, std::string_view newText, std::uint64_t oldRest,
                            std::uint64_t newRest) {
  std::string block;
  AppendDiffBlock(block, outcome, oldLine, oldText, newLine, newText, oldRest, newRest);
  return block;
}

void AppendShownText(std::string& out, std::string_view text, std::uint64_t restLength) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::size_t plain = 0;  // the start of the bytes not yet added
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte != 0x7F && byte != '\\') continue;
    out.append(text.substr(plain, at - plain));
    plain = at + 1;
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte == 0) {
      out += "\\0";
    } else {
      const char escaped[] = {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
      out.append(escaped, sizeof escaped);
    }
  }
  out.append(text.substr(plain));
  if (restLength > 0) {
    out += "\\...(" + std::to_string(restLength) + " more characters)";
  }
}

void AppendDiffBlock(std::string& out, DiffOutcome outcome, std::uint64_t oldLine,
                     std::string_view oldText, std::uint64_t newLine, std::string_view newText,
                     std::uint64_t oldRest, std::uint64_t newRest) {
  static constexpr char kHeadings[][8] = {"Same", "Changed", "Added", "Removed"};
  out += kHeadings[static_cast<int>(outcome)];
  out += ':';
  char number[24];
  if (oldLine != 0) {
    out += " OLD line ";
    out.append(number,
               static_cast<std::size_t>(std::snprintf(number, sizeof number, "%llu",
                                                      static_cast<unsigned long long>(oldLine))));
  }
  if (oldLine != 0 && newLine != 0) out += ',';
  if (newLine != 0) {
    out += " NEW line ";
    out.append(number,
               static_cast<std::size_t>(std::snprintf(number, sizeof number, "%llu",
                                                      static_cast<unsigned long long>(newLine))));
  }
  // The values stand in the same column as in the mismatch log.
  out += "\n    Old Data=";
  AppendShownText(out, oldText, oldRest);
  out += "\n    New Data=";
  AppendShownText(out, newText, newRest);
  out += "\n\n";
}

std::string FormatDiffSummary(const DiffTally& tally) {
  return std::to_string(tally.same) + " same, " + std::to_string(tally.changed) + " changed, " +
         std::to_string(tally.added) + " added, " + std::to_string(tally.removed) + " removed";
}

}  // namespace talven
