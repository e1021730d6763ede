// Clone files with any bytes in them, read with any line capacity. Checks that the reader yields
// the file's text exactly (every CR dropped, nothing after 0x1A), never more than a line's
// capacity, stops for good at the end, and that what the writer stores reads back as it was
// written. The check before sending reads the same file: its faults name lines that exist, in
// order.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "records/clone_check.h"
#include "records/clone_file.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "clone file: %s\n", what);
    std::abort();
  }
}

// Everything the reader yields from the stream, with the line rules checked on the way.
std::string ReadAll(std::FILE* file, std::size_t capacity, std::size_t fileSize) {
  const auto buffer = std::make_unique<char[]>(capacity);
  std::string text;
  std::size_t reads = 0;
  for (;;) {
    const std::size_t length = talven::ReadTextLine(file, buffer.get(), capacity);
    Require(length < capacity, "line longer than its buffer");
    Require(buffer[length] == '\0', "line not terminated");
    if (length == 0) break;
    const void* lf = std::memchr(buffer.get(), '\n', length);
    Require(lf == nullptr || lf == buffer.get() + length - 1, "LF inside a line");
    text.append(buffer.get(), length);
    Require(++reads <= fileSize, "more lines than bytes");
  }
  Require(talven::ReadTextLine(file, buffer.get(), capacity) == 0, "text after the end");
  return text;
}

std::string ReadBack(const std::string& stored, std::size_t capacity) {
  if (stored.empty()) return {};
  std::string copy = stored;
  std::FILE* file = fmemopen(copy.data(), copy.size(), "rb");
  Require(file != nullptr, "fmemopen");
  std::string text = ReadAll(file, capacity, copy.size());
  std::fclose(file);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // The transfers read with 4093 and 4096; small capacities reach the cut of long lines quickly.
  const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(2, 4097);
  const std::string file = input.ConsumeRemainingBytesAsString();

  std::string expected;
  for (const char c : file) {
    if (c == static_cast<char>(talven::kEndOfFileMark)) break;
    if (c != '\r') expected.push_back(c);
  }
  Require(ReadBack(file, capacity) == expected, "reader lost or changed text");

  if (!file.empty()) {
    std::string copy = file;
    std::FILE* checked = fmemopen(copy.data(), copy.size(), "rb");
    Require(checked != nullptr, "fmemopen");
    const talven::CloneFileCheck check = talven::CheckCloneFile(checked);
    std::fclose(checked);
    Require(check.faultCount <= check.records, "more faults than records");
    std::uint32_t previous = 0;
    for (std::uint32_t i = 0; i < check.faultCount && i < check.kFaultsKept; ++i) {
      Require(check.faults[i].line > previous && check.faults[i].line <= check.records,
              "fault on a line that is not there, or out of order");
      Require(check.faults[i].reason[0] != '\0', "fault without a reason");
      previous = check.faults[i].line;
    }
  }

  // Text without CR and 0x1A survives a write and a read unchanged.
  char* stored = nullptr;
  std::size_t storedSize = 0;
  std::FILE* out = open_memstream(&stored, &storedSize);
  Require(out != nullptr, "open_memstream");
  Require(talven::WriteText(out, expected.data(), expected.size()), "WriteText failed");
  std::fclose(out);
  const std::string written(stored, storedSize);
  std::free(stored);
  Require(ReadBack(written, capacity) == expected, "written text reads back differently");
  return 0;
}
