// The functions of serial/port.h over a FuzzedDataProvider instead of a device.
#include "fake_port.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "serial/port.h"

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

PortStatus CheckPort(PortNumber) {
  return kPortOk;
}
PortStatus OpenPort(PortNumber, std::int32_t, std::int32_t) {
  return kPortOk;
}
PortStatus ClosePort(PortNumber) {
  return kPortOk;
}
void CloseAllPorts() {}
PortStatus ApplyLinkSettings(PortNumber, LinkSettingsWord) {
  return kPortOk;
}
PortStatus SetReadTimeout(PortNumber, std::int32_t) {
  return kPortOk;
}
PortStatus SetWriteTimeout(PortNumber, std::int32_t) {
  return kPortOk;
}

std::int32_t InQueueCount(PortNumber) {
  Arrive();
  return gFake.arrived;
}

std::int32_t OutQueueCount(PortNumber) {
  return 0;
}

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
std::int32_t ReadBytes(PortNumber, void* buffer, std::int32_t count) {
  Arrive();
  return Deliver(buffer, count);
}

// Takes only what is waiting already; a quiet moment gives 0.
std::int32_t ReadWaitingBytes(PortNumber, void* buffer, std::int32_t capacity) {
  if (gFake.arrived == 0) return 0;
  return Deliver(buffer, capacity);
}

std::int32_t WriteBytes(PortNumber, const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  gFake.written.insert(gFake.written.end(), bytes, bytes + count);
  return count;
}

PortStatus PurgeReceive(PortNumber) {
  return kPortOk;
}
PortStatus PurgeTransmit(PortNumber) {
  return kPortOk;
}
PortStatus SetBaudRate(PortNumber, std::uint32_t) {
  return kPortOk;
}
PortStatus SetFlowLimits(PortNumber, std::uint16_t, std::uint16_t) {
  return kPortOk;
}

PortWait WaitForInput(PortNumber, std::int32_t) {
  Arrive();
  if (gFake.failed) return PortWait::kFailed;
  return gFake.arrived > 0 ? PortWait::kReady : PortWait::kTimeout;
}

bool PortFailed(PortNumber) {
  return gFake.failed;
}

std::size_t FormatDevicePath(PortNumber, char* out, std::size_t capacity) {
  return FormatDefaultDevicePath(DevicePathStyle::kPosix, 1, out, capacity);
}

void AssignDevicePath(PortNumber, const char*) {}

std::size_t FormatDefaultDevicePath(DevicePathStyle, PortNumber, char* out, std::size_t capacity) {
  constexpr char kName[] = "fake";
  if (capacity == 0) return 0;
  const std::size_t n = std::min(capacity - 1, sizeof kName - 1);
  std::memcpy(out, kName, n);
  out[n] = '\0';
  return n;
}

int LastPortError() {
  return 0;
}
const char* LastPortErrorText() {
  return "fake port";
}

}  // namespace talven
