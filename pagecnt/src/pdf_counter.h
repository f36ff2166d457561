// Page counting for PDF files.
#pragma once

#include <cstdint>

#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Counts the pages of the PDF document whose "%PDF-" header is at `header`
// and which ends at `end`, and finds the paper size of its first page.
// False when no page is found.
bool CountPdfPages(const FileView& file, uint64_t header, uint64_t end,
                   JobCount& result);

}  // namespace pagecnt
