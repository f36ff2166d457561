// OEM text repair and the system error text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "service_core/text_utils.h"
#include "service_core/win_owners.h"

namespace {

TEST(FixOemTextTest, NullPointerIsRefused) { EXPECT_FALSE(FixOemText(nullptr)); }

TEST(FixOemTextTest, TextWithoutMarkingBytesStaysUnchanged) {
  struct Case {
    const char* label;
    std::string text;
  } cases[] = {
      {"pure ASCII", "Quarterly report.docx"},
      {"empty", ""},
      {"high bytes 0xC0-0xFF only", "Gr\xFC\xDF" "e \xE9t\xE9 \xC0\xFF"},
      {"neutral bytes 0x85 and 0x93", "Wait\x85 \x93quoted\x93"},
      {"all neutral bytes", "\x82\x85\x91\x92\x93\x94\xB8\xB9"},
  };
  for (auto& c : cases) {
    std::string buffer = c.text;
    EXPECT_TRUE(FixOemText(&buffer[0])) << c.label;
    EXPECT_EQ(buffer, c.text) << c.label;
  }
}

// The expected bytes are written out: OEM code page 437 to ANSI 1252, the
// pair a Windows (or Wine) system in the United States uses.
class FixOemTextCodePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetOEMCP() != 437 || GetACP() != 1252) {
      GTEST_SKIP() << "written for OEM 437 and ANSI 1252; this system has "
                   << GetOEMCP() << " and " << GetACP();
    }
  }
};

TEST_F(FixOemTextCodePageTest, MarkingByteConvertsTheWholeStringOnce) {
  // 0xA0 (a acute in 437) marks OEM text; the neutral 0x82 (e acute in 437)
  // is converted with the rest.
  std::string buffer = "Caf\xA0 \x82 r\xA0sum\x82";
  EXPECT_TRUE(FixOemText(&buffer[0]));
  EXPECT_EQ(buffer, "Caf\xE1 \xE9 r\xE1sum\xE9");

  // A marking byte at the very end counts as well (u diaeresis).
  std::string tail = "abc\x81";
  EXPECT_TRUE(FixOemText(&tail[0]));
  EXPECT_EQ(tail, "abc\xFC");
}

TEST(GetLastErrorTextTest, GivesTheSystemTextOrANamedFallback) {
  struct Case {
    DWORD dwError;
    const char* pszText;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, "File not found.\r\n"},
      {ERROR_ACCESS_DENIED, "Access denied.\r\n"},
      {0x2FFFFFFF, "Error 805306367"},   // no system text for this code
  };
  for (const Case& c : cases) {
    SetLastError(c.dwError);
    LocalBuffer<char> text(GetLastErrorText());
    ASSERT_TRUE(text) << c.dwError;
    EXPECT_STREQ(text.get(), c.pszText) << c.dwError;
  }
}

}  // namespace
