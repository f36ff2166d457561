#include "usage_report/local_days.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace usage_report {

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool Digits(const std::string& text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// FILETIME counts 100 ns from 1601; Unix time counts seconds from 1970.
constexpr int64_t kFileTimeOf1970 = 116444736000000000LL;

}  // namespace

bool operator<(const CalendarDate& a, const CalendarDate& b) {
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  return a.day < b.day;
}

bool operator==(const CalendarDate& a, const CalendarDate& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ParseDate(const std::string& text, CalendarDate& date) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  CalendarDate d;
  if (!Digits(text, 0, 4, d.year) || !Digits(text, 5, 2, d.month) || !Digits(text, 8, 2, d.day)) {
    return false;
  }
  // FILETIME begins in 1601; a period's end is the start of the day after
  // its last day, which must have four digits too.
  if (d.year < 1601 || d.year > 9998 || d.month < 1 || d.month > 12) return false;
  if (d.day < 1 || d.day > DaysInMonth(d.year, d.month)) return false;
  date = d;
  return true;
}

std::string FormatDate(const CalendarDate& date) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d", date.year, date.month, date.day);
  return text;
}

std::string FormatMonth(const CalendarDate& date) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d-%02d", date.year, date.month);
  return text;
}

CalendarDate NextDay(const CalendarDate& date) {
  CalendarDate next = date;
  if (++next.day > DaysInMonth(next.year, next.month)) {
    next.day = 1;
    if (++next.month > 12) {
      next.month = 1;
      ++next.year;
    }
  }
  return next;
}

CalendarDate FirstOfNextMonth(const CalendarDate& date) {
  CalendarDate next = date;
  next.day = 1;
  if (++next.month > 12) {
    next.month = 1;
    ++next.year;
  }
  return next;
}

CLocalDays::CLocalDays(const TIME_ZONE_INFORMATION* pZone)
    : m_bMachineZone(pZone == nullptr), m_zone() {
  if (pZone) m_zone = *pZone;
}

int64_t CLocalDays::StartOf(const CalendarDate& date) const {
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(date.year);
  local.wMonth = static_cast<WORD>(date.month);
  local.wDay = static_cast<WORD>(date.day);
  SYSTEMTIME utc = {};
  // The machine's zone (a null zone) with the rules of the day's year.
  TIME_ZONE_INFORMATION zone = m_zone;
  if (m_bMachineZone &&
      !GetTimeZoneInformationForYear(static_cast<USHORT>(date.year), nullptr, &zone)) {
    throw std::runtime_error("cannot read the time zone's rules for " +
                             std::to_string(date.year) + " (error " +
                             std::to_string(GetLastError()) + ")");
  }
  if (!TzSpecificLocalTimeToSystemTime(&zone, &local, &utc)) {
    throw std::runtime_error("cannot convert the local day " + FormatDate(date) +
                             " to UTC (error " + std::to_string(GetLastError()) + ")");
  }
  FILETIME ft = {};
  if (!SystemTimeToFileTime(&utc, &ft)) {
    throw std::runtime_error("cannot convert the day " + FormatDate(date));
  }
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  const int64_t fromEpoch = ticks - kFileTimeOf1970;
  // Floor division: days before 1970 are negative instants.
  return fromEpoch >= 0 ? fromEpoch / 10000000 : -((-fromEpoch + 9999999) / 10000000);
}

std::vector<TimeBucket> DayBuckets(const CLocalDays& days, CalendarDate from,
                                   const CalendarDate& to) {
  std::vector<TimeBucket> buckets;
  int64_t tBegin = days.StartOf(from);
  for (CalendarDate d = from; !(to < d); d = NextDay(d)) {
    const int64_t tEnd = days.StartOf(NextDay(d));
    buckets.push_back({FormatDate(d), tBegin, tEnd});
    tBegin = tEnd;
  }
  return buckets;
}

std::vector<TimeBucket> MonthBuckets(const CLocalDays& days, CalendarDate from,
                                     const CalendarDate& to) {
  std::vector<TimeBucket> buckets;
  const CalendarDate after = NextDay(to);
  int64_t tBegin = days.StartOf(from);
  for (CalendarDate d = from; d < after;) {
    const CalendarDate next = std::min(FirstOfNextMonth(d), after);
    const int64_t tEnd = days.StartOf(next);
    buckets.push_back({FormatMonth(d), tBegin, tEnd});
    tBegin = tEnd;
    d = next;
  }
  return buckets;
}

}  // namespace usage_report
