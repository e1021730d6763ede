// The wire trace: how records look, and that they reach the file at once. The registry's hand-over
// of the bytes is tested end to end.
#include "trace/wire_trace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include "pty_pair.h"
#include "serial/port.h"
#endif

namespace talven {
namespace {

namespace fs = std::filesystem;

std::string Record(const std::string& bytes, WireDirection direction = WireDirection::kToScanner,
                   const WireStamp& stamp = {}) {
  return FormatWireRecord(stamp, direction, reinterpret_cast<const unsigned char*>(bytes.data()),
                          bytes.size());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The text column of a record: its first line from where the hex lines below it begin.
std::string TextColumn(const std::string& record) {
  const std::vector<std::string> lines = Lines(record);
  return lines.at(0).substr(lines.at(1).find_first_not_of(' '));
}

struct ShownCase {
  std::string bytes;
  std::string text;
  std::string hex;
};

TEST(WireRecord, ControlBytesAndAngleBracketsAreSpelledOut) {
  const std::vector<ShownCase> cases = {
      {"MDL\r", "MDL<CR>", "4D 44 4C 0D"},
      {"OK\r\n", "OK<CR><LF>", "4F 4B 0D 0A"},
      {std::string("a\0b", 3), "a<NUL>b", "61 00 62"},
      {"\x1a\x7f\x80\xff", "<1A><7F><80><FF>", "1A 7F 80 FF"},
      {"<CR>", "<3C>CR>", "3C 43 52 3E"},
      {"~ ,", "~ ,", "7E 20 2C"},
  };
  for (const ShownCase& c : cases) {
    const std::string record = Record(c.bytes);
    EXPECT_EQ(TextColumn(record), c.text) << c.text;
    const std::vector<std::string> lines = Lines(record);
    ASSERT_EQ(lines.size(), 2u) << c.text;
    EXPECT_EQ(lines[1].substr(lines[1].find_first_not_of(' ')), c.hex) << c.text;
  }
}

TEST(WireRecord, StampDirectionAndCountLeadTheLine) {
  WireStamp stamp;
  stamp.hour = 9;
  stamp.minute = 5;
  stamp.second = 41;
  stamp.millisecond = 7;
  stamp.elapsedMicroseconds = 61'000'250;
  EXPECT_EQ(Lines(Record("OK\r", WireDirection::kFromScanner, stamp)).at(0),
            "09:05:41.007      61.000250  SCN->PC      3  OK<CR>");
  EXPECT_EQ(Lines(Record("END\r", WireDirection::kToScanner)).at(0),
            "00:00:00.000       0.000000  PC->SCN      4  END<CR>");
  EXPECT_EQ(FormatWireNote(stamp, "opened /dev/ttyUSB0"),
            "09:05:41.007      61.000250  -- opened /dev/ttyUSB0\n");
}

TEST(WireRecord, HexRunsSixteenToALineUnderTheText) {
  const std::string bytes = "CLN 0123456789ABCDEF~00FD\r";  // 26 bytes
  const std::vector<std::string> lines = Lines(Record(bytes));
  ASSERT_EQ(lines.size(), 3u);
  const std::size_t column = lines[0].find("CLN");
  EXPECT_EQ(lines[1], std::string(column, ' ') + "43 4C 4E 20 30 31 32 33 34 35 36 37 38 39 41 42");
  EXPECT_EQ(lines[2], std::string(column, ' ') + "43 44 45 46 7E 30 30 46 44 0D");
}

class TraceFile : public testing::Test {
 protected:
  void SetUp() override {
    path_ = fs::temp_directory_path() /
            (std::string("talven-trace-") +
             testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
  }
  void TearDown() override {
    trace_.Stop();
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The record lines, without the heading comments.
  std::vector<std::string> Records() const {
    std::vector<std::string> lines;
    for (const std::string& line : Lines(Contents())) {
      if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    return lines;
  }
  fs::path path_;
  WireTrace trace_;
};

TEST_F(TraceFile, RecordsReachTheFileAtOnceAndInOrder) {
  ASSERT_TRUE(trace_.Start(path_.string().c_str()));
  trace_.TraceNote("opened test");
  trace_.TraceBytes(WireDirection::kToScanner, "MDL\r", 4);
  trace_.TraceBytes(WireDirection::kFromScanner, "", 0);  // nothing moved: no record
  trace_.TraceBytes(WireDirection::kFromScanner, "QRFAMTK00\r", 10);
  // Read while the trace still runs: a process that dies now leaves all of this behind.
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_NE(records[0].find("-- opened test"), std::string::npos);
  EXPECT_NE(records[1].find("PC->SCN      4  MDL<CR>"), std::string::npos);
  EXPECT_NE(records[3].find("SCN->PC     10  QRFAMTK00<CR>"), std::string::npos);
}

// An earlier trace or an empty file is replaced; any other file is refused and left as it was.
TEST_F(TraceFile, StartReplacesOnlyAnEarlierTraceAndStopEndsTheRecords) {
  for (const char* old : {"old contents\n", "# talven wire trace\n"}) {
    { std::ofstream(path_, std::ios::binary) << old; }
    errno = 0;
    EXPECT_FALSE(trace_.Start(path_.string().c_str())) << old;
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Contents(), old);
  }
  // One that cannot be read is refused for that reason (root reads it, and is refused as above).
  fs::permissions(path_, fs::perms::none);
  const bool readable = std::ifstream(path_).is_open();
  errno = 0;
  EXPECT_FALSE(trace_.Start(path_.string().c_str()));
  EXPECT_EQ(errno, readable ? EEXIST : EACCES);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  for (const char* old : {"", "# talven wire trace, started 2020-01-01 00:00:00\nold contents\n"}) {
    { std::ofstream(path_, std::ios::binary) << old; }
    ASSERT_TRUE(trace_.Start(path_.string().c_str())) << old;
    EXPECT_EQ(Contents().find("old contents"), std::string::npos);
    EXPECT_EQ(Contents().rfind("# talven wire trace, started ", 0), 0u);
    trace_.Stop();
  }
  ASSERT_TRUE(trace_.Start(path_.string().c_str()));
  trace_.Stop();
  const std::string before = Contents();
  trace_.TraceBytes(WireDirection::kToScanner, "END\r", 4);
  trace_.TraceNote("after the end");
  EXPECT_EQ(Contents(), before);
}

#ifndef _WIN32
// A word the registry refuses never reaches the device; the reason is kept for the message.
TEST_F(TraceFile, RefusedSettingsWordLeavesItsReason) {
  constexpr PortNumber kPort = 221;
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  ASSERT_TRUE(trace_.Start(path_.string().c_str()));
  PortRegistry ports(&trace_);
  ports.AssignDevicePath(kPort, pty.path.c_str());
  ASSERT_EQ(ports.OpenPort(kPort, 4096, 4096), kPortOk);
  EXPECT_EQ(ports.ApplyLinkSettings(kPort, 0x2011561C), kPortCallFailed);  // parity index 6
  EXPECT_STREQ(ports.LastPortErrorText(), "the settings word holds a value no table defines");
  ports.CloseAllPorts();
  // The opening and the default speed; nothing for the refused word.
  const std::vector<std::string> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].find("-- opened " + pty.path), std::string::npos);
  EXPECT_NE(records[1].find("-- 9600 baud"), std::string::npos);
}
#endif

}  // namespace
}  // namespace talven
