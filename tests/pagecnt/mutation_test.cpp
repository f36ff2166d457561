// Damaged copies of valid files, made deterministically: every call must
// return, and a count it gives must be one the file could hold.
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "page_counter_fixture.h"
#include "pdf_writer.h"

namespace {

class MutationTest : public PageCounterTest {};

std::vector<std::string> Seeds() {
  std::string compressed;
  PdfRevision first;
  first.compressed = FlatPageTree(4, "/MediaBox [0 0 595 842]");
  first.object_stream = 20;
  first.xref_stream = true;
  AppendRevision(compressed, first);
  PdfRevision update;
  update.objects = {{2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>"}};
  AppendRevision(compressed, update);

  // A tree whose root lists itself and the catalogue among its kids.
  std::string cyclic;
  PdfRevision revision;
  revision.objects = FlatPageTree(3, "/MediaBox [0 0 612 792]");
  revision.objects[1].body.insert(revision.objects[1].body.find("/Kids [") + 7,
                                  "1 0 R 2 0 R ");
  AppendRevision(cyclic, revision);

  return {
      SimplePdf(5),
      compressed,
      cyclic,
      "%!PS-Adobe-3.0\n%%Pages: (atend)\n%%BoundingBox: 0 0 595 842\n"
      "%%EndComments\n%%Page: 1 1\n(text) show showpage\n%%Page: 2 2\n"
      "<< /PageSize [612 792] >> setpagedevice showpage\n%%Trailer\n"
      "%%Pages: 2\n%%EOF\n",
      "\x1b%-12345X@PJL ENTER LANGUAGE=POSTSCRIPT\r\n\x04%!\n"
      "%%BeginDocument\n%%Pages: 1\n%%EndDocument\nshowpage showpage\n"
      "\x1b%-12345X",
      // Image data that the program reads from the file, which the
      // scanner passes over.
      "%!PS\n4 4 8 [4 0 0 4 0 0] currentfile /ASCII85Decode filter\nimage\n"
      "87cURD]i,\"Ebo80(%%Page:9\n%B<~>\nshowpage\nBI\n/F[/A85]\nID\n"
      "9jqo^BlbD-BleB1DJ+*+F(f,q/0JhKF<GL>Cj@.4Gp$d7F!,L7@<6@)/0JDEF<G%<+EV:2F!,\r\n"
      "O<DJ+*.@<*K0@<6L(Df-\\0Ec5e;DffZ(EZee.Bl.9pF\"AGXBPCsi+DGm>@3BB/F*&OCAfu2/\n"
      "~>\nEI\nshowpage\n",
      // Hex image data and numbers on lines of their own, which the
      // scanner passes whole, but not where a page size waits for them.
      "%!PS\n<< /PageSize [\n595 842\n] >> setpagedevice\n/picstr 4 string def\n"
      "4 4 8 [4 0 0 4 0 0] {currentfile picstr readhexstring pop} image\n"
      "00ff10ab\r\n 7f80 c0de \nFFEE0011\nshowpage\n0 0 1 1\n\x1b%-12345X",
  };
}

std::string Mutate(std::string bytes, std::mt19937& random) {
  static const char* const kNumbers[] = {"0", "-1", "4294967295", "2147483648",
                                         "99999999999999999999", "1.5e308"};
  int edits = 1 + random() % 4;
  for (int edit = 0; edit < edits && !bytes.empty(); ++edit) {
    size_t at = random() % bytes.size();
    size_t length = 1 + random() % 64;
    switch (random() % 6) {
      case 0:
        bytes[at] = static_cast<char>(random());
        break;
      case 1:
        bytes.erase(at, length);
        break;
      case 2:
        bytes.insert(at, std::string(length % 16 + 1, static_cast<char>(random())));
        break;
      case 3:
        bytes.resize(at);
        break;
      case 4: {  // offsets, counts, lengths and sizes are where readers trust
        size_t digits = bytes.find_first_of("0123456789", at);
        if (digits == std::string::npos) break;
        size_t end = bytes.find_first_not_of("0123456789", digits);
        bytes.replace(digits, (end == std::string::npos ? bytes.size() : end) - digits,
                      kNumbers[random() % 6]);
        break;
      }
      default:
        bytes.insert(random() % bytes.size(), bytes.substr(at, length));
        break;
    }
  }
  return bytes;
}

TEST_F(MutationTest, DamagedCopiesReturnSaneResults) {
  const std::vector<std::string> seeds = Seeds();
  for (size_t i = 0; i < seeds.size(); ++i) {
    ASSERT_NE(Count(seeds[i]).returned, 0) << "seed " << i;
  }
  std::mt19937 random(20261208);  // fixed, so that a failure reproduces
  for (int i = 0; i < 3000; ++i) {
    size_t seed = i % seeds.size();
    std::string bytes = Mutate(seeds[seed], random);
    CountOutcome outcome = Count(bytes);
    ASSERT_EQ(outcome.returned != 0, outcome.pages != 0) << "mutation " << i;
    // A PDF page is an object of a dozen bytes at least.
    if (seed < 3 && bytes.compare(0, 5, "%PDF-") == 0) {
      ASSERT_LE(outcome.pages, bytes.size() / 12) << "mutation " << i;
    }
  }
}

TEST_F(MutationTest, DamagedCorpusFilesOfEveryLanguageReturn) {
  // The smallest rendered file of each language, and a text file.
  std::map<std::string, CorpusFile> smallest;
  std::map<std::string, size_t> sizes;
  for (const CorpusFile& file : Corpus()) {
    size_t size = ReadCorpusFile(file.name).size();
    if (!smallest.count(file.language) || size < sizes[file.language]) {
      smallest[file.language] = file;
      sizes[file.language] = size;
    }
  }
  ASSERT_GE(smallest.size(), 5u) << "no corpus in " << CorpusDirectory();
  std::vector<std::pair<std::string, std::string>> seeds;
  for (const auto& [language, file] : smallest) {
    seeds.emplace_back(file.name, ReadCorpusFile(file.name));
  }
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + (i % 70 ? "\r\n" : "\f");
  seeds.emplace_back("text", text);
  std::mt19937 random(20261209);
  for (const auto& [name, bytes] : seeds) {
    for (int i = 0; i < 150; ++i) {
      std::string damaged = Mutate(bytes, random);
      CountOutcome outcome = Count(damaged);
      ASSERT_EQ(outcome.returned != 0, outcome.pages != 0) << name << " mutation " << i;
      // One byte at least for each page, in every language without macros.
      ASSERT_LE(outcome.pages, damaged.size()) << name << " mutation " << i;
    }
  }
}

}  // namespace
