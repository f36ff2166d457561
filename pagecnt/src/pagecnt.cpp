// The exported entry point of pagecnt.dll.
#include "pagecnt.h"

#include "file_view.h"
#include "format_dispatch.h"
#include "page_count.h"

extern "C" int __cdecl GetPageCount(const char* pszFileName,
                                    const char* pszPrinterName,
                                    PAGE_COUNT_RESULT* pResult) {
  // The printer name is part of the contract for counters that will need
  // the printer's settings; none does yet.
  if (!pszFileName || !pszPrinterName || !pResult) return 0;
  try {
    pagecnt::FileView file;
    if (!file.Open(pszFileName)) return 0;
    pagecnt::PageCount count;
    if (!pagecnt::CountPrintFile(file, count)) return 0;
    pResult->dwPages = count.pages;
    pResult->wPaperSize = count.paper_size;
    return 1;
  } catch (...) {
    // Out of memory, most likely; no exception may cross into the caller.
    return 0;
  }
}
