// Page counting for plain text.
#pragma once

#include <cstdint>

#include "byte_source.h"
#include "file_view.h"
#include "page_count.h"

namespace pagecnt {

// Lines on a page of text without form feeds: 6 lines an inch on Letter
// or A4 with half-inch margins, as line printers and the text modes of
// laser printers lay it out.
constexpr uint64_t kTextLinesPerPage = 60;

// Counts the pages of the plain text that starts at `start`, up to the
// end of the file; false, with no pages, when a byte that is no text
// (an ESC, as of a Universal Exit Language command, or binary data)
// comes before it.
//
// When the text holds a form feed, the form feeds separate its pages, as
// the program that paginated it meant, and a page without a printable
// character (only blanks and line ends before the form feed) gives no
// page. When it holds none, a page is kTextLinesPerPage lines, of which
// the last page with a printable character is the last page counted.
// Long lines are not folded: whether they wrap or are cut is the
// printer's setting. Text names no paper size and no copies.
bool CountTextPages(const FileView& file, uint64_t start, JobCount& result);

// True when the bytes from `start` look like text: printable characters
// (any byte from 0x20 up, so that ANSI code pages and UTF-8 pass), tabs,
// line ends, form feeds, backspaces, and at least one printable one; and
// no line among the first few kilobytes begins as PostScript, PDF or PJL
// do (a file of a language is never counted as text).
//
// Counting text is the last resort, and never a guess: CountTextPages too
// gives up (0 pages) at the first byte that is no text, an ESC included.

bool LooksLikeText(ByteSource& source, uint64_t start);

}  // namespace pagecnt
