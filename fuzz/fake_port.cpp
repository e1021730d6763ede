// The port registry of serial/port.h over a FuzzedDataProvider instead of a device: the calls the
// line exchange makes.
#include "fake_port.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "serial/port.h"
#include "serial/port_backend.h"

namespace talven {

namespace {

struct FakePort {
  FuzzedDataProvider* input = nullptr;
  std::int32_t arrived = 0;  // bytes reported as waiting and not read yet
  bool failed = false;
  std::vector<std::uint8_t> delivered;
  std::vector<std::uint8_t> written;
};

FakePort gFake;

// More than the receive buffer holds may be waiting, as on a real queue.
constexpr std::int32_t kMostArriving = 5000;

// Lets some bytes arrive, or none (a quiet moment). The device fails once the input is used up.
void Arrive() {
  if (gFake.failed || gFake.arrived > 0) return;
  if (gFake.input->remaining_bytes() == 0) {
    gFake.failed = true;
    return;
  }
  gFake.arrived = gFake.input->ConsumeIntegralInRange<std::int32_t>(0, kMostArriving);
}

}  // namespace

namespace fuzz {

void StartFakePort(FuzzedDataProvider& input) {
  gFake = FakePort{};
  gFake.input = &input;
}

std::vector<std::uint8_t> TakeDeliveredBytes() {
  return std::exchange(gFake.delivered, {});
}

std::vector<std::uint8_t> TakeWrittenBytes() {
  return std::exchange(gFake.written, {});
}

}  // namespace fuzz

PortRegistry::PortRegistry(WireTrace* trace) : trace_(trace) {}
PortRegistry::~PortRegistry() = default;

// Hands over some of the bytes that have arrived: a read may return fewer than are waiting.
std::int32_t Deliver(void* buffer, std::int32_t count) {
  if (gFake.failed || count <= 0) return 0;
  std::int32_t wanted = std::min(count, gFake.arrived);
  if (wanted > 1) wanted = gFake.input->ConsumeIntegralInRange<std::int32_t>(1, wanted);
  const std::vector<std::uint8_t> bytes =
      gFake.input->ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(wanted));
  const auto got = static_cast<std::int32_t>(bytes.size());
  if (got < wanted) gFake.arrived = got;  // the input ended inside this read
  gFake.arrived -= got;
  if (got > 0) std::memcpy(buffer, bytes.data(), bytes.size());
  gFake.delivered.insert(gFake.delivered.end(), bytes.begin(), bytes.end());
  return got;
}

// Waits for bytes as a read under a time-out does: none may come.
std::int32_t PortRegistry::ReadBytes(PortNumber, void* buffer, std::int32_t count) {
  Arrive();
  return Deliver(buffer, count);
}

// Takes only what is waiting already; a quiet moment gives 0.
std::int32_t PortRegistry::ReadWaitingBytes(PortNumber, void* buffer, std::int32_t capacity) {
  if (gFake.arrived == 0) return 0;
  return Deliver(buffer, capacity);
}

// A wait that may end with bytes, in a quiet moment, or at the failed device.
std::int32_t PortRegistry::ReadArrivingBytes(PortNumber, void* buffer, std::int32_t capacity,
                                             std::int32_t) {
  Arrive();
  return Deliver(buffer, capacity);
}

std::int32_t PortRegistry::WriteBytes(PortNumber, const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  gFake.written.insert(gFake.written.end(), bytes, bytes + count);
  return count;
}

bool PortRegistry::PortFailed(PortNumber) const {
  return gFake.failed;
}

}  // namespace talven
