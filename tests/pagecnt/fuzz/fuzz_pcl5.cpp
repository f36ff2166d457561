// Fuzz target: the pcl5 counter on any bytes.
#include "fuzz_support.h"
#include "pcl5_counter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pagecnt::fuzz::CountJob(data, size, pagecnt::CountPcl5Pages);
}
