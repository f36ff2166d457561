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

// Data that %%BeginBinary or %%BeginData announces by its byte or line
// count is passed over unread.
//
// Scans from `start` to the end of the source, to a Universal Exit Language
// command, or to a ^D followed by "%!" (the start of the next job sent
// after the end-of-job character), whichever comes first. Linear in the
// bytes scanned, with constant memory.
PostScriptFacts ScanPostScript(ByteSource& source, uint64_t start);

}  // namespace pagecnt
