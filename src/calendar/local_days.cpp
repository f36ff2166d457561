#include "calendar/local_days.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace calendar {

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

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// civil-calendar arithmetic of H. Hinnant's date algorithms).
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CalendarDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  CalendarDate date;
  date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2));
  return date;
}

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

CalendarDate AddDays(const CalendarDate& date, int days) {
  return CivilFromDays(DaysFromCivil(date.year, date.month, date.day) + days);
}

int DayOfWeek(const CalendarDate& date) {
  // 1970-01-01 was a Thursday (3 counted from Monday).
  const int64_t days = DaysFromCivil(date.year, date.month, date.day);
  return static_cast<int>(((days % 7) + 7 + 3) % 7);
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

CalendarDate CLocalDays::DateOf(int64_t tUtc) const {
  // From 1601, where FILETIME begins, to the end of 9999.
  if (tUtc < -11644473600LL || tUtc > 253402300799LL) {
    throw std::runtime_error("cannot convert the instant " + std::to_string(tUtc));
  }
  const uint64_t ticks = static_cast<uint64_t>(tUtc * 10000000 + kFileTimeOf1970);
  FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc = {};
  if (!FileTimeToSystemTime(&ft, &utc)) {
    throw std::runtime_error("cannot convert the instant " + std::to_string(tUtc));
  }
  TIME_ZONE_INFORMATION zone = m_zone;
  if (m_bMachineZone && !GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone)) {
    throw std::runtime_error("cannot read the time zone's rules for " +
                             std::to_string(utc.wYear) + " (error " +
                             std::to_string(GetLastError()) + ")");
  }
  SYSTEMTIME local = {};
  if (!SystemTimeToTzSpecificLocalTime(&zone, &utc, &local)) {
    throw std::runtime_error("cannot convert the instant " + std::to_string(tUtc) +
                             " to local time (error " + std::to_string(GetLastError()) + ")");
  }
  CalendarDate date;
  date.year = local.wYear;
  date.month = local.wMonth;
  date.day = local.wDay;
  return date;
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

}  // namespace calendar
