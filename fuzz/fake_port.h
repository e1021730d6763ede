// A serial port played from memory for the fuzz targets. The fuzz input decides both the bytes that
// arrive and how they arrive: how many a wait lets arrive, how many a read hands over, and
// which reads time out. When the input runs out the device fails, as an unplugged adapter does, so
// every wait ends.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

namespace talven::fuzz {

// Plays the port from the provider: script integers come from its back, line bytes from its front.
void StartFakePort(FuzzedDataProvider& input);

// Bytes handed over by reads since the last call, in order.
std::vector<std::uint8_t> TakeDeliveredBytes();

// Bytes written to the port since the last call.
std::vector<std::uint8_t> TakeWrittenBytes();

}  // namespace talven::fuzz
