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
// first byte. The job may not end beyond the file, and every page costs a
// byte at least: no language here makes pages from nothing.
template <typename Counter>
int CountJob(const uint8_t* data, size_t size, Counter count) {
  FileView file(data, size);
  JobCount job;
  bool counted = count(file, uint64_t{0}, job);
  Require(job.end <= size);
  Require(counted == (job.pages > 0));
  Require(job.pages <= size);
  Require(job.copies <= 9999);
  return 0;
}

}  // namespace pagecnt::fuzz
