// How far PostScript program text runs without a byte that the scan must
// look at once page comments count the pages, at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagecnt {

// The length of the run from `data` on, up to the first '/' followed by
// 'P', '#' or 'N' (a name that may be /PageSize, /#copies or /NumCopies),
// or that ends `data`; ESC or ^D (which may end the job); or '%' that
// starts a line: after CR or LF, or at `data` itself when `line_start`.
// Every other byte is passed, line ends included.
size_t ProgramTextRun(const uint8_t* data, size_t length, bool line_start);

}  // namespace pagecnt
