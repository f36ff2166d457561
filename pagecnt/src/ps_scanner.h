// One pass over a PostScript program, noting what bears on its pages.
#pragma once

#include <cstdint>

#include "byte_source.h"

namespace pagecnt {

struct Size {
  bool known = false;
  double width = 0;
  double height = 0;
};

// What the document structuring comments and the program text say. Only
// the top level counts: a document embedded between %%BeginDocument and
// %%EndDocument has comments of its own.
struct PostScriptFacts {
  // %%Pages: the first line's value, and the last numeric one, which is
  // the trailer's when the first said (atend). -1 when there is none.
  int64_t first_pages = -1;
  int64_t last_pages = -1;
  uint64_t page_comments = 0;  // %%Page:
  uint64_t showpages = 0;      // showpage outside comments and strings
  // Top-level uses of showpage and of the procedures that end a page (see
  // ps_page_procedures.h), outside embedded documents.
  uint64_t procedure_pages = 0;
  Size document_media;         // the first medium of %%DocumentMedia:
  Size page_size;              // the first /PageSize [w h]
  Size first_bounding_box;     // %%BoundingBox:, as for %%Pages:
  Size last_bounding_box;
  Size first_page_bounding_box;  // the first %%PageBoundingBox:
  // The first copy count the program asks for: "/#copies n", "/NumCopies
  // n" (as in a setpagedevice dictionary) or "%%Requirements: numcopies(n)".
  // 0 when it asks for none.
  uint32_t copies = 0;
  uint64_t end = 0;  // where the scan stopped
};

// Scans from `start` to the end of the source, to a Universal Exit Language
// command, or to a ^D followed by "%!" (the start of the next job sent
// after the end-of-job character), whichever comes first. Linear in the
// bytes scanned, with constant memory.
//
// Three kinds of bytes in the file are passed over rather than read as
// program text, which is what makes the scan fast on jobs of images:
//
// Whole lines of hexadecimal digits and blanks (image data read with
// readhexstring, rows of numbers), where the program text is between
// words and no /PageSize or copy count waits for its numbers: no word the
// scan looks for is made of such bytes, so they say nothing.
//
// Data that %%BeginBinary or %%BeginData announces by its byte or line
// count is passed over unread.
//
// ASCII85 data that the program reads from its own file: after the words
// that make the interpreter read what follows as such data (see
// ps_data_start.h; Ghostscript's ps2write writes every image so) the bytes
// are only checked to be ASCII85 digits ('!' to 'u', 'z') or line ends,
// many at a time, up to the end marker "~>". This stays exact:
//  - Comment lines that begin "%%" are read there as anywhere else, so
//    %%Page:, %%Pages: and the rest count as before. A line that begins
//    with one '%' says nothing, in data or not.
//  - Program text cannot hide in it: no space, brace or control byte is a
//    digit, nor a letter from v to y, and showpage has a w.
//  - A byte that is no digit ends the data there, and the line holding it
//    is read again from its start as program text (all of the data, when
//    that is its first line). So a Universal Exit, a ^D, or a program that
//    follows data without its end marker is read as before; where the
//    words were misread as starting data, no more than whole lines made
//    only of digits, without a space, are passed over.
//  - %%Page:, %%Trailer and %%EOF end the data too: it does not run on
//    into the next page.
//  - Each byte is passed over at most twice: bytes read again after data
//    that ended early are not taken for data again.
// Unlike when the data was read as program text, a '(' in it no longer
// opens a string that hides the program after the data, and bytes in it
// that look like /PageSize or /#copies no longer count.
//
// Once a %%Page: comment is read, the page comments count the pages, and
// the words of the program no longer matter but for a page size or a
// copy count. From there on the program text is passed at memory speed,
// up to a comment line, an ESC or ^D, or a '/': /PageSize, /#copies and
// /NumCopies are read as program text up to their values, every other
// name is passed. This is what makes text-heavy jobs (groff, FOP) fast.
// Strings and one-'%' comments are followed only on the line of such a
// name: a name in a string or comment of its line is passed, as word by
// word it was; producers write no string over several lines.
PostScriptFacts ScanPostScript(ByteSource& source, uint64_t start);

}  // namespace pagecnt
