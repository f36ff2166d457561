// OEM text repair and the system error text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "service_core/text_utils.h"

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

TEST(FixOemTextTest, MarkingByteConvertsTheWholeStringOnce) {
  std::string oem = "Caf\xA0 \x82 r\xA0sum\x82";   // 0xA0 marks OEM text
  std::string expected = oem;
  OemToCharA(&expected[0], &expected[0]);
  ASSERT_NE(expected, oem) << "the code pages of this machine map 0xA0 alike";

  std::string buffer = oem;
  EXPECT_TRUE(FixOemText(&buffer[0]));
  EXPECT_EQ(buffer, expected);

  // A marking byte at the very end counts as well.
  std::string tail = "abc\xB0";
  std::string tailExpected = tail;
  OemToCharA(&tailExpected[0], &tailExpected[0]);
  EXPECT_TRUE(FixOemText(&tail[0]));
  EXPECT_EQ(tail, tailExpected);
}

TEST(GetLastErrorTextTest, GivesTheSystemTextOrANamedFallback) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  char* text = GetLastErrorText();
  ASSERT_NE(text, nullptr);
  char* expected = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                 nullptr, ERROR_FILE_NOT_FOUND, 0x400,
                 reinterpret_cast<LPSTR>(&expected), 0, nullptr);
  ASSERT_NE(expected, nullptr);
  EXPECT_STREQ(text, expected);
  LocalFree(expected);
  LocalFree(text);

  SetLastError(0x2FFFFFFF);   // no system text for this code
  text = GetLastErrorText();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "Error 805306367");
  LocalFree(text);
}

}  // namespace
