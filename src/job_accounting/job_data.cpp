#include "job_accounting/job_data.h"

#include <ctime>

int32_t SubmissionTime(const SYSTEMTIME* pUtc) {
  SYSTEMTIME local = {};
  bool bHaveLocal = false;
  if (pUtc) {
    TIME_ZONE_INFORMATION zone = {};
    GetTimeZoneInformation(&zone);
    bHaveLocal = SystemTimeToTzSpecificLocalTime(&zone, pUtc, &local) && local.wYear >= 1970;
  }
  if (!bHaveLocal) GetLocalTime(&local);

  std::tm calendar = {};
  calendar.tm_sec = local.wSecond;
  calendar.tm_min = local.wMinute;
  calendar.tm_hour = local.wHour;
  calendar.tm_mday = local.wDay;
  calendar.tm_mon = local.wMonth - 1;
  calendar.tm_year = local.wYear - 1900;
  // Daylight saving as it is now, not as it was at the submission.
  std::time_t now = std::time(nullptr);
  if (const std::tm* pNow = std::localtime(&now)) calendar.tm_isdst = pNow->tm_isdst;
  return static_cast<int32_t>(std::mktime(&calendar));
}
