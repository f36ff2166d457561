// Fuzz target: the PDF counter on any bytes taken as a document from the
// first byte. A compressed cross-reference stream may list far more
// objects than the file has bytes, so pages are bounded by the object
// numbers a table can hold, not by the size.
#include "fuzz_support.h"
#include "pdf_counter.h"
#include "pdf_xref.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pagecnt::FileView file(data, size);
  pagecnt::JobCount job;
  bool counted = pagecnt::CountPdfPages(file, 0, size, job);
  pagecnt::fuzz::Require(counted == (job.pages > 0));
  pagecnt::fuzz::Require(job.pages <= pagecnt::XrefTable::kMaxObjectNumber);
  return 0;
}
