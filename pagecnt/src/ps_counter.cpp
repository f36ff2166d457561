#include "ps_counter.h"

#include <algorithm>

#include "byte_source.h"
#include "paper_sizes.h"
#include "ps_scanner.h"

namespace pagecnt {

namespace {

uint64_t PageCountOf(const PostScriptFacts& facts) {
  // The page sections that are there come first, whatever %%Pages: says
  // (a producer that copies pages into one document may leave the first
  // one's %%Pages: 1 in place); then what the document says of itself;
  // the operators only show what the program text holds, not how often a
  // loop runs them.
  if (facts.page_comments > 0) return facts.page_comments;
  if (facts.first_pages > 0) return static_cast<uint64_t>(facts.first_pages);
  if (facts.last_pages > 0) return static_cast<uint64_t>(facts.last_pages);
  if (facts.procedure_pages > 0) return facts.procedure_pages;
  return facts.showpages;
}

uint16_t PaperSizeOf(const PostScriptFacts& facts) {
  // The bounding boxes are where the marks are, so they come last: they
  // name a paper only when the marks fill one. The first page's box comes
  // before the document's, which spans every page, and is only taken when
  // it does name one.
  if (!facts.document_media.known && !facts.page_size.known &&
      facts.first_page_bounding_box.known) {
    const Size& box = facts.first_page_bounding_box;
    if (uint16_t paper = PaperSizeFromPoints(box.width, box.height)) return paper;
  }
  const Size bounding_box = facts.first_bounding_box.known
                                ? facts.first_bounding_box
                                : facts.last_bounding_box;
  for (const Size& size :
       {facts.document_media, facts.page_size, bounding_box}) {
    if (size.known) return PaperSizeFromPoints(size.width, size.height);
  }
  return 0;
}

}  // namespace

bool CountPostScriptPages(const FileView& file, uint64_t start,
                          JobCount& result) {
  ByteSource source(file, start, file.size(), ByteSource::kStreamingBlock);
  PostScriptFacts facts = ScanPostScript(source, start);
  result.end = facts.end;
  uint64_t pages = PageCountOf(facts);
  if (pages == 0) return false;
  result.pages = pages;
  result.paper_size = PaperSizeOf(facts);
  result.copies = facts.copies;
  return true;
}

}  // namespace pagecnt
