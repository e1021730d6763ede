// Another program that opens a file for a moment (a virus scanner, a sync client) can make a
// rename fail on Windows, as a sharing violation (EBUSY) or, for a file open without delete
// sharing, as access denied (EACCES). Such a failure is tried again a few times over about a
// second; a file that may truly not be replaced costs that second before its error.
#pragma once

#include <cerrno>

namespace talven {

// The pauses between tries, in milliseconds: seven tries over 1.05 s.
inline constexpr unsigned kBusyPausesMs[] = {50, 100, 150, 200, 250, 300};

// Calls attempt() until it succeeds, fails with an errno other than EBUSY or EACCES, or the pauses
// are used up; pause(ms) waits between tries. The result and errno are those of the last try.
template <class Attempt, class Pause>
bool RetryWhileBusy(Attempt attempt, Pause pause) {
  for (const unsigned ms : kBusyPausesMs) {
    errno = 0;
    if (attempt()) return true;
    if (errno != EBUSY && errno != EACCES) return false;
    pause(ms);
  }
  errno = 0;
  return attempt();
}

}  // namespace talven
