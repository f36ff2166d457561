#include "pdf_counter.h"

#include <cstdint>

#include "paper_sizes.h"
#include "pdf_document.h"
#include "pdf_page_tree.h"

namespace pagecnt {

namespace {

// A /Parent chain longer than this is a loop.
constexpr int kMaxParentChain = 64;

struct PageTally {
  uint32_t pages = 0;
  PdfObject first_media_box;
};

// Pages as the catalogue's page tree gives them: its /Count when that is
// believable, otherwise the pages found by walking the tree.
PageTally CountFromPageTree(PdfDocument& document) {
  PageTally tally;
  PdfObject catalog = document.Resolve(document.trailer().Get("Root"));
  const PdfObject& root = catalog.Get("Pages");
  PdfObject pages = document.Resolve(root);
  if (!pages.IsDictionary()) return tally;
  PdfObject count = document.Resolve(pages.Get("Count"));
  // Every page is an object of its own, so a /Count above the number of
  // objects is damage or a lie.
  uint32_t declared = 0;
  if (count.IsInteger() && count.integer > 0 &&
      static_cast<uint64_t>(count.integer) <= document.xref().live_objects()) {
    declared = static_cast<uint32_t>(count.integer);
  }
  uint32_t found = 0;
  WalkPageTree(document, root,
               [&](const PdfObject&, const PdfObject& media_box) {
                 if (found++ == 0) tally.first_media_box = media_box;
                 return declared == 0;
               });
  tally.pages = declared ? declared : found;
  return tally;
}

// The MediaBox of a page found outside the tree: its own, or one up its
// /Parent chain.
PdfObject InheritedMediaBox(PdfDocument& document, const PdfObject& page) {
  PdfObject node = page;
  for (int step = 0; step < kMaxParentChain && node.IsDictionary(); ++step) {
    if (!node.Get("MediaBox").IsNull()) {
      return document.Resolve(node.Get("MediaBox"));
    }
    node = document.Resolve(node.Get("Parent"));
  }
  return PdfObject();
}

// Pages as the objects of type /Page that the table lists, for documents
// whose tree cannot be read.
PageTally CountPageObjects(PdfDocument& document) {
  PageTally tally;
  uint32_t end_number = document.xref().end_number();
  for (uint32_t number = 1; number < end_number; ++number) {
    PdfObject object = document.Load(number);
    if (!object.Get("Type").IsName("Page")) continue;
    if (tally.pages++ == 0) {
      tally.first_media_box = InheritedMediaBox(document, object);
    }
  }
  return tally;
}

}  // namespace

bool CountPdfPages(const FileView& file, uint64_t header, uint64_t end,
                   JobCount& result) {
  PdfDocument document(file, header, end);
  if (!document.ReadXref()) document.RebuildXref();
  // A document that needs a password no printer has is not counted.
  if (!document.OpenSecurity()) return false;
  PageTally tally = CountFromPageTree(document);
  // Sections that read well may still point at the wrong bytes.
  if (tally.pages == 0 && !document.rebuilt()) {
    document.RebuildXref();
    if (!document.OpenSecurity()) return false;
    tally = CountFromPageTree(document);
  }
  if (tally.pages == 0) tally = CountPageObjects(document);
  if (tally.pages == 0) return false;
  result.pages = tally.pages;
  double width = 0;
  double height = 0;
  if (MediaBoxSize(document, tally.first_media_box, width, height)) {
    result.paper_size = PaperSizeFromPoints(width, height);
  }
  return true;
}

}  // namespace pagecnt
