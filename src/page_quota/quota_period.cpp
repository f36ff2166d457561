#include "page_quota/quota_period.h"

namespace page_quota {

using calendar::AddDays;
using calendar::CalendarDate;
using calendar::DayOfWeek;
using calendar::FirstOfNextMonth;
using calendar::NextDay;

bool operator==(const Period& a, const Period& b) {
  if (a.kind != b.kind) return false;
  return a.kind != PeriodKind::Span || (a.from == b.from && a.to == b.to);
}

bool ParsePeriod(const std::string& text, Period& period) {
  static const struct {
    const char* word;
    PeriodKind kind;
  } kWords[] = {{"none", PeriodKind::None},
                {"day", PeriodKind::Day},
                {"week", PeriodKind::Week},
                {"month", PeriodKind::Month},
                {"year", PeriodKind::Year}};
  for (const auto& w : kWords) {
    if (text == w.word) {
      period = Period();
      period.kind = w.kind;
      return true;
    }
  }
  // "YYYY-MM-DD..YYYY-MM-DD": 22 characters exactly.
  if (text.size() != 22 || text.compare(10, 2, "..") != 0) return false;
  Period span;
  span.kind = PeriodKind::Span;
  if (!calendar::ParseDate(text.substr(0, 10), span.from) ||
      !calendar::ParseDate(text.substr(12), span.to) || span.to < span.from) {
    return false;
  }
  period = span;
  return true;
}

std::string PeriodText(const Period& period) {
  switch (period.kind) {
    case PeriodKind::None: return "none";
    case PeriodKind::Day: return "day";
    case PeriodKind::Week: return "week";
    case PeriodKind::Month: return "month";
    case PeriodKind::Year: return "year";
    case PeriodKind::Span: break;
  }
  return calendar::FormatDate(period.from) + ".." + calendar::FormatDate(period.to);
}

Window WindowAt(const Period& period, int64_t tNow, const calendar::CLocalDays& days) {
  Window window;
  if (period.kind == PeriodKind::None) return window;
  if (period.kind == PeriodKind::Span) {
    window.tBegin = days.StartOf(period.from);
    window.tEnd = days.StartOf(NextDay(period.to));
    window.bApplies = tNow >= window.tBegin && tNow < window.tEnd;
    return window;
  }
  const CalendarDate today = days.DateOf(tNow);
  CalendarDate first = today, next;
  switch (period.kind) {
    case PeriodKind::Day:
      next = NextDay(today);
      break;
    case PeriodKind::Week:
      first = AddDays(today, -DayOfWeek(today));
      next = AddDays(first, 7);
      break;
    case PeriodKind::Month:
      first.day = 1;
      next = FirstOfNextMonth(first);
      break;
    default:   // Year
      first.month = 1;
      first.day = 1;
      next = first;
      ++next.year;
      break;
  }
  window.tBegin = days.StartOf(first);
  window.tEnd = days.StartOf(next);
  return window;
}

}  // namespace page_quota
