// Choosing the page counter for each job of a print file.
#pragma once

#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Counts the pages of a print file: job after job, each in the language
// that its PJL header names or that its first bytes show, until the end of
// the file. Data in a language without a counter is passed over up to the
// next Universal Exit Language command. False when no job has a page.
bool CountPrintFile(const FileView& file, PageCount& result);

}  // namespace pagecnt
