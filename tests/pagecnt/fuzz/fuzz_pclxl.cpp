// Fuzz target: the pclxl counter on any bytes.
#include "fuzz_support.h"
#include "pclxl_counter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pagecnt::fuzz::CountJob(data, size, pagecnt::CountPclXlPages);
}
