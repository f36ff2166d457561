// Counting XPS packages: parts stored, deflated or in pieces.
#include "page_counter_fixture.h"
#include "zip_writer.h"

namespace {

class XpsCountTest : public PageCounterTest {};

const char kXpsNamespace[] = "http://schemas.microsoft.com/xps/2005/06";
const char kOpenXpsNamespace[] = "http://schemas.openxps.org/oxps/v1.0";

std::string Relationships(const std::string& type_base, const std::string& target) {
  return "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/"
         "package/2006/relationships\"><Relationship Id=\"R1\" Type=\"http://schemas."
         "openxmlformats.org/package/2006/relationships/metadata/thumbnail\" "
         "Target=\"/thumb.png\"/><Relationship Id=\"R2\" Type=\"" +
         type_base + "/fixedrepresentation\" Target=\"" + target + "\"/></Relationships>";
}

std::string FixedDocument(const char* ns, int pages) {
  std::string xml = std::string("<FixedDocument xmlns=\"") + ns + "\">";
  for (int i = 1; i <= pages; ++i) {
    xml += "<!-- <PageContent Source=\"none\"/> -->";
    xml += "<PageContent Source=\"Pages/" + std::to_string(i) + ".fpage\"><PageContent.LinkTargets/>"
           "</PageContent>";
  }
  return xml + "</FixedDocument>";
}

std::string FixedPage(const char* ns, int width, int height) {
  return std::string("<FixedPage xmlns=\"") + ns + "\" Width=\"" + std::to_string(width) +
         "\" Height=\"" + std::to_string(height) + "\" xml:lang=\"en\"><Path Data=\"M 0,0 L 9,9\"/>"
         "</FixedPage>";
}

TEST_F(XpsCountTest, DocumentsOfTheSequenceArePagesAndFirstPageGivesThePaper) {
  std::string sequence = std::string("<FixedDocumentSequence xmlns=\"") + kXpsNamespace +
                         "\"><DocumentReference Source=\"Documents/1/FixedDocument.fdoc\"/>"
                         "<DocumentReference Source=\"/Documents/2/FixedDocument.fdoc\"/>"
                         "</FixedDocumentSequence>";
  std::string first = FixedDocument(kXpsNamespace, 3);
  std::vector<ZipItem> items = {
      {"[Content_Types].xml", "<Types/>", true},
      {"_rels/.rels", Relationships("http://schemas.microsoft.com/xps/2005/06", "/FixedDocSeq.fdseq"), true},
      {"FixedDocSeq.fdseq", sequence, true},
      // The first document in interleaved pieces.
      {"Documents/1/FixedDocument.fdoc/[0].piece", first.substr(0, 70), true},
      {"Documents/1/FixedDocument.fdoc/[1].piece", first.substr(70, 90), false},
      {"Documents/1/FixedDocument.fdoc/[2].last.piece", first.substr(160), true},
      {"Documents/1/Pages/1.fpage", FixedPage(kXpsNamespace, 816, 1056), true},
      {"Documents/2/FixedDocument.fdoc", FixedDocument(kXpsNamespace, 2), false},
      // Parts that look like pages but that no document names.
      {"Documents/3/Pages/1.fpage", FixedPage(kXpsNamespace, 816, 1056), false},
  };
  CountOutcome outcome = Count(ZipArchiveOf(items));
  EXPECT_EQ(outcome.returned, 1);
  EXPECT_EQ(outcome.pages, 5u);
  EXPECT_EQ(outcome.paper, DMPAPER_LETTER);
  EXPECT_EQ(ExamineBytes(ZipArchiveOf(items)).format, pagecnt::Format::kXps);
}

TEST_F(XpsCountTest, OpenXpsPackagesCount) {
  std::vector<ZipItem> items = {
      {"_rels/.rels", Relationships(kOpenXpsNamespace, "/FixedDocumentSequence.fdseq"), true},
      {"FixedDocumentSequence.fdseq",
       std::string("<FixedDocumentSequence xmlns=\"") + kOpenXpsNamespace +
           "\"><DocumentReference Source=\"Documents/1/FixedDocument.fdoc\"/></FixedDocumentSequence>",
       true},
      {"Documents/1/FixedDocument.fdoc", FixedDocument(kOpenXpsNamespace, 4), true},
      {"Documents/1/Pages/1.fpage", FixedPage(kOpenXpsNamespace, 794, 1123), true},
  };
  CountOutcome outcome = Count(ZipArchiveOf(items));
  EXPECT_EQ(outcome.pages, 4u);
  EXPECT_EQ(outcome.paper, DMPAPER_A4);
}

TEST_F(XpsCountTest, ZipArchivesThatAreNoXpsPackageGiveZero) {
  EXPECT_EQ(Count(ZipArchiveOf({{"readme.txt", "text", true},
                                {"Documents/1/Pages/1.fpage", FixedPage(kXpsNamespace, 816, 1056), false}}))
                .returned,
            0);
  // A package whose end (the central directory) is cut off.
  std::vector<ZipItem> items = {
      {"_rels/.rels", Relationships(kOpenXpsNamespace, "/s.fdseq"), false},
      {"s.fdseq", "<FixedDocumentSequence><DocumentReference Source=\"d.fdoc\"/></FixedDocumentSequence>", false},
      {"d.fdoc", FixedDocument(kXpsNamespace, 2), false},
  };
  std::string whole = ZipArchiveOf(items);
  EXPECT_EQ(Count(whole).pages, 2u);
  EXPECT_EQ(Count(whole.substr(0, whole.size() - 30)).returned, 0);
}

}  // namespace
