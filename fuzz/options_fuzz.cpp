// Command lines of any words. Checks that option parsing stays within each word and the argument
// vector, and answers a positional start and option values that point into it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "session/options.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "options: %s\n", what);
    std::abort();
  }
}

// A value is a whole word, or what follows the "=" of "--name=value".
bool IsArgument(const std::vector<char*>& argv, const char* p) {
  for (const char* word : argv) {
    if (word == nullptr) continue;
    if (word == p) return true;
    const char* equals = std::strchr(word, '=');
    if (equals != nullptr && word[0] == '-' && p == equals + 1) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Each word in an allocation of exactly its size, so that reading past its end is caught.
  std::vector<std::unique_ptr<char[]>> words;
  std::vector<char*> argv;
  const auto add = [&](const std::string& word) {
    words.push_back(std::make_unique<char[]>(word.size() + 1));
    std::memcpy(words.back().get(), word.c_str(), word.size() + 1);
    argv.push_back(words.back().get());
  };
  add("talven");
  while (input.remaining_bytes() > 0 && argv.size() < 12) add(input.ConsumeRandomLengthString(64));
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  const talven::Options options = talven::ParseOptions(argc, argv.data());
  Require(options.firstPositional >= 1 && options.firstPositional <= argc, "first positional");
  if (options.tracePath != nullptr) Require(IsArgument(argv, options.tracePath), "trace path");
  for (const char* path : {options.checkPath, options.diffPaths[0], options.diffPaths[1]}) {
    if (path != nullptr) Require(IsArgument(argv, path), "file question path");
  }
  if (options.diffPaths[0] != nullptr) Require(options.diffPaths[1] != nullptr, "one diff path");
  if (!options.error.empty()) {
    Require(options.error.find('\0') == std::string::npos, "NUL in error");
  }
  return 0;
}
