#include "serial/lock_table.h"

#include <gtest/gtest.h>

namespace talven {
namespace {

TEST(LockTable, FindsOnlyAHeldLockOnTheSameFile) {
  const LockedFile tty{0x0, 0x5, 87};
  struct Case {
    const char* table;
    bool held;
  };
  for (const Case& c : {
           Case{"", false},
           Case{"1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF\n", true},
           Case{"1: POSIX  ADVISORY  WRITE 99 00:05:87 0 EOF", true},  // no line end
           Case{"1: OFDLCK ADVISORY  READ  -1 00:05:87 0 EOF\n", true},
           Case{"1: FLOCK  ADVISORY  WRITE 1234 00:05:870 0 EOF\n", false},  // another inode
           Case{"1: FLOCK  ADVISORY  WRITE 1234 00:15:87 0 EOF\n", false},   // minor in hex
           Case{"1: FLOCK  ADVISORY  WRITE 1234 01:05:87 0 EOF\n", false},
           Case{"1: FLOCK  ADVISORY  WRITE 7 00:06:3 0 EOF\n"
                "1: -> FLOCK  ADVISORY  WRITE 8 00:05:87 0 EOF\n",  // a waiter holds nothing
                false},
           Case{"2: FLOCK  ADVISORY  WRITE 7 00:06:3 0 EOF\n"
                "3: FLOCK  ADVISORY  WRITE 8 00:05:87 0 EOF\n",
                true},
           Case{"garbage\n1: FLOCK ADVISORY WRITE 8 zz:05:87 0 EOF\n:\n  \n", false},
       }) {
    EXPECT_EQ(LockTableHolds(c.table, tty), c.held) << c.table;
  }
  EXPECT_TRUE(LockTableHolds("1: FLOCK  ADVISORY  WRITE 1 fd:1a:12345678901 0 EOF",
                             LockedFile{0xfd, 0x1a, 12345678901}));
}

}  // namespace
}  // namespace talven
