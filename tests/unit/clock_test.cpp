#include "clock/clock.h"

#include <gtest/gtest.h>

#include <string>

namespace talven {
namespace {

struct ElapsedCase {
  TimeOfDay start;
  TimeOfDay end;
  const char* printed;
};

class ElapsedTime : public ::testing::TestWithParam<ElapsedCase> {};

TEST_P(ElapsedTime, SubtractsAndPrints) {
  TimeOfDay end = GetParam().end;
  SubtractTimeOfDay(end, GetParam().start);
  char line[96];
  FormatTotalTime(end, line, sizeof line);
  EXPECT_EQ(std::string(line), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ElapsedTime,
    ::testing::Values(
        ElapsedCase{{10, 0, 0, 50}, {10, 1, 0, 20}, "  total time 0: 0:59.70 ( 59.70 sec )\n"},
        ElapsedCase{{9, 58, 30, 75}, {10, 2, 10, 25}, "  total time 0: 3:39.50 ( 219.50 sec )\n"},
        ElapsedCase{{10, 59, 59, 50}, {11, 0, 0, 20}, "  total time 0: 0: 0.70 ( 0.70 sec )\n"},
        ElapsedCase{{12, 0, 0, 0}, {12, 1, 5, 7}, "  total time 0: 1: 5.07 ( 65.07 sec )\n"},
        ElapsedCase{{8, 8, 8, 8}, {8, 8, 8, 8}, "  total time 0: 0: 0.00 ( 0.00 sec )\n"},
        // A start never taken is midnight: the end's own time of day.
        ElapsedCase{{0, 0, 0, 0}, {1, 2, 3, 4}, "  total time 1: 2: 3.04 ( 3723.04 sec )\n"},
        // Across midnight the 24 hours in between count.
        ElapsedCase{{23, 59, 59, 90}, {0, 0, 1, 0}, "  total time 0: 0: 1.10 ( 1.10 sec )\n"},
        ElapsedCase{{22, 0, 0, 0}, {1, 30, 0, 0}, "  total time 3:30: 0.00 ( 12600.00 sec )\n"}));

TEST(Clock, ReadingsAreInRange) {
  TimeOfDay time;
  CalendarDate date;
  ReadDateAndTime(date, time);
  EXPECT_LT(time.hour, 24);
  EXPECT_LT(time.minute, 60);
  EXPECT_LT(time.second, 60);
  EXPECT_LT(time.hundredths, 100);
  EXPECT_GE(date.year, 2000);
  EXPECT_GE(date.month, 1);
  EXPECT_LE(date.month, 12);
  EXPECT_GE(date.day, 1);
  EXPECT_LE(date.day, 31);
  EXPECT_LE(date.weekday, 6);
}

}  // namespace
}  // namespace talven
