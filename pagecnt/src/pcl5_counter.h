// Page counting for PCL 5 (5e and 5c) print data.
#pragma once

#include <cstdint>

#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Counts the pages of the PCL 5 data that starts at `start`, up to a
// Universal Exit Language command or the end of the file.
//
// A page is ejected, when something has been put on it, by a form feed, a
// reset (ESC E), a change of page size, orientation, paper source, duplex
// mode, page length or duplex side (ESC & l # A, O, H, S, P; ESC & a # G),
// and by the end of the data. An eject of a page that has nothing on it
// gives no page. Printable characters, raster rows, transparent data,
// filled rectangles and HP-GL/2 drawing put something on the page.
//
// Raster rows, fonts, characters, patterns, symbol sets and the other
// commands that carry binary data are skipped by the byte count in the
// command, never scanned. Macro definitions (ESC & f 0 X ... 1 X) eject
// nothing when defined; running a macro (ESC & f 2 X, 3 X) has the effect
// that its definition showed: marks, and the pages it ejects.
//
// The page size is the one in effect when the first page is ejected; the
// copy count (ESC & l # X) likewise, and is not multiplied into the pages.
// Lines of text that run past the bottom of a page without a form feed are
// not counted as further pages: that needs the printer's margins and
// line spacing.
//
// HP-GL/2's PG (advance page) ends a page only where a plotter or a
// large-format printer reads the data: on a LaserJet, HP-GL/2 shares the
// PCL page and PG does nothing. kPlotter is such a job (PJL names HP-GL/2
// or RTL, or the data starts as HP-GL/2, which is then read first); the
// stand-alone plotter mode (ESC % -1 B) and HP-GL/2's begin plot (BP)
// make any job one.
enum class Pcl5Context { kPrinter, kPlotter };
bool CountPcl5Pages(const FileView& file, uint64_t start, JobCount& result,
                    Pcl5Context context = Pcl5Context::kPrinter);

}  // namespace pagecnt
