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
//
// The language is recognised from the content: PDF, PostScript, PCL 5,
// PCL XL, XPS or plain text, each also inside PJL, and the pages of every
// job in the file are added up. A copy count that the file itself asks for
// is not multiplied in: the spooler's copies of a job already include the
// copies a driver wrote into its data, and the caller multiplies by those.
// pagecount.exe shows that count. The paper size is the first page's.
typedef int(__cdecl* PFN_GET_PAGE_COUNT)(const char* pszFileName,
                                         const char* pszPrinterName,
                                         PAGE_COUNT_RESULT* pResult);

#ifdef __cplusplus
}
#endif
