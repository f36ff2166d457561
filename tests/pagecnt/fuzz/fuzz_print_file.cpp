// Fuzz target: a whole print file as the service hands it over: PJL job
// headers, several jobs, and the choice of each job's language.
#include "format_dispatch.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pagecnt::FileView file(data, size);
  pagecnt::PageCount count;
  bool counted = pagecnt::CountPrintFile(file, count);
  pagecnt::fuzz::Require(counted == (count.pages > 0));
  pagecnt::fuzz::Require(count.jobs <= size);
  pagecnt::fuzz::Require(count.copies <= 9999);
  return 0;
}
