#include "database/field_text.h"

#include <cstring>

namespace {

size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;   // a stray continuation byte stands alone
}

}  // namespace

std::string CutBytesToWidth(const char* pszText, size_t cbText, size_t cbWidth,
                            UINT codePage) {
  if (!pszText) return std::string();
  if (cbText <= cbWidth) return std::string(pszText, cbText);

  UINT cp = codePage == CP_ACP ? GetACP() : codePage;
  size_t cbKept = 0;
  while (cbKept < cbText) {
    unsigned char b = static_cast<unsigned char>(pszText[cbKept]);
    size_t step = 1;
    if (cp == CP_UTF8) {
      step = Utf8SequenceLength(b);
    } else if (IsDBCSLeadByteEx(cp, b)) {
      step = 2;
    }
    if (cbKept + step > cbWidth) break;
    cbKept += step;
  }
  return std::string(pszText, cbKept);
}

std::string CutToWidth(const char* pszText, size_t cbWidth) {
  if (!pszText) return std::string();
  return CutBytesToWidth(pszText, std::strlen(pszText), cbWidth, CP_ACP);
}
