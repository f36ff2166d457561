// What a format counter finds out about a print file.
#pragma once

#include <cstdint>

namespace pagecnt {

struct PageCount {
  uint32_t pages = 0;
  uint16_t paper_size = 0;  // DMPAPER_* code, 0 when not known
};

}  // namespace pagecnt
