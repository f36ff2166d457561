// A time zone with daylight saving, for tests that must not depend on the
// machine's: Central European Time as Windows describes it (the rules in
// the day-of-month form of TIME_ZONE_INFORMATION: wYear 0, wDay 5 = the
// last such weekday of the month). Summer time from the last Sunday of
// March, 02:00, to the last Sunday of October, 03:00.
#pragma once

#include <windows.h>

inline TIME_ZONE_INFORMATION CentralEurope() {
  TIME_ZONE_INFORMATION tz = {};
  tz.Bias = -60;           // UTC = local + Bias minutes
  tz.StandardBias = 0;
  tz.DaylightBias = -60;
  tz.StandardDate.wMonth = 10;
  tz.StandardDate.wDayOfWeek = 0;
  tz.StandardDate.wDay = 5;
  tz.StandardDate.wHour = 3;
  tz.DaylightDate.wMonth = 3;
  tz.DaylightDate.wDayOfWeek = 0;
  tz.DaylightDate.wDay = 5;
  tz.DaylightDate.wHour = 2;
  return tz;
}
