#include "pagecnt.h"

extern "C" int __cdecl GetPageCount(const char*, const char*, PAGE_COUNT_RESULT*) {
  return 0;
}
