#include "usage_report/markup_text.h"

namespace usage_report {

std::string EscapeMarkup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Control characters have no place in a name; a reader sees a mark.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
          out += "&#xFFFD;";
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string ShortenUtf8(const std::string& text, size_t count) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) {
      return text.substr(0, i) + "\xE2\x80\xA6";
    }
  }
  return text;
}

}  // namespace usage_report
