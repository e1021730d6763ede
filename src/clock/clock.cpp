#include "clock/clock.h"

#include <cstdio>

namespace talven {

namespace {

// One field of the subtraction: the difference, with a borrow taken from the next field up.
int SubtractField(int end, int start, int& borrow, int base) {
  int value = end - start - borrow;
  borrow = 0;
  if (value < 0) {
    value += base;
    borrow = 1;
  }
  return value;
}

}  // namespace

void ReadTimeOfDay(TimeOfDay& time) {
  CalendarDate date;
  ReadDateAndTime(date, time);
}

void SubtractTimeOfDay(TimeOfDay& end, const TimeOfDay& start) {
  int borrow = 0;
  const int hundredths = SubtractField(end.hundredths, start.hundredths, borrow, 100);
  const int seconds = SubtractField(end.second, start.second, borrow, 60);
  const int minutes = SubtractField(end.minute, start.minute, borrow, 60);
  const int hours = SubtractField(end.hour, start.hour, borrow, 24);
  end.hundredths = static_cast<std::uint8_t>(hundredths);
  end.second = static_cast<std::uint8_t>(seconds);
  end.minute = static_cast<std::uint8_t>(minutes);
  end.hour = static_cast<std::uint8_t>(hours);
}

std::size_t FormatTotalTime(const TimeOfDay& elapsed, char* out, std::size_t capacity) {
  const unsigned hours = elapsed.hour, minutes = elapsed.minute, seconds = elapsed.second;
  const int length =
      std::snprintf(out, capacity, "  total time %u:%2u:%2u.%02u ( %u.%02u sec )\n", hours, minutes,
                    seconds, unsigned{elapsed.hundredths}, hours * 3600 + minutes * 60 + seconds,
                    unsigned{elapsed.hundredths});
  return length < 0 ? 0 : static_cast<std::size_t>(length);
}

}  // namespace talven
