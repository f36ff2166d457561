// Choosing the page counter for a print file's page-description language.
#pragma once

#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Counts the pages of a print file in any language that has a counter.
// False when the language is not known or its counter finds no page.
bool CountPrintFile(const FileView& file, PageCount& result);

}  // namespace pagecnt
