#include "records/clone_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "storage/scratch_file.h"

namespace talven {
namespace {

// A clone file on disk with the given bytes, removed afterwards.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes) : name_(NextName()) {
    std::FILE* file = std::fopen(name_.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  ~TempFile() { std::remove(name_.c_str()); }
  const char* name() const { return name_.c_str(); }

 private:
  static std::string NextName() {
    static int counter = 0;
    return "clone_file_test_" + std::to_string(++counter) + ".txt";
  }
  std::string name_;
};

std::vector<std::string> ReadAll(const char* name, std::size_t capacity = 4096) {
  std::vector<std::string> lines;
  std::FILE* file = OpenTextFile(name, "r");
  EXPECT_NE(file, nullptr);
  std::vector<char> buffer(capacity);
  while (ReadTextLine(file, buffer.data(), capacity) > 0) lines.emplace_back(buffer.data());
  std::fclose(file);
  return lines;
}

TEST(TextReader, CrLfAndLfReadAlike) {
  TempFile crlf("a~1\r\nb~2\r\n");
  TempFile lf("a~1\nb~2\n");
  const std::vector<std::string> expected = {"a~1\n", "b~2\n"};
  EXPECT_EQ(ReadAll(crlf.name()), expected);
  EXPECT_EQ(ReadAll(lf.name()), expected);
}

TEST(TextReader, DropsEveryCrAndStopsAtCtrlZ) {
  TempFile file(
      "ab\rc\nde\x1A"
      "fg\nhi\n");
  EXPECT_EQ(ReadAll(file.name()), (std::vector<std::string>{"abc\n", "de"}));
}

TEST(TextReader, LastLineWithoutLineEnd) {
  TempFile file("one\ntwo");
  EXPECT_EQ(ReadAll(file.name()), (std::vector<std::string>{"one\n", "two"}));
}

TEST(TextReader, LongLineComesInPieces) {
  const std::string longLine(5000, 'x');
  TempFile file(longLine + "\nnext\n");
  const std::vector<std::string> lines = ReadAll(file.name());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(4095, 'x'));
  EXPECT_EQ(lines[1], std::string(905, 'x') + "\n");
  EXPECT_EQ(lines[2], "next\n");
}

TEST(TextReader, NulAndHighBytesPassThrough) {
  TempFile file(std::string("a\x80\xFF\n", 4));
  EXPECT_EQ(ReadAll(file.name()), (std::vector<std::string>{"a\x80\xFF\n"}));
}

// Where the bytes of a pipe are kept to be read again: every byte back as written.
TEST(ScratchFile, GivesBackWhatWasWritten) {
  std::FILE* file = OpenScratchFile();
  ASSERT_NE(file, nullptr);
  const std::string bytes("a\r\nb\0\x1A\n", 7);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::rewind(file);
  char back[16] = {};
  EXPECT_EQ(std::fread(back, 1, sizeof back, file), bytes.size());
  EXPECT_EQ(std::string(back, bytes.size()), bytes);
  std::fclose(file);
}

TEST(TextWriter, StoresLfAsCrLf) {
  const char* name = "clone_file_test_written.txt";
  std::FILE* file = OpenTextFile(name, "w");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(WriteText(file, "abc~0223"));
  EXPECT_TRUE(WriteText(file, "\n", 1));
  EXPECT_TRUE(WriteText(file, "x\ny\n"));
  std::fclose(file);
  std::FILE* raw = std::fopen(name, "rb");
  char bytes[64] = {};
  const std::size_t count = std::fread(bytes, 1, sizeof bytes, raw);
  std::fclose(raw);
  std::remove(name);
  EXPECT_EQ(std::string(bytes, count), "abc~0223\r\nx\r\ny\r\n");
}

struct CountCase {
  std::size_t lines;
  std::uint16_t count;
};

class LineCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(LineCount, CountsReadsInSixteenBits) {
  std::string bytes;
  for (std::size_t i = 0; i < GetParam().lines; ++i) bytes += "0~00FD\r\n";
  TempFile file(bytes);
  std::uint16_t count = 1;
  ASSERT_TRUE(CountTextLines(file.name(), count));
  EXPECT_EQ(count, GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LineCount,
                         ::testing::Values(CountCase{0, 0}, CountCase{79, 79}, CountCase{160, 160},
                                           CountCase{65600, 64}));

TEST(LineCount, MissingFileFails) {
  std::uint16_t count = 7;
  EXPECT_FALSE(CountTextLines("no/such/clone/file.txt", count));
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace talven
