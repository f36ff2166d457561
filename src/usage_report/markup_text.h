// Text put into HTML and SVG: every character that markup gives a meaning
// is written as a reference, so that a name such as "<script>" shows as
// text, in an element or in a quoted attribute alike.
#pragma once

#include <string>

namespace usage_report {

std::string EscapeMarkup(const std::string& text);

// The first `count` characters of a UTF-8 text, with "…" when it was cut.
std::string ShortenUtf8(const std::string& text, size_t count);

}  // namespace usage_report
