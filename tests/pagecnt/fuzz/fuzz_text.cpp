// Fuzz target: the text counter on any bytes.
#include "fuzz_support.h"
#include "text_counter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pagecnt::fuzz::CountJob(data, size, pagecnt::CountTextPages);
}
