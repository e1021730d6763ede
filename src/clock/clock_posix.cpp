#include <sys/time.h>

#include <ctime>

#include "clock/clock.h"

namespace talven {

namespace {

void ReadLocalClock(std::tm& fields, long& milliseconds) {
  timeval now{};
  gettimeofday(&now, nullptr);
  const std::time_t seconds = now.tv_sec;
  localtime_r(&seconds, &fields);
  milliseconds = static_cast<long>(now.tv_usec / 1000);
}

void CopyTime(const std::tm& fields, long milliseconds, TimeOfDay& time) {
  time.hour = static_cast<std::uint8_t>(fields.tm_hour);
  time.minute = static_cast<std::uint8_t>(fields.tm_min);
  time.second = static_cast<std::uint8_t>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
  time.hundredths = static_cast<std::uint8_t>(milliseconds / 10);
}

void CopyDate(const std::tm& fields, CalendarDate& date) {
  date.day = static_cast<std::uint8_t>(fields.tm_mday);
  date.month = static_cast<std::uint8_t>(fields.tm_mon + 1);
  date.year = fields.tm_year + 1900;
  date.weekday = static_cast<std::uint8_t>(fields.tm_wday);
}

}  // namespace

void ReadDateAndTime(CalendarDate& date, TimeOfDay& time) {
  std::tm fields{};
  long milliseconds = 0;
  ReadLocalClock(fields, milliseconds);
  CopyDate(fields, date);
  CopyTime(fields, milliseconds, time);
}

}  // namespace talven
