// The service's latest events about its database, journal, printers and
// pipe (110 to 118) from the Application event log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct SERVICE_EVENT {
  DWORD dwTime;                      // seconds since 1970, when it was written
  DWORD dwId;                        // 110 ... 118
  std::vector<std::string> texts;    // its insertion strings (UTF-8)
};

struct EVENT_READING {
  bool bReadable = false;   // false: the log could not be read; why says why
  std::string why;
  std::vector<SERVICE_EVENT> events;   // the newest first
};

// Up to nMax of the newest events of the source with ids from dwFirst to
// dwLast. A log that holds no record at all counts as not readable: every
// Windows system writes to the Application log, so an empty one is a
// system that keeps none.
EVENT_READING ReadServiceEvents(const char* pszSource, DWORD dwFirst, DWORD dwLast, size_t nMax);
