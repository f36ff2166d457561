// PDF files that are damaged or built to trap a reader.
#include "page_counter_fixture.h"  // windows.h, which psapi.h needs first

#include <psapi.h>
#include <zlib.h>

#include "pdf_writer.h"

namespace {

class PdfDamageTest : public PageCounterTest {};

std::string ReplaceFirst(std::string text, const std::string& from,
                         const std::string& to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST_F(PdfDamageTest, WrongOffsetsAreRepairedByScanningForObjects) {
  // Bytes inserted after the header shift every object away from its
  // offset; a startxref past the end of the file points nowhere.
  std::string shifted = ReplaceFirst(SimplePdf(4), "%PDF-1.7\n",
                                     "%PDF-1.7\n% " + std::string(300, '-') + "\n");
  std::string outside = SimplePdf(4);
  outside = ReplaceFirst(outside, "startxref\n", "startxref\n99999999");
  for (const std::string& pdf : {shifted, outside}) {
    CountOutcome outcome = Count(pdf);
    EXPECT_EQ(outcome.returned, 1);
    EXPECT_EQ(outcome.pages, 4u);
    EXPECT_EQ(outcome.paper, DMPAPER_LETTER);
  }
}

TEST_F(PdfDamageTest, UnbelievableCountFallsBackToWalkingTheTree) {
  for (const char* count : {"/Count 4000000000", "/Count -3", "/Count 2 0 R"}) {
    PdfRevision revision;
    revision.objects = FlatPageTree(3, "");
    revision.objects[1].body = ReplaceFirst(revision.objects[1].body, "/Count 3", count);
    std::string pdf;
    AppendRevision(pdf, revision);
    EXPECT_EQ(Count(pdf).pages, 3u) << count;
  }
}

TEST_F(PdfDamageTest, PageTreeThatRefersBackToItselfEnds) {
  // Page 3's Kids leads back to the root; with and without a /Count.
  for (const char* count : {"/Count 2", ""}) {
    PdfRevision revision;
    revision.objects = {
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, std::string("<< /Type /Pages /Kids [3 0 R 4 0 R 2 0 R] ") + count +
                " /MediaBox [0 0 612 792] >>"},
        {3, "<< /Type /Pages /Parent 2 0 R /Kids [2 0 R 3 0 R 5 0 R] >>"},
        {4, "<< /Type /Page /Parent 2 0 R >>"},
        {5, "<< /Type /Page /Parent 3 0 R >>"},
    };
    std::string pdf;
    AppendRevision(pdf, revision);
    CountOutcome outcome = Count(pdf);
    EXPECT_EQ(outcome.returned, 1) << count;
    EXPECT_EQ(outcome.pages, 2u) << count;
    EXPECT_EQ(outcome.paper, DMPAPER_LETTER) << count;
  }
}

TEST_F(PdfDamageTest, LostCatalogueFallsBackToCountingPageObjects) {
  std::string pdf = ReplaceFirst(SimplePdf(5), "/Root 1 0 R", "/Root 77 0 R");
  CountOutcome outcome = Count(pdf);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 5u);  // the /Pages node is no page
  EXPECT_EQ(outcome.paper, DMPAPER_LETTER);
}

TEST_F(PdfDamageTest, TruncatedFileGivesZeroOrNoMorePagesThanItHas) {
  std::string pdf = SimplePdf(6);
  for (size_t length = 0; length < pdf.size(); length += 7) {
    CountOutcome outcome = Count(pdf.substr(0, length));
    EXPECT_LE(outcome.pages, 6u) << length;
    EXPECT_EQ(outcome.returned != 0, outcome.pages != 0) << length;
  }
}

// An object stream whose page tree comes first and is followed by zeros
// that inflate to a gigabyte: every flushed megabyte deflates alike, so
// the bomb is a repeated kilobyte.
std::string DeflateBomb(const std::string& head, int megabytes) {
  z_stream stream = {};
  deflateInit(&stream, Z_BEST_COMPRESSION);
  auto deflate_flushed = [&stream](const std::string& in) {
    std::string out(in.size() + 4096, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FULL_FLUSH);
    out.resize(out.size() - stream.avail_out);
    return out;
  };
  std::string bomb = deflate_flushed(head);
  std::string zeros = deflate_flushed(std::string(1 << 20, '\0'));
  deflateEnd(&stream);
  for (int i = 0; i < megabytes; ++i) bomb += zeros;
  return bomb;
}

TEST_F(PdfDamageTest, DeflateBombIsCutOff) {
  std::string catalog = "<< /Type /Catalog /Pages 2 0 R >> ";
  std::string pairs = "1 0 2 " + std::to_string(catalog.size()) + " ";
  std::string data = DeflateBomb(
      pairs + catalog +
          "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 595 842] >>\n",
      1024);
  std::string pdf = "%PDF-1.7\n";
  size_t stream_offset = pdf.size();
  pdf += "5 0 obj\n<< /Type /ObjStm /N 2 /First " + std::to_string(pairs.size()) +
         " /Filter /FlateDecode /Length " + std::to_string(data.size()) +
         " >>\nstream\n" + data + "\nendstream\nendobj\n";
  size_t page3 = pdf.size();
  pdf += "3 0 obj << /Type /Page /Parent 2 0 R >> endobj\n";
  size_t page4 = pdf.size();
  pdf += "4 0 obj << /Type /Page /Parent 2 0 R >> endobj\n";
  std::string entries;
  auto entry = [&entries](int type, size_t field2, int field3) {
    entries += static_cast<char>(type);
    for (int shift = 24; shift >= 0; shift -= 8) entries += static_cast<char>(field2 >> shift);
    entries += static_cast<char>(field3 >> 8);
    entries += static_cast<char>(field3);
  };
  size_t xref = pdf.size();
  entry(2, 5, 0);
  entry(2, 5, 1);
  entry(1, page3, 0);
  entry(1, page4, 0);
  entry(1, stream_offset, 0);
  entry(1, xref, 0);
  std::string packed = Deflate(entries);
  pdf += "6 0 obj\n<< /Type /XRef /Size 7 /Index [1 6] /W [1 4 2] /Root 1 0 R "
         "/Filter /FlateDecode /Length " + std::to_string(packed.size()) +
         " >>\nstream\n" + packed + "\nendstream\nendobj\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  std::string path = WriteFile("bomb.pdf", pdf);

  PROCESS_MEMORY_COUNTERS before = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
  CountOutcome outcome = CountFile(path);
  PROCESS_MEMORY_COUNTERS after = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 2u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4);
  EXPECT_LT(after.PeakWorkingSetSize - before.PeakWorkingSetSize, 400u << 20);
}

}  // namespace
