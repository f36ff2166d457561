// The period of a page quota and the stretch of time it covers at a given
// moment. Periods follow the server's local calendar (its time zone and
// daylight-saving rules, calendar/local_days.h): a day is a local day, a
// week runs from Monday, a month and a year begin on their first local day.
// A span covers the local days FROM to TO inclusive (a term), and applies
// only while it lasts. "none" is one period without end: a total that holds
// until the user's use is reset.
#pragma once

#include <stdint.h>

#include <limits>
#include <string>

#include "calendar/local_days.h"

namespace page_quota {

enum class PeriodKind { None, Day, Week, Month, Year, Span };

struct Period {
  PeriodKind kind = PeriodKind::None;
  calendar::CalendarDate from;   // Span only
  calendar::CalendarDate to;     // Span only, not before from
};

bool operator==(const Period& a, const Period& b);

// "day", "week", "month", "year", "none" or "YYYY-MM-DD..YYYY-MM-DD" (from
// not after to); false for anything else, with `period` unchanged.
bool ParsePeriod(const std::string& text, Period& period);
// The text ParsePeriod reads back.
std::string PeriodText(const Period& period);

constexpr int64_t kNoBound = std::numeric_limits<int64_t>::max();

// [tBegin, tEnd) in UTC seconds since 1970: the period that holds a moment.
// "none" is [-kNoBound, kNoBound). bApplies is false for a span the moment
// is not in; tBegin and tEnd then say when it begins and ended (or, before
// it, that it begins at tBegin).
struct Window {
  int64_t tBegin = -kNoBound;
  int64_t tEnd = kNoBound;
  bool bApplies = true;
};

// The window of the period at tNow. Raises std::runtime_error when the
// system cannot convert a local day.
Window WindowAt(const Period& period, int64_t tNow, const calendar::CLocalDays& days);

}  // namespace page_quota
