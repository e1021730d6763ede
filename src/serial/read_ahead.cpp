#include "serial/read_ahead.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace talven::detail {
namespace {

// More than a session ever opens at once; the tests open a few.
std::array<ReadAhead, 8> gPool;
std::array<bool, 8> gInUse{};

}  // namespace

std::int32_t ReadAhead::Take(unsigned char* out, std::int32_t room) {
  const std::int32_t count = std::clamp(Waiting(), 0, std::max(room, 0));
  std::memcpy(out, bytes + position, static_cast<std::size_t>(count));
  position = static_cast<std::uint16_t>(position + count);
  if (position == length) Clear();
  return count;
}

void ReadAhead::Filled(std::int32_t count) {
  position = 0;
  length = static_cast<std::uint16_t>(std::clamp<std::int32_t>(count, 0, sizeof bytes));
}

ReadAhead* TakeReadAheadSlot() {
  for (std::size_t i = 0; i < gPool.size(); ++i) {
    if (!gInUse[i]) {
      gInUse[i] = true;
      gPool[i].Clear();
      return &gPool[i];
    }
  }
  return nullptr;
}

void ReleaseReadAheadSlot(const ReadAhead* ahead) {
  if (ahead != nullptr) gInUse[static_cast<std::size_t>(ahead - gPool.data())] = false;
}

}  // namespace talven::detail
