// Paper size codes for page dimensions.
#pragma once

#include <cstdint>

namespace pagecnt {

// The DMPAPER_* code of a sheet `width` by `height` points (1/72 inch) in
// either orientation, within a few points; 0 when no common size is close.
uint16_t PaperSizeFromPoints(double width, double height);

// The DMPAPER_* code of a PCL 5 page size code (ESC & l # A); 0 for custom
// and unknown codes.
uint16_t PaperSizeFromPcl5(int64_t code);

// The DMPAPER_* code of a PCL XL MediaSize enumeration value, or of its
// name ("LETTER", "A4", ...; any case); 0 when not known.
uint16_t PaperSizeFromPclXl(int64_t media_size);
uint16_t PaperSizeFromPclXlName(const char* name);

// The DMPAPER_* code of a PJL PAPER value, upper case ("A4", "LETTER",
// "JISB5", ...); 0 when not known.
uint16_t PaperSizeFromPjlName(const char* name);

}  // namespace pagecnt
