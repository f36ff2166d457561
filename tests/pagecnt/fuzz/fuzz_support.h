// What every fuzz target checks of a counter's answer on any input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "file_view.h"
#include "page_count.h"

namespace pagecnt::fuzz {

// Stops the run with a finding: the sanitizers report a memory fault on
// their own, this reports an answer no file can give.
inline void Require(bool holds) {
  if (!holds) std::abort();
}

// Runs `count` (one language's counter) on the input as a file from its
// first byte. The job may not end beyond the file, and its pages may not
// pass `max_pages`: by default its size, as every page costs a byte at
// least where nothing repeats.
template <typename Counter>
int CountJob(const uint8_t* data, size_t size, Counter count, uint64_t max_pages) {
  FileView file(data, size);
  JobCount job;
  bool counted = count(file, uint64_t{0}, job);
  Require(job.end <= size);
  Require(counted == (job.pages > 0));
  Require(job.pages <= max_pages);
  Require(job.copies <= 9999);
  return 0;
}

template <typename Counter>
int CountJob(const uint8_t* data, size_t size, Counter count) {
  return CountJob(data, size, count, size);
}

// PCL 5 macros repeat pages: a macro that ejects k pages, run m times,
// prints k * m, as a printer does. Neither passes the size, and a macro
// cannot run another while it is defined, so no job passes its size
// squared.
inline uint64_t MaxPcl5Pages(size_t size) { return uint64_t{size} * size; }

}  // namespace pagecnt::fuzz
