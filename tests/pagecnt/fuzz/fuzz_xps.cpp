// Fuzz target: the XPS counter on any bytes taken as a package from the
// first byte. Deflated parts may name more pages than the file has bytes.
#include "fuzz_support.h"
#include "xps_counter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pagecnt::FileView file(data, size);
  pagecnt::JobCount job;
  job.end = size;
  bool counted = pagecnt::CountXpsPages(file, 0, job);
  pagecnt::fuzz::Require(counted == (job.pages > 0));
  return 0;
}
