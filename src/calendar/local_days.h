// Calendar days of the server's local time and the instants at which they
// begin. PRNDATA.Submitted holds UTC seconds since 1970; a report's days are
// the server's local days, so the bounds of each day are computed here, with
// the time zone's daylight-saving rules, and handed to the query as UTC
// seconds. A fixed offset would put the jobs of an hour a year into the
// wrong day.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace calendar {

struct CalendarDate {
  int year = 0;    // 1601 to 9998
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to the month's length
};

bool operator<(const CalendarDate& a, const CalendarDate& b);
bool operator==(const CalendarDate& a, const CalendarDate& b);

// "YYYY-MM-DD" exactly, a day that exists, from 1601 to 9998; false
// otherwise.
bool ParseDate(const std::string& text, CalendarDate& date);
std::string FormatDate(const CalendarDate& date);   // "YYYY-MM-DD"
std::string FormatMonth(const CalendarDate& date);  // "YYYY-MM"
int DaysInMonth(int year, int month);
CalendarDate NextDay(const CalendarDate& date);
CalendarDate FirstOfNextMonth(const CalendarDate& date);
// The date `days` days later (earlier when negative).
CalendarDate AddDays(const CalendarDate& date, int days);
// 0 for Monday to 6 for Sunday.
int DayOfWeek(const CalendarDate& date);

// Where the local days are: a time zone's rules (as GetTimeZoneInformation
// gives them), or null for the machine's zone, with the rules of each
// day's year where the system keeps them (a zone whose daylight-saving
// dates changed over the years).
class CLocalDays {
 public:
  explicit CLocalDays(const TIME_ZONE_INFORMATION* pZone = nullptr);
  // The UTC instant, in seconds since 1970, at which the local day begins
  // (its local midnight; where midnight is skipped by a clock change, the
  // first local instant after it). Raises std::runtime_error when the
  // system cannot convert the day.
  int64_t StartOf(const CalendarDate& date) const;
  // The local day that holds the UTC instant (seconds since 1970). Raises
  // std::runtime_error when the system cannot convert it.
  CalendarDate DateOf(int64_t tUtc) const;

 private:
  bool m_bMachineZone;
  TIME_ZONE_INFORMATION m_zone;
};

// One row of a report over time: a day or a month (cut to the period at
// both ends), named by its label, covering [tBegin, tEnd).
struct TimeBucket {
  std::string label;
  int64_t tBegin = 0;
  int64_t tEnd = 0;
};

// The days, or the months, from `from` to `to` inclusive, in order.
std::vector<TimeBucket> DayBuckets(const CLocalDays& days, CalendarDate from,
                                   const CalendarDate& to);
std::vector<TimeBucket> MonthBuckets(const CLocalDays& days, CalendarDate from,
                                     const CalendarDate& to);

}  // namespace calendar
