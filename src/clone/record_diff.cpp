#include "clone/record_diff.h"

#include <algorithm>
#include <cstring>
#include <numeric>

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

// The slot a key's probe starts at; size is a power of two.
std::size_t Slot(std::uint64_t key, std::size_t size) {
  return static_cast<std::size_t>((key ^ (key >> 32)) * 0x9E3779B97F4A7C15ULL >> 7) & (size - 1);
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

void DiffIndex::Seal() {
  byKey_.resize(old_.size());
  std::iota(byKey_.begin(), byKey_.end(), 0U);
  std::sort(byKey_.begin(), byKey_.end(), [this](std::uint32_t a, std::uint32_t b) {
    return old_[a].key != old_[b].key ? old_[a].key < old_[b].key : a < b;
  });
  taken_.assign(old_.size(), 0);
  // A table at most half full finds a key in one or two probes, where a binary search of a
  // million keys costs twenty misses of the cache.
  std::size_t size = 2;
  while (size < 2 * old_.size()) size *= 2;
  slots_.assign(size, 0);
  for (std::size_t first = 0; first < byKey_.size(); ++first) {
    if (first > 0 && old_[byKey_[first]].key == old_[byKey_[first - 1]].key) continue;
    std::size_t slot = Slot(old_[byKey_[first]].key, size);
    while (slots_[slot] != 0) slot = (slot + 1) & (size - 1);
    slots_[slot] = static_cast<std::uint32_t>(first + 1);
  }
}

std::size_t DiffIndex::FindKey(std::uint64_t key) const {
  for (std::size_t slot = Slot(key, slots_.size()); slots_[slot] != 0;
       slot = (slot + 1) & (slots_.size() - 1)) {
    const std::size_t first = slots_[slot] - 1;
    if (old_[byKey_[first]].key == key) return first;
  }
  return byKey_.size();
}

DiffIndex::Pairing DiffIndex::PairNew(const RecordDigest& digest) {
  const std::size_t first = FindKey(digest.key);
  if (first == byKey_.size()) return {DiffOutcome::kAdded, 0};
  std::uint32_t& taken = taken_[first];
  const std::size_t partner = first + taken;
  if (partner == byKey_.size() || old_[byKey_[partner]].key != digest.key) {
    return {DiffOutcome::kAdded, 0};
  }
  ++taken;
  const std::uint32_t index = byKey_[partner];
  const bool same = old_[index].text == digest.text;
  return {same ? DiffOutcome::kSame : DiffOutcome::kChanged, index};
}

std::vector<std::uint32_t> DiffIndex::Unpaired() const {
  std::vector<std::uint32_t> unpaired;
  for (std::size_t first = 0; first < byKey_.size();) {
    std::size_t end = first + 1;
    while (end < byKey_.size() && old_[byKey_[end]].key == old_[byKey_[first]].key) ++end;
    for (std::size_t at = first + taken_[first]; at < end; ++at) unpaired.push_back(byKey_[at]);
    first = end;
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
                            std::uint64_t newLine, std::string_view newText) {
  static constexpr const char* kHeadings[] = {"Same", "Changed", "Added", "Removed"};
  std::string block = kHeadings[static_cast<int>(outcome)];
  block += ":";
  if (oldLine != 0) block += " OLD line " + std::to_string(oldLine);
  if (oldLine != 0 && newLine != 0) block += ",";
  if (newLine != 0) block += " NEW line " + std::to_string(newLine);
  // The values stand in the same column as in the mismatch log.
  block += "\n    Old Data=";
  block += oldText;
  block += "\n    New Data=";
  block += newText;
  block += "\n\n";
  return block;
}

std::string FormatDiffSummary(const DiffTally& tally) {
  return std::to_string(tally.same) + " same, " + std::to_string(tally.changed) + " changed, " +
         std::to_string(tally.added) + " added, " + std::to_string(tally.removed) + " removed";
}

}  // namespace talven
