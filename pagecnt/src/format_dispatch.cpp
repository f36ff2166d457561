#include "format_dispatch.h"

#include <algorithm>
#include <cstdint>

#include "byte_source.h"
#include "pcl5_counter.h"
#include "pclxl_counter.h"
#include "pdf_counter.h"
#include "pjl.h"
#include "ps_counter.h"
#include "text_counter.h"
#include "xps_counter.h"

namespace pagecnt {

namespace {

// Readers accept a PDF header anywhere in the first kilobyte.
constexpr uint64_t kPdfHeaderWindow = 1024;
// Every job costs at least its header; a file of more jobs than this is
// not a print job, and the rest of it is not counted.
constexpr int kMaxJobs = 1 << 16;

bool FindPdfHeader(ByteSource& source, const PrintData& data, uint64_t& header) {
  // PostScript may well quote a PDF header in its first kilobyte.
  if (source.Matches(data.start, "%!")) return false;
  uint64_t end = data.start + kPdfHeaderWindow;
  for (uint64_t position = data.start; position < end; ++position) {
    int c = source.At(position);
    if (c < 0) break;
    if (c == '%' && source.Matches(position, "%PDF-")) {
      header = position;
      return true;
    }
  }
  return false;
}

// Jobs after a document end in a PJL footer, whose Universal Exit lies in
// the file's last bytes. One small read of them, apart from the blocks
// the counters read.
constexpr size_t kFooterWindow = 4096;

bool HasUniversalExitNearEnd(const FileView& file, uint64_t header) {
  const uint64_t end = file.size();
  const uint64_t from = end > header + kFooterWindow ? end - kFooterWindow : header;
  char tail[kFooterWindow];
  const size_t got = file.Read(from, tail, static_cast<size_t>(end - from));
  static const char kExit[] = "\x1b%-12345X";
  return std::search(tail, tail + got, kExit, kExit + sizeof kExit - 1) != tail + got;
}

bool IsPcl5Start(ByteSource& source, const PrintData& data) {
  if (data.language == "PCL") return true;
  // Reset, or a parameterised command of one of the families drivers
  // begin with.
  int second = source.At(data.start + 1);
  return source.At(data.start) == 0x1B &&
         (second == 'E' || second == '&' || second == '*' || second == '(' ||
          second == ')' || second == '%' || second == '9');
}

// HP-GL/2 for a plotter or large-format printer: PJL names it, or the data
// begins with its own instructions (initialize, or begin plot).
bool IsHpGl2Start(ByteSource& source, const PrintData& data) {
  if (data.language == "HPGL2" || data.language == "HPGL" || data.language == "RTL") return true;
  return source.Matches(data.start, "IN;") || source.Matches(data.start, "BP;") ||
         source.Matches(data.start, "BPIN;");
}

// Counts the job whose print data starts at `data.start`; false when its
// language has no counter or it has no page. `job.end` is set either way.
bool CountJob(const FileView& file, ByteSource& source, const PrintData& data,
              bool first_job, JobCount& job) {
  uint64_t start = data.start;
  uint64_t header = 0;
  if (FindPdfHeader(source, data, header)) {
    job.format = Format::kPdf;
    // In a PJL job the document ends where the job does; alone, it is the
    // whole file, and its end is where its cross-references are found,
    // unless jobs behind a Universal Exit follow it. Its tail tells, so
    // that a lone document is not read through for one.
    job.end = data.pjl || HasUniversalExitNearEnd(file, header)
                  ? FindUniversalExit(source, header)
                  : file.size();
    return CountPdfPages(file, header, job.end, job);
  }
  if (source.Matches(start, "%!") || data.language == "POSTSCRIPT") {
    job.format = Format::kPostScript;
    return CountPostScriptPages(file, start, job);
  }
  if (IsPclXlHeader(source, start)) {
    job.format = Format::kPclXl;
    return CountPclXlPages(file, start, job);
  }
  if (IsXpsPackage(source, start)) {
    job.format = Format::kXps;
    job.end = file.size();
    return CountXpsPages(file, start, job);
  }
  if (IsHpGl2Start(source, data)) {
    job.format = Format::kHpGl2;
    return CountPcl5Pages(file, start, job, Pcl5Context::kPlotter);
  }
  if (IsPcl5Start(source, data)) {
    job.format = Format::kPcl5;
    return CountPcl5Pages(file, start, job, Pcl5Context::kPrinter);
  }
  // Text has no signature: only a file that is text from its start and
  // to its end is, not the bytes that trail a job of another language,
  // and not a job behind PJL, which names the language a printer reads.
  if (first_job && !data.pjl && LooksLikeText(source, start)) {
    job.format = Format::kText;
    if (CountTextPages(file, start, job)) return true;
    // Bytes that are no text further on: the file is no text, and where
    // another job would start in it cannot be told.
    job.end = file.size();
    return false;
  }
  job.end = FindUniversalExit(source, start + 1);
  return false;
}

}  // namespace

const char* FormatName(Format format) {
  switch (format) {
    case Format::kPdf: return "PDF";
    case Format::kPostScript: return "PostScript";
    case Format::kPcl5: return "PCL 5";
    case Format::kPclXl: return "PCL XL";
    case Format::kText: return "text";
    case Format::kXps: return "XPS";
    case Format::kHpGl2: return "HP-GL/2";
    case Format::kUnknown: break;
  }
  return "unknown";
}

bool CountPrintFile(const FileView& file, PageCount& result) {
  ByteSource source(file, 0, file.size());
  uint64_t pages = 0;
  uint64_t position = 0;
  for (int jobs = 0; jobs < kMaxJobs && position < file.size(); ++jobs) {
    PrintData data = SkipJobHeader(source, position);
    if (data.start >= file.size()) break;
    JobCount job;
    bool counted = CountJob(file, source, data, jobs == 0, job);
    // Every job moves on by one byte at least, so that the loop ends.
    position = std::max(job.end, data.start + 1);
    if (!counted || job.pages == 0) continue;
    if (result.jobs++ == 0) {
      result.format = job.format;
    } else if (job.format != result.format) {
      result.mixed = true;
    }
    pages += job.pages;
    // Paper and copies that the print data states come before PJL's.
    if (result.paper_size == 0) result.paper_size = job.paper_size ? job.paper_size : data.paper;
    uint32_t copies = job.copies ? job.copies : data.copies;
    if (result.copies == 0) result.copies = copies;
  }
  result.pages = static_cast<uint32_t>(std::min<uint64_t>(pages, UINT32_MAX));
  return result.pages > 0;
}

}  // namespace pagecnt
