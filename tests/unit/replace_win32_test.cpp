// The pieces that decide what Windows says of a file it could not replace or read: whether the
// replaced file survived a failed ReplaceFileW, which reason is told, and Master's size bound.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "records/clone_file.h"
#include "storage/replace_win32.h"

namespace talven {
namespace {

TEST(FailedReplace, SaysWhetherTheOldFileIsGoneAndWhy) {
  struct Case {
    DWORD error;
    bool survives;
    int errnoValue;
  };
  for (const Case& c :
       {Case{ERROR_UNABLE_TO_MOVE_REPLACEMENT, false, EIO},
        Case{ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, EIO},
        Case{ERROR_UNABLE_TO_REMOVE_REPLACED, true, EIO},
        Case{ERROR_SHARING_VIOLATION, true, EBUSY}, Case{ERROR_LOCK_VIOLATION, true, EBUSY},
        Case{ERROR_ACCESS_DENIED, true, EACCES}}) {
    EXPECT_EQ(ReplacedFileSurvives(c.error), c.survives) << c.error;
    EXPECT_EQ(ErrnoForFailedReplace(c.error), c.errnoValue) << c.error;
  }
}

TEST(MasterBound, AFileLargerThanTheBoundIsRefusedUnread) {
  const auto path = std::filesystem::temp_directory_path() / "talven-bound.txt";
  for (const std::uintmax_t size : {kKeptBytesMax, kKeptBytesMax + 1}) {
    {
      std::FILE* file = std::fopen(path.string().c_str(), "wb");
      ASSERT_NE(file, nullptr);
      std::fclose(file);
    }
    std::filesystem::resize_file(path, size);
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::vector<char> kept;
    errno = 0;
    std::FILE* bytes = KeepFileBytes(file, kept);
    EXPECT_EQ(bytes == nullptr, size > kKeptBytesMax);
    const int error = errno;
    EXPECT_EQ(bytes == nullptr ? error : EFBIG, EFBIG);
    std::fclose(file);
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace talven
