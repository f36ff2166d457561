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

// A PCL XL page whose vendor-unique operator has 8 bytes of raw payload,
// with bytes of no token and of page operators, then one without payload.
constexpr char kVendorPclXl[] =
    ") HP-PCL XL;3;0;Comment\n"
    "\xd1\x58\x02\x58\x02\xf8\x89\xc0\x00\xf8\x86\x41"
    "\xd1\x61\x13\x68\x1b\xf8\x25\x43"
    "\xc1\x08\x00\xf8\x92\x46\x00\x80\x44\xf0\x1b\x00\x44\x43\x44"
    "\x46\x44\x42";

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
      // PJL as filters write it, with paper; pages ended in procedures.
      "\x1b%-12345X@PJL SET PAPER = A4\n@pjl set paperlength=8419\n"
      "%%@PJL ENTER LANGUAGE = PostScript\n%!PS-Adobe-3.0\n/EP { level0 restore showpage } def\n"
      "/S /showpage load def\n/P { EP } bind def\nEP S P\n\x1b%-12345X@PJL EOJ\n",
      // PCL XL with HP's vendor-unique operator and its raw payload, and a
      // media size as a pair.
      std::string(kVendorPclXl, sizeof kVendorPclXl - 1),
      // HP-GL/2 as a plotter reads it.
      "BP;IN;SP1;PU0,0;PD100,100;PG;PD;PA5,5,20,20;\x1b%0A\x1b*b2W\x01\x02\x1b%0BPG;",
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
  // The smallest rendered file of each language, the smallest real file of
  // each producer (encrypted PDF, vendor PCL XL, HP-GL/2, ...), and a text
  // file.
  std::vector<std::pair<std::string, std::string>> seeds;
  for (const char* variable : {"PAGECNT_CORPUS", "PAGECNT_REAL_CORPUS"}) {
    const bool real = std::string(variable) == "PAGECNT_REAL_CORPUS";
    std::map<std::string, std::pair<std::string, std::string>> smallest;  // name, bytes
    for (const CorpusFile& file : Corpus(variable)) {
      const std::string key = real ? file.producer : file.language;
      std::string bytes = ReadCorpusFile(file.name, variable);
      if (!smallest.count(key) || bytes.size() < smallest[key].second.size()) {
        smallest[key] = {file.name, std::move(bytes)};
      }
    }
    ASSERT_GE(smallest.size(), 5u) << "no corpus in " << CorpusDirectory(variable);
    for (auto& [key, file] : smallest) {
      // Large driver files cost their size for each damaged copy.
      if (file.second.size() <= (512u << 10)) seeds.push_back(std::move(file));
    }
  }
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + (i % 70 ? "\r\n" : "\f");
  seeds.emplace_back("text", text);
  std::mt19937 random(20261209);
  for (const auto& [name, bytes] : seeds) {
    for (int i = 0; i < 60; ++i) {
      std::string damaged = Mutate(bytes, random);
      CountOutcome outcome = Count(damaged);
      ASSERT_EQ(outcome.returned != 0, outcome.pages != 0) << name << " mutation " << i;
      // One byte at least for each page, in every language without macros.
      ASSERT_LE(outcome.pages, damaged.size()) << name << " mutation " << i;
    }
  }
}

}  // namespace
