// Wall-clock readings and the stopwatch type the transfers time themselves with.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talven {

struct TimeOfDay {
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint8_t hundredths = 0;
};

struct CalendarDate {
  std::uint8_t day = 1;
  std::uint8_t month = 1;
  std::int32_t year = 1970;
  std::uint8_t weekday = 0;  // 0 = Sunday
};

struct Stopwatch {
  TimeOfDay start;
  TimeOfDay end;
};

// The local date and time from one reading (one file per system), so that a moment just before
// midnight is not dated the next day; ReadTimeOfDay reads the time alone from it.
void ReadDateAndTime(CalendarDate& date, TimeOfDay& time);
void ReadTimeOfDay(TimeOfDay& time);

// end := end - start, field by field with borrows. An end earlier than the start (a run across
// midnight) counts the 24 hours in between instead of wrapping the hour.
void SubtractTimeOfDay(TimeOfDay& end, const TimeOfDay& start);

// "  total time %d:%2d:%2d.%02d ( %d.%02d sec )\n" for an elapsed time; returns the length.
std::size_t FormatTotalTime(const TimeOfDay& elapsed, char* out, std::size_t capacity);

}  // namespace talven
