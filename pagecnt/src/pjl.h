// The PJL job envelope that drivers put around print data.
#pragma once

#include <cstdint>
#include <string>

#include "byte_source.h"

namespace pagecnt {

struct PrintData {
  uint64_t start = 0;    // first byte after the job header
  std::string language;  // from @PJL ENTER LANGUAGE, upper case; may be empty
  uint32_t copies = 0;   // from @PJL SET COPIES or QTY; 0 when not set
  uint16_t paper = 0;    // DMPAPER_* code from @PJL SET PAPER, or PAPERLENGTH
                         // and PAPERWIDTH; 0 when not set or not known
  bool pjl = false;      // a Universal Exit or a PJL command came first
};

// Skips what may precede the print data from `position` on: ^D (end of a
// previous job), the Universal Exit Language command, PJL command lines
// and blank lines.
//
// PJL lines are read as tolerantly as printers read them: "@PJL" in any
// case, also behind "%%" (as filters write them into PostScript), words
// in any case, blanks around "=", and lines that end in LF or CR LF. The
// print data starts on the line after ENTER LANGUAGE. SET COPIES or QTY,
// and SET PAPER or PAPERLENGTH with PAPERWIDTH (decipoints), are taken;
// a printer takes the last of each before the data, and so do we.
PrintData SkipJobHeader(ByteSource& source, uint64_t position);

// The position of the first Universal Exit Language command at or after
// `position`, or the end of the source when there is none.
uint64_t FindUniversalExit(ByteSource& source, uint64_t position);

// True when a Universal Exit Language command, which ends the print data
// of a PJL job, starts at `position`.
bool IsUniversalExit(ByteSource& source, uint64_t position);

}  // namespace pagecnt
