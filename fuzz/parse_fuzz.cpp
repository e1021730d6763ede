// Numbers and words as a user may type them or a script may pass them: any bytes. Checks the
// decimal reading against the C library's, that every answer read moves through the input and
// ends at its end, and that a word never overruns its field.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "session/parse.h"

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "parse: %s\n", what);
    std::abort();
  }
}

// strtol's reading of a decimal number, held within 32 bits.
std::int32_t CLibraryDecimal(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long long>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

class MemorySource final : public talven::CharSource {
 public:
  explicit MemorySource(const std::string& text) : text_(text) {}
  int Get() override {
    if (position_ >= text_.size()) {
      ++position_;  // an unget after the end puts nothing back
      return -1;
    }
    return static_cast<unsigned char>(text_[position_++]);
  }
  void Unget(int c) override {
    Require(position_ > 0 && position_ <= text_.size(), "unget without a character");
    Require(static_cast<unsigned char>(text_[position_ - 1]) == c, "unget of another character");
    --position_;
  }
  std::size_t position() const { return position_; }

 private:
  const std::string& text_;
  std::size_t position_ = 0;
};

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto capacity = input.ConsumeIntegralInRange<std::size_t>(0, 40);
  const auto choices = input.ConsumeIntegral<std::uint32_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();

  Require(talven::LeadingDecimal(text) == CLibraryDecimal(text), "LeadingDecimal");

  MemorySource source(text);
  const auto word = std::make_unique<char[]>(capacity);  // exactly the field, to catch overruns
  for (std::size_t answer = 0;; ++answer) {
    Require(answer <= text.size(), "an answer that consumed nothing");
    const std::size_t start = source.position();
    if (((choices >> (answer % 32)) & 1u) != 0) {
      const talven::WordAnswer result = talven::ReadLineAnswer(source, word.get(), capacity);
      if (result == talven::WordAnswer::kEndOfInput) break;
      Require(source.position() > start, "a line answer consumed nothing");
      Require(source.position() >= text.size() || text[source.position() - 1] == '\n',
              "a line answer left part of its line");
      if (result == talven::WordAnswer::kWord && capacity > 0) {
        Require(std::strlen(word.get()) < capacity, "line length");
        const talven::PortWord port = talven::ReadPortWord(word.get(), (choices & 1u) != 0);
        Require(port.rest.size() < capacity && port.path.size() < capacity, "port word parts");
      }
    } else {
      const talven::WordAnswer result = talven::ReadWordAnswer(source, word.get(), capacity);
      if (result == talven::WordAnswer::kEndOfInput) break;
      Require(source.position() > start, "a word answer consumed nothing");
      std::size_t first = start;
      while (IsSpace(text[first])) ++first;
      const std::size_t length = std::min(source.position(), text.size()) - first;
      if (result == talven::WordAnswer::kWord) {
        Require(length < capacity && std::strlen(word.get()) <= length, "word length");
        Require(std::memcmp(word.get(), text.data() + first, length) == 0, "word text");
      } else {
        Require(length + 1 > capacity, "a word that fits was refused");
      }
      for (std::size_t i = first; i < first + length; ++i)
        Require(!IsSpace(text[i]), "space in word");
    }
  }
  return 0;
}
