// Walking the page tree of a PDF document.
#pragma once

#include <functional>

#include "pdf_document.h"
#include "pdf_object.h"

namespace pagecnt {

// Called for each page in document order with the page dictionary and the
// MediaBox it has or inherits (null when none); returns false to stop.
using PageVisitor =
    std::function<bool(const PdfObject& page, const PdfObject& media_box)>;

// Visits the pages under `root` (the /Pages entry of the catalogue, a
// reference or a dictionary). Every node is visited at most once, so a
// tree that refers back to itself ends; nodes that cannot be read are
// passed over.
void WalkPageTree(PdfDocument& document, const PdfObject& root,
                  const PageVisitor& visit);

// The width and height in points of a MediaBox; false when it is not an
// array of four numbers.
bool MediaBoxSize(PdfDocument& document, const PdfObject& media_box,
                  double& width, double& height);

}  // namespace pagecnt
