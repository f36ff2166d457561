#include "format_dispatch.h"

#include <cstdint>

#include "byte_source.h"
#include "pdf_counter.h"
#include "pjl.h"
#include "ps_counter.h"

namespace pagecnt {

namespace {

// Readers accept a PDF header anywhere in the first kilobyte.
constexpr uint64_t kPdfHeaderWindow = 1024;

bool RecognizePdf(ByteSource& source, const PrintData& data, uint64_t& start) {
  // PostScript may well quote a PDF header in its first kilobyte.
  if (source.Matches(data.start, "%!")) return false;
  uint64_t end = data.start + kPdfHeaderWindow;
  for (uint64_t position = data.start; position < end; ++position) {
    int c = source.At(position);
    if (c < 0) break;
    if (c == '%' && source.Matches(position, "%PDF-")) {
      start = position;
      return true;
    }
  }
  return false;
}

bool RecognizePostScript(ByteSource& source, const PrintData& data,
                         uint64_t& start) {
  start = data.start;
  return source.Matches(data.start, "%!") || data.language == "POSTSCRIPT";
}

// A language is recognised from the first bytes of the print data and the
// PJL header; its counter then reads the file from `start` on.
struct FormatCounter {
  bool (*recognize)(ByteSource& source, const PrintData& data, uint64_t& start);
  bool (*count)(const FileView& file, uint64_t start, PageCount& result);
};

constexpr FormatCounter kCounters[] = {
    {RecognizePdf, CountPdfPages},
    {RecognizePostScript, CountPostScriptPages},
};

}  // namespace

bool CountPrintFile(const FileView& file, PageCount& result) {
  ByteSource source(file, 0, file.size());
  PrintData data = SkipJobHeader(source);
  for (const FormatCounter& counter : kCounters) {
    uint64_t start = 0;
    if (counter.recognize(source, data, start)) {
      return counter.count(file, start, result);
    }
  }
  return false;
}

}  // namespace pagecnt
