// Public interface of the page counter pagecnt.dll.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The 8-byte block that GetPageCount fills. The caller clears it first.
typedef struct PAGE_COUNT_RESULT {
  uint32_t dwPages;      // pages counted
  uint16_t wPaperSize;   // paper size code (DMPAPER_*), 0 = none
  uint16_t wReserved;    // not read
} PAGE_COUNT_RESULT;

// Counts the pages of a print file for a printer; both names are ANSI.
// Returns non-zero when it has counted, 0 when it cannot count the file.
typedef int(__cdecl* PFN_GET_PAGE_COUNT)(const char* pszFileName,
                                         const char* pszPrinterName,
                                         PAGE_COUNT_RESULT* pResult);

#ifdef __cplusplus
}
#endif
