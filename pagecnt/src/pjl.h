// The PJL job envelope that drivers put around print data.
#pragma once

#include <cstdint>
#include <string>

#include "byte_source.h"

namespace pagecnt {

struct PrintData {
  uint64_t start = 0;    // first byte after the job header
  std::string language;  // from @PJL ENTER LANGUAGE, upper case; may be empty
};

// Skips what may precede the print data: ^D (end of a previous job), the
// Universal Exit Language command, @PJL command lines and blank lines.
PrintData SkipJobHeader(ByteSource& source);

// True when a Universal Exit Language command, which ends the print data
// of a PJL job, starts at `position`.
bool IsUniversalExit(ByteSource& source, uint64_t position);

}  // namespace pagecnt
