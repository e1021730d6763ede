// The one open of a user's file: nothing emptied, a file another holder has refused, and the hold
// kept through a move; what a commit says when the replace was refused.
#include "storage/held_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "clone/received_file.h"

namespace talven {
namespace {

namespace fs = std::filesystem;

enum class There { kNothing, kFile, kHeldFile, kFolder, kLink };

struct OpenCase {
  const char* name;
  There there;
  OpenRule rule;
  int error;  // 0: opened
  bool created;
};

class HeldOpen : public testing::TestWithParam<OpenCase> {
 protected:
  void SetUp() override {
    path_ = fs::temp_directory_path() / (std::string("talven-held-") + GetParam().name);
    fs::remove_all(path_);
  }
  void TearDown() override { fs::remove_all(path_); }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path path_;
};

TEST_P(HeldOpen, HoldsWithoutChangingAndRefusesWhatItMayNotWrite) {
  const OpenCase& c = GetParam();
  const std::string name = path_.string();
  HeldFile other;
  if (c.there == There::kFile || c.there == There::kHeldFile) {
    std::ofstream(path_, std::ios::binary) << "kept";
  }
  if (c.there == There::kHeldFile) {
    ASSERT_TRUE(other.Open(name.c_str(), OpenRule::kExisting));
  }
  if (c.there == There::kFolder) fs::create_directory(path_);
  if (c.there == There::kLink) fs::create_symlink("elsewhere", path_);
  HeldFile file;
  const bool opened = file.Open(name.c_str(), c.rule);
  EXPECT_EQ(opened, c.error == 0);
  const int error = errno;
  EXPECT_EQ(opened ? 0 : error, c.error);
  EXPECT_EQ(file.created(), c.created);
  if (c.there == There::kFile || c.there == There::kHeldFile) {
    EXPECT_EQ(Contents(), "kept");
  }
  if (c.error != 0) return;
  EXPECT_TRUE(file.IsAt(name.c_str()));
  // Held: a second open of either kind is refused while the first lasts, and taken after it.
  HeldFile second;
  errno = 0;
  EXPECT_FALSE(second.Open(name.c_str(), OpenRule::kNewOrExisting));
  EXPECT_EQ(errno, EBUSY);
  file.Close();
  EXPECT_TRUE(second.Open(name.c_str(), OpenRule::kExisting));
}

const OpenCase kOpenCases[] = {
    {"NewMade", There::kNothing, OpenRule::kNew, 0, true},
    {"NewOnAFile", There::kFile, OpenRule::kNew, EEXIST, false},
    {"ExistingMissing", There::kNothing, OpenRule::kExisting, ENOENT, false},
    {"ExistingKept", There::kFile, OpenRule::kExisting, 0, false},
    {"EitherMade", There::kNothing, OpenRule::kNewOrExisting, 0, true},
    {"EitherKept", There::kFile, OpenRule::kNewOrExisting, 0, false},
    {"HeldByAnother", There::kHeldFile, OpenRule::kNewOrExisting, EBUSY, false},
    {"Folder", There::kFolder, OpenRule::kExisting, EISDIR, false},
#ifndef _WIN32  // links on Windows need a privilege the tests do not have
    {"Link", There::kLink, OpenRule::kNewOrExisting, ELOOP, false},
#endif
};

INSTANTIATE_TEST_SUITE_P(Files, HeldOpen, testing::ValuesIn(kOpenCases),
                         [](const testing::TestParamInfo<OpenCase>& param) {
                           return std::string(param.param.name);
                         });

// Moved aside and removed while held: no other holder can come in between.
TEST(HeldFile, StaysHeldThroughAMoveAndIsRemovedThroughTheHold) {
  const fs::path folder = fs::temp_directory_path() / "talven-held-move";
  fs::remove_all(folder);
  fs::create_directory(folder);
  const std::string from = (folder / "a.partial").string();
  const std::string to = (folder / "a.partial.1").string();
  std::ofstream(to) << "replaced";
  HeldFile file;
  ASSERT_TRUE(file.Open(from.c_str(), OpenRule::kNew));
  ASSERT_TRUE(file.MoveTo(to.c_str()));
  EXPECT_STREQ(file.name(), to.c_str());
  EXPECT_TRUE(file.IsAt(to.c_str()));
  EXPECT_FALSE(fs::exists(from));
  HeldFile second;
  errno = 0;
  EXPECT_FALSE(second.Open(to.c_str(), OpenRule::kExisting));
  EXPECT_EQ(errno, EBUSY);
  std::uint64_t size = 1;
  EXPECT_TRUE(file.Size(size));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(file.Remove());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(fs::exists(to));
  fs::remove_all(folder);
}

TEST(FailedReplace, NamesTheFileRefusedAndWhereTheRecordsAre) {
  struct Case {
    int error;
    bool targetGone;
    const char* said;
  };
  for (const Case& c : {
           Case{EPERM, false,
                "cannot replace shared.txt: Operation not permitted; the records are in "
                "shared.txt.partial"},
           Case{EBUSY, false,
                "cannot replace shared.txt: another program has shared.txt open; the records "
                "are in shared.txt.partial"},
           Case{EACCES, true,
                "cannot replace shared.txt: Permission denied; the old file is gone, and the "
                "records are in shared.txt.partial"},
       }) {
    char said[256];
    FormatFailedReplace(said, sizeof said, "shared.txt", "shared.txt.partial", c.error,
                        c.targetGone);
    EXPECT_STREQ(said, c.said);
  }
}

}  // namespace
}  // namespace talven
