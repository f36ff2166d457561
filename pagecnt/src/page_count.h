// What the format counters find out about a print file.
#pragma once

#include <cstdint>

namespace pagecnt {

// The page-description languages that have a counter, recognised from the
// content of the print data, never from the file name.
enum class Format : uint8_t {
  kUnknown,
  kPdf,
  kPostScript,
  kPcl5,
  kPclXl,
  kText,
  kXps,
  kHpGl2,  // HP-GL/2 as plotters and large-format printers take it
};

// A short name for `format`: "PDF", "PostScript", "PCL 5", ...
const char* FormatName(Format format);

// One job of a print file: the print data of one language between a PJL
// header (or the start of the file) and the end of its data.
struct JobCount {
  Format format = Format::kUnknown;
  uint64_t pages = 0;
  uint16_t paper_size = 0;  // DMPAPER_* code of the first page, 0 when not known
  // The copies the print data itself asks for; 0 when it asks for none.
  uint32_t copies = 0;
  uint64_t end = 0;  // first byte after the job's print data
};

// The whole file. Pages are the sum over its jobs and are never multiplied
// by `copies`: the spooler's copies of a job already include the copies a
// driver wrote into the print data, and the service multiplies by those.
struct PageCount {
  uint32_t pages = 0;
  uint16_t paper_size = 0;  // of the first job that names one
  uint32_t copies = 0;      // of the first job that asks for some; 0 = none
  Format format = Format::kUnknown;  // of the first job with pages
  bool mixed = false;  // jobs of more than one language
  uint32_t jobs = 0;   // jobs with pages
};

}  // namespace pagecnt
