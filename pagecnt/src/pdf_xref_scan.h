// Rebuilding the cross-reference table of a damaged PDF file.
#pragma once

#include <cstdint>

#include "byte_source.h"
#include "pdf_object.h"
#include "pdf_xref.h"

namespace pagecnt {

// Scans the source from `base` for "n g obj" headers and records each object
// at its offset from `base`; a later definition replaces an earlier one, as
// incremental updates do. `trailer` receives the last trailer dictionary
// that names a catalogue, if any.
void ScanForObjects(ByteSource& source, uint64_t base, XrefTable& table,
                    PdfObject& trailer);

}  // namespace pagecnt
