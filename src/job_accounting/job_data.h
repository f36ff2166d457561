// JOB_DATA: the record of one print job on its way to accounting, built from
// what the spooler tells of the job and also received byte for byte from pipe
// clients, so its layout is a wire format (1,640 bytes, little-endian).
// Texts are UTF-16LE, zero-terminated within their width; a text that fills
// its whole width has no terminator, so every reader stops at the width.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <stddef.h>
#include <stdint.h>

constexpr size_t kJobPrinterChars = 255;
constexpr size_t kJobFileChars = 20;
constexpr size_t kJobDocumentChars = 255;
constexpr size_t kJobUserChars = 255;
constexpr size_t kJobComputerChars = 20;

struct JOB_DATA {
  WCHAR wszPrinter[kJobPrinterChars];     // printer (queue) name
  WCHAR wszFile[kJobFileChars];           // file for the page counter (pipe clients only)
  WCHAR wszDocument[kJobDocumentChars];   // document name
  WCHAR wszUser[kJobUserChars];           // user name
  WCHAR wszComputer[kJobComputerChars];   // client computer, no leading backslashes
  WORD wReserved0;                        // zero
  DWORD dwTotalPages;                     // pages of one copy, as the spooler counts them
  int32_t dwCopies;                       // number of copies
  int32_t tSubmitted;                     // seconds since 1970-01-01 00:00 UTC
  DWORD dwJobId;                          // spooler job identifier
  int16_t wPaperSize;                     // DMPAPER_ code
  int16_t wPaperLength;                   // tenths of a millimetre
  int16_t wPaperWidth;                    // tenths of a millimetre
  int16_t wColor;                         // 1 monochrome, 2 colour
  int16_t wDuplex;                        // 1 simplex, 2 vertical, 3 horizontal
  WORD wReserved;                         // zero
};

static_assert(sizeof(WCHAR) == 2, "JOB_DATA texts are UTF-16");
// The natural layout has no padding; the checks below pin it.
static_assert(sizeof(JOB_DATA) == 1640, "JOB_DATA is a wire format");
static_assert(offsetof(JOB_DATA, wszPrinter) == 0, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wszFile) == 510, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wszDocument) == 550, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wszUser) == 1060, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wszComputer) == 1570, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wReserved0) == 1610, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, dwTotalPages) == 1612, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, dwCopies) == 1616, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, tSubmitted) == 1620, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, dwJobId) == 1624, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wPaperSize) == 1628, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wPaperLength) == 1630, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wPaperWidth) == 1632, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wColor) == 1634, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wDuplex) == 1636, "JOB_DATA layout");
static_assert(offsetof(JOB_DATA, wReserved) == 1638, "JOB_DATA layout");

// The submission time of a job in seconds since 1970, from the spooler's
// SYSTEMTIME in UTC: converted to local time with the system's time zone and
// back through mktime, with daylight saving as it is now, not as it was at
// the submission. Without a time, or with one before 1970, the current
// time.
int32_t SubmissionTime(const SYSTEMTIME* pUtc);
