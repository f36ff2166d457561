// Page counting for PCL XL (PCL 6) print data.
#pragma once

#include <cstdint>

#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Counts the pages of the PCL XL stream whose header (") HP-PCL XL;..."
// for low byte first, "( HP-PCL XL;..." for high byte first) starts at
// `start`, up to a Universal Exit Language command or the end of the file.
//
// The stream is read token by token: data values of every type with their
// sizes, attribute ids, operators, and embedded data, which is skipped by
// its length and never looked into. A page is an EndPage operator; a page
// that is begun and never ended is not printed. The paper size is the
// MediaSize (an enumeration or a name) or CustomMediaSize of the first
// page's BeginPage; the copy count is the PageCopies of its EndPage, and is
// not multiplied into the pages. A byte that is no token ends the stream,
// as it ends the job in a printer; what follows counts from the next
// Universal Exit Language command on.
bool CountPclXlPages(const FileView& file, uint64_t start, JobCount& result);

// True when a PCL XL stream header in binary binding starts at `position`.
bool IsPclXlHeader(class ByteSource& source, uint64_t position);

}  // namespace pagecnt
