// Page counting for PostScript files.
#pragma once

#include <cstdint>

#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Counts the pages of the PostScript program that starts at `start`, and
// finds its paper size when the program states one clearly. False when no
// page is found.
bool CountPostScriptPages(const FileView& file, uint64_t start,
                          JobCount& result);

}  // namespace pagecnt
