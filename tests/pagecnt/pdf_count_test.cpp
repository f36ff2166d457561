// Counting well-formed PDF files of the kinds producers write.
#include "page_counter_fixture.h"
#include "pdf_writer.h"

namespace {

class PdfCountTest : public PageCounterTest {};

TEST_F(PdfCountTest, CountsAFlatPageTree) {
  for (int pages : {1, 7, 120}) {
    CountOutcome outcome = Count(SimplePdf(pages));
    EXPECT_EQ(outcome.returned, 1) << pages;
    EXPECT_EQ(outcome.pages, static_cast<uint32_t>(pages));
    EXPECT_EQ(outcome.paper, DMPAPER_LETTER);
  }
}

TEST_F(PdfCountTest, NestedTreeWithMediaBoxInheritedFromInnerNode) {
  // Root -> two inner nodes -> 2 + 3 pages; only the first inner node
  // carries the A4 MediaBox that its pages inherit.
  PdfRevision revision;
  revision.objects = {
      {1, "<< /Type /Catalog /Pages 2 0 R >>"},
      {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 5 >>"},
      {3, "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 "
          "/MediaBox [0 0 595.28 841.89] >>"},
      {4, "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R 8 0 R 9 0 R] /Count 3 >>"},
  };
  for (int page = 5; page <= 9; ++page) {
    revision.objects.push_back({page, "<< /Type /Page /Parent 2 0 R >>"});
  }
  std::string pdf;
  AppendRevision(pdf, revision);
  CountOutcome outcome = Count(pdf);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 5u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4);
}

TEST_F(PdfCountTest, IncrementalUpdateThatAddsPagesCounts) {
  // The update's section may be a table or a stream after a table.
  for (bool xref_stream : {false, true}) {
    std::string pdf = SimplePdf(2);
    PdfRevision update;
    update.objects = {
        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 "
            "/MediaBox [0 0 612 792] >>"},
        {5, "<< /Type /Page /Parent 2 0 R >>"},
        {6, "<< /Type /Page /Parent 2 0 R >>"},
    };
    update.xref_stream = xref_stream;
    AppendRevision(pdf, update);
    EXPECT_EQ(Count(pdf).pages, 4u) << xref_stream;
  }
}

TEST_F(PdfCountTest, HybridFileFindsCompressedObjectsThroughXRefStm) {
  PdfRevision revision;
  revision.compressed = FlatPageTree(3, "/MediaBox [0 0 595 842]");
  revision.object_stream = 9;
  revision.hybrid = true;
  std::string pdf;
  AppendRevision(pdf, revision);
  CountOutcome outcome = Count(pdf);
  EXPECT_EQ(outcome.pages, 3u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4);
}

TEST_F(PdfCountTest, XrefStreamsAndObjectStreams) {
  // Everything but the pages' dictionaries is compressed, with an update
  // in a second cross-reference stream that adds a page.
  PdfRevision first;
  first.compressed = FlatPageTree(3, "/MediaBox [0 0 842 1191]");
  first.objects = {first.compressed.back()};
  first.compressed.pop_back();
  first.object_stream = 10;
  first.xref_stream = true;
  std::string pdf;
  AppendRevision(pdf, first);
  CountOutcome outcome = Count(pdf);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 3u);
  EXPECT_EQ(outcome.paper, DMPAPER_A3);

  PdfRevision update;
  update.compressed = {
      {2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 12 0 R] /Count 4 "
          "/MediaBox [0 0 842 1191] >>"},
      {12, "<< /Type /Page /Parent 2 0 R >>"}};
  update.object_stream = 13;
  update.xref_stream = true;
  AppendRevision(pdf, update);
  EXPECT_EQ(Count(pdf).pages, 4u);
}

TEST_F(PdfCountTest, PaperSizeOfTheFirstPageInEitherOrientation) {
  struct Case {
    const char* media_box;
    uint16_t paper;
  };
  const Case cases[] = {
      {"[0 0 595 842]", DMPAPER_A4},       {"[0 0 842 595]", DMPAPER_A4},
      {"[0 0 612 792]", DMPAPER_LETTER},   {"[0 0 792 612]", DMPAPER_LETTER},
      {"[0 0 612 1008]", DMPAPER_LEGAL},   {"[0 0 419.5 595.3]", DMPAPER_A5},
      {"[0 0 842 1191]", DMPAPER_A3},      {"[0 0 792 1224]", DMPAPER_TABLOID},
      {"[0 0 522 756]", DMPAPER_EXECUTIVE}, {"[0 0 729 1032]", DMPAPER_B4},
      {"[0 0 516 729]", DMPAPER_B5},       {"[0 0 500 500]", 0},
      // Not at the origin, corners swapped, and off by two points.
      {"[18 18 630 810]", DMPAPER_LETTER}, {"[595 842 0 0]", DMPAPER_A4},
      {"[0 0 597 840]", DMPAPER_A4},
  };
  for (const Case& c : cases) {
    std::string pdf;
    PdfRevision revision;
    revision.objects = FlatPageTree(2, "");
    // The first page's own box decides over the root's.
    revision.objects[1].body.insert(revision.objects[1].body.size() - 2,
                                    "/MediaBox [0 0 100 100] ");
    revision.objects[2].body = std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") +
                               c.media_box + " >>";
    AppendRevision(pdf, revision);
    CountOutcome outcome = Count(pdf);
    EXPECT_EQ(outcome.pages, 2u) << c.media_box;
    EXPECT_EQ(outcome.paper, c.paper) << c.media_box;
  }
}

TEST_F(PdfCountTest, PjlWrappedPdfWithOffsetsFromItsHeader) {
  std::string job = "\x1b%-12345X@PJL JOB NAME=\"report\"\r\n"
                    "@PJL ENTER LANGUAGE=PDF\r\n" +
                    SimplePdf(3) + "\x1b%-12345X@PJL EOJ\r\n\x1b%-12345X";
  CountOutcome outcome = Count(job);
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 3u);
  EXPECT_EQ(outcome.paper, DMPAPER_LETTER);
}

}  // namespace
