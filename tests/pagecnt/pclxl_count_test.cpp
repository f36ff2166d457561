// Counting PCL XL streams, built token by token in either byte order.
#include <cstring>

#include "page_counter_fixture.h"

namespace {

class PclXlCountTest : public PageCounterTest {};

enum : uint8_t {
  kBeginSession = 0x41,
  kEndSession = 0x42,
  kBeginPage = 0x43,
  kEndPage = 0x44,
  kBeginImage = 0xB0,
  kReadImage = 0xB1,
  kEndImage = 0xB2,
  kSetFont = 0x6F,
  kMediaSize = 37,
  kOrientation = 40,
  kCustomMediaSize = 47,
  kCustomMediaSizeUnits = 48,
  kPageCopies = 49,
};

class PxlStream {
 public:
  explicit PxlStream(bool little_endian) : little_(little_endian) {
    out_ = little_ ? ") HP-PCL XL;2;0;Comment test\n" : "( HP-PCL XL;2;0;Comment test\n";
  }
  PxlStream& Ubyte(uint8_t v) { return Byte(0xC0).Byte(v); }
  PxlStream& Uint16(uint16_t v) { Byte(0xC1); return Number(v, 2); }
  PxlStream& Uint16Xy(uint16_t x, uint16_t y) { Byte(0xD1); Number(x, 2); return Number(y, 2); }
  PxlStream& Real32Xy(float x, float y) {
    uint32_t a, b;
    std::memcpy(&a, &x, 4);
    std::memcpy(&b, &y, 4);
    Byte(0xD5);
    Number(a, 4);
    return Number(b, 4);
  }
  PxlStream& UbyteArray(const std::string& text) {
    Byte(0xC8).Byte(0xC1);
    Number(text.size(), 2);
    out_ += text;
    return *this;
  }
  PxlStream& Uint16Box(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
    Byte(0xE1);
    for (uint16_t v : {a, b, c, d}) Number(v, 2);
    return *this;
  }
  PxlStream& Attribute(uint8_t id) { return Byte(0xF8).Byte(id); }
  PxlStream& Attribute16(uint16_t id) { Byte(0xF9); return Number(id, 2); }
  PxlStream& Op(uint8_t op) { return Byte(op); }
  PxlStream& Raw(const std::string& bytes) {
    out_ += bytes;
    return *this;
  }
  PxlStream& Data(const std::string& bytes) {
    if (bytes.size() < 256) {
      Byte(0xFB).Byte(static_cast<uint8_t>(bytes.size()));
    } else {
      Byte(0xFA);
      Number(bytes.size(), 4);
    }
    out_ += bytes;
    return *this;
  }
  PxlStream& Session() {
    return Uint16Xy(600, 600).Attribute(0x89).Ubyte(0).Attribute(0x86).Op(kBeginSession);
  }
  // A page with an image whose data holds the bytes of page operators.
  PxlStream& ImagePage(uint16_t copies = 1) {
    std::string data(300, '\x44');
    data += std::string("\xC1\x01\x00\xF8\x31\x44\x43", 7);
    Uint16(40).Attribute(0x6C).Uint16(20).Attribute(0x6B).Op(kBeginImage);
    Uint16(0).Attribute(0x6D).Uint16(20).Attribute(0x63).Op(kReadImage).Data(data);
    Uint16(20).Attribute(0x6D).Op(kReadImage).Data(data.substr(0, 200));
    Op(kEndImage);
    return Uint16(copies).Attribute(kPageCopies).Op(kEndPage);
  }
  PxlStream& BeginPage(uint8_t media) {
    return Ubyte(0).Attribute(kOrientation).Ubyte(media).Attribute(kMediaSize).Op(kBeginPage);
  }
  std::string str() const { return out_; }

 private:
  PxlStream& Byte(uint8_t b) {
    out_.push_back(static_cast<char>(b));
    return *this;
  }
  PxlStream& Number(uint64_t v, int size) {
    for (int i = 0; i < size; ++i) {
      int shift = little_ ? 8 * i : 8 * (size - 1 - i);
      Byte(static_cast<uint8_t>(v >> shift));
    }
    return *this;
  }
  bool little_;
  std::string out_;
};

TEST_F(PclXlCountTest, CountsEndPageOperatorsNotBytesInData) {
  for (bool little : {true, false}) {
    PxlStream stream(little);
    stream.Session();
    for (int page = 0; page < 3; ++page) stream.BeginPage(2).ImagePage();
    stream.Op(kEndSession);
    CountOutcome outcome = Count(stream.str());
    EXPECT_EQ(outcome.returned, 1) << (little ? "low" : "high") << " byte first";
    EXPECT_EQ(outcome.pages, 3u) << (little ? "low" : "high") << " byte first";
    EXPECT_EQ(outcome.paper, DMPAPER_A4) << (little ? "low" : "high") << " byte first";
    EXPECT_EQ(ExamineBytes(stream.str()).format, pagecnt::Format::kPclXl);
  }
}

TEST_F(PclXlCountTest, MediaSizeByEnumerationNameOrCustomSize) {
  auto paper_of = [&](PxlStream& stream) {
    stream.Op(kBeginPage).ImagePage().Op(kEndSession);
    return Count(stream.str()).paper;
  };
  PxlStream a5(true), legal(false), custom_mm(true), custom_inch(false);
  a5.Session().Ubyte(16).Attribute(kMediaSize);
  EXPECT_EQ(paper_of(a5), DMPAPER_A5);
  legal.Session().UbyteArray("LEGAL").Attribute(kMediaSize);
  EXPECT_EQ(paper_of(legal), DMPAPER_LEGAL);
  custom_mm.Session().Real32Xy(297, 420).Attribute(kCustomMediaSize).Ubyte(1).Attribute(
      kCustomMediaSizeUnits);
  EXPECT_EQ(paper_of(custom_mm), DMPAPER_A3);
  custom_inch.Session().Real32Xy(8.5f, 11).Attribute(kCustomMediaSize).Ubyte(0).Attribute(
      kCustomMediaSizeUnits);
  EXPECT_EQ(paper_of(custom_inch), DMPAPER_LETTER);

  // The first page's size, whatever the later pages use.
  PxlStream mixed(true);
  mixed.Session().BeginPage(0).ImagePage().BeginPage(2).ImagePage().Op(kEndSession);
  EXPECT_EQ(Count(mixed.str()).paper, DMPAPER_LETTER);
}

TEST_F(PclXlCountTest, PageCopiesAreReadAndNotMultipliedIn) {
  PxlStream stream(true);
  stream.Session().BeginPage(2).ImagePage(4).BeginPage(2).ImagePage(4).Op(kEndSession);
  EXPECT_EQ(Count(stream.str()).pages, 2u);
  EXPECT_EQ(ExamineBytes(stream.str()).copies, 4u);
}

TEST_F(PclXlCountTest, EveryTokenTypeIsSkippedByItsSize) {
  // Boxes, 16-bit attribute ids, long arrays and an operator of an
  // unknown vendor extension between the pages.
  PxlStream stream(false);
  stream.Session().BeginPage(2);
  stream.Uint16Box(0x4444, 0x4344, 0x0C44, 0x1B44).Attribute16(0x4444).Op(0x70);
  stream.UbyteArray(std::string(1000, '\x44')).Attribute(0x80).Op(kSetFont);
  stream.ImagePage().Op(kEndSession);
  EXPECT_EQ(Count(stream.str()).pages, 1u);
}

TEST_F(PclXlCountTest, VendorUniquePayloadIsPassedOverByItsAttributeLength) {
  // As HP's JetReady and FastRaster drivers write: right after BeginSession
  // and BeginPage, operator 0x46 with VUExtension (145) and VUDataLength
  // (146), then the payload raw, with bytes that are no tokens and bytes
  // of page operators. A vendor operator without a length has no payload.
  const std::string payload = std::string("\x00\x80\x44\x43\xF0\x1B", 6) + std::string(700, '\x44');
  for (bool little : {true, false}) {
    PxlStream stream(little);
    stream.Session().Uint16(0x1111).Attribute(145).Op(0x46);
    for (int page = 0; page < 3; ++page) {
      stream.BeginPage(2);
      stream.Uint16(0x2222).Attribute(145).Uint16(static_cast<uint16_t>(payload.size()))
          .Attribute(146).Op(0x46).Raw(payload).Op(kEndPage);
    }
    stream.Op(kEndSession);
    CountOutcome outcome = Count(stream.str());
    EXPECT_EQ(outcome.pages, 3u) << (little ? "low" : "high") << " byte first";
    EXPECT_EQ(outcome.paper, DMPAPER_A4) << (little ? "low" : "high") << " byte first";
  }
  // A length past the end ends the stream: the page is not finished.
  PxlStream cut(true);
  cut.Session().BeginPage(2).ImagePage().BeginPage(2).Uint16(5000).Attribute(146).Op(0x46);
  EXPECT_EQ(Count(cut.str() + std::string(10, '\x44')).pages, 1u);
}

TEST_F(PclXlCountTest, MediaSizeAsAPairIsInTheSessionsUnits) {
  // 600 units an inch: A4 is 4961 x 7016; one unit a tenth of a
  // millimetre: A3 is 2970 x 4200.
  PxlStream inch(true);
  inch.Session().Uint16Xy(4961, 7016).Attribute(kMediaSize).Op(kBeginPage).ImagePage();
  EXPECT_EQ(Count(inch.str()).paper, DMPAPER_A4);
  PxlStream tenths(false);
  tenths.Uint16Xy(1, 1).Attribute(0x89).Ubyte(2).Attribute(0x86).Op(kBeginSession);
  tenths.Uint16Xy(2970, 4200).Attribute(kMediaSize).Op(kBeginPage).ImagePage();
  EXPECT_EQ(Count(tenths.str()).paper, DMPAPER_A3);
}

TEST_F(PclXlCountTest, AnUnfinishedPageOrABadTokenEndsTheStream) {
  PxlStream stream(true);
  stream.Session().BeginPage(2).ImagePage().BeginPage(2);
  std::string whole = stream.str();
  EXPECT_EQ(Count(whole).pages, 1u) << "a page without EndPage is not printed";
  // After a byte that is no token nothing counts until the next job.
  std::string bad = whole + "\xF0" + PxlStream(true).Session().BeginPage(2).ImagePage().str();
  EXPECT_EQ(Count(bad).pages, 1u);
  std::string next = bad + "\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\r\n" +
                     PxlStream(true).Session().BeginPage(2).ImagePage().str();
  EXPECT_EQ(Count(next).pages, 2u);
  // Data lengths past the end.
  EXPECT_EQ(Count(whole + "\xFA\xFF\xFF\xFF\xFF" + "\x44").pages, 1u);
}

}  // namespace
