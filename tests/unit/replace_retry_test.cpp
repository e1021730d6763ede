// A replace that fails because another program has the file open for a moment is tried again
// for about a second; any other failure is final at once.
#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <vector>

#include "storage/replace_retry.h"

namespace talven {
namespace {

struct RetryCase {
  const char* what;
  std::vector<int> failures;  // errno of each failing try, in order; then it succeeds
  bool succeeds;
  int tries;
  int lastErrno;
};

const RetryCase kCases[] = {
    {"first try", {}, true, 1, 0},
    {"busy twice", {EBUSY, EBUSY}, true, 3, 0},
    {"busy on all but the last", {EBUSY, EBUSY, EBUSY, EBUSY, EBUSY, EBUSY}, true, 7, 0},
    {"busy throughout", std::vector<int>(20, EBUSY), false, 7, EBUSY},
    {"denied, then free", {EACCES, EACCES}, true, 3, 0},
    {"missing", {ENOENT}, false, 1, ENOENT},
    {"busy, then no space", {EBUSY, ENOSPC}, false, 2, ENOSPC},
};

TEST(RetryWhileBusy, TriesAgainOnlyWhileBusyForAboutASecond) {
  for (const RetryCase& c : kCases) {
    SCOPED_TRACE(c.what);
    int tries = 0;
    unsigned waited = 0;
    const bool ok = RetryWhileBusy(
        [&] {
          const std::size_t at = static_cast<std::size_t>(tries++);
          if (at >= c.failures.size()) return true;
          errno = c.failures[at];
          return false;
        },
        [&](unsigned ms) { waited += ms; });
    EXPECT_EQ(ok, c.succeeds);
    EXPECT_EQ(tries, c.tries);
    EXPECT_EQ(ok ? 0 : errno, c.lastErrno);
    EXPECT_LE(waited, 1100u);
  }
  const unsigned total = std::accumulate(std::begin(kBusyPausesMs), std::end(kBusyPausesMs), 0u);
  EXPECT_GE(total, 900u);
  EXPECT_LE(total, 1500u);
}

}  // namespace
}  // namespace talven
