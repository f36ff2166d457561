// Fuzz target: HP-GL/2 and RTL on any bytes, as a plotter reads them.
#include "fuzz_support.h"
#include "pcl5_counter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pagecnt::fuzz::CountJob(
      data, size, [](const pagecnt::FileView& file, uint64_t start, pagecnt::JobCount& job) {
        return pagecnt::CountPcl5Pages(file, start, job, pagecnt::Pcl5Context::kPlotter);
      },
      pagecnt::fuzz::MaxPcl5Pages(size));
}
