// Page counting for XPS documents, as the XPS print path spools them.
#pragma once

#include <cstdint>

#include "byte_source.h"
#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Counts the pages of the XPS package (a ZIP archive) that starts at
// `start` and ends at the end of the file. The pages are what the package
// says it prints: the package relationship names the fixed document
// sequence, which names its fixed documents, whose PageContent elements
// are the pages; nothing is guessed from part names. The paper size is the
// Width and Height (1/96 inch) of the first FixedPage. Both XPS and OpenXPS
// packages are read; parts may be stored, deflated, or interleaved pieces.
//
// The package must be complete: a spool file still being written has no
// central directory yet and gives no count. Copies in the print ticket are
// not read.
bool CountXpsPages(const FileView& file, uint64_t start, JobCount& result);

// True when a ZIP local header starts at `position`.
bool IsXpsPackage(ByteSource& source, uint64_t position);

}  // namespace pagecnt
