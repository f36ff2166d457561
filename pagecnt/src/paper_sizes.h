// Paper size codes for page dimensions.
#pragma once

#include <cstdint>

namespace pagecnt {

// The DMPAPER_* code of a sheet `width` by `height` points (1/72 inch) in
// either orientation, within a few points; 0 when no common size is close.
uint16_t PaperSizeFromPoints(double width, double height);

}  // namespace pagecnt
