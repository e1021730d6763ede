#include <windows.h>

#include "clock/clock.h"

namespace talven {

namespace {

void CopyTime(const SYSTEMTIME& now, TimeOfDay& time) {
  time.hour = static_cast<std::uint8_t>(now.wHour);
  time.minute = static_cast<std::uint8_t>(now.wMinute);
  time.second = static_cast<std::uint8_t>(now.wSecond);
  time.hundredths = static_cast<std::uint8_t>(now.wMilliseconds / 10);
}

void CopyDate(const SYSTEMTIME& now, CalendarDate& date) {
  date.day = static_cast<std::uint8_t>(now.wDay);
  date.month = static_cast<std::uint8_t>(now.wMonth);
  date.year = now.wYear;
  date.weekday = static_cast<std::uint8_t>(now.wDayOfWeek);
}

}  // namespace

void ReadDateAndTime(CalendarDate& date, TimeOfDay& time) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  CopyDate(now, date);
  CopyTime(now, time);
}

}  // namespace talven
