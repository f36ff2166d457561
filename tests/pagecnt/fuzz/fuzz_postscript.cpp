// Fuzz target: the postscript counter on any bytes.
#include "fuzz_support.h"
#include "ps_counter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pagecnt::fuzz::CountJob(data, size, pagecnt::CountPostScriptPages);
}
