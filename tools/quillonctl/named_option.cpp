#include "named_option.h"

#include "text_forms.h"

std::string NameValue(const char* pszOption, const std::string& text, NAMED& named) {
  named.shown = text;
  if (text == "any") {
    named.bAny = true;
    return "";
  }
  if (text.empty()) return std::string(pszOption) + " must not be empty";
  if (!Utf8ToAnsi(text, &named.ansi)) {
    return std::string(pszOption) + " '" + text +
           "' holds characters the system's code page cannot carry";
  }
  return "";
}

std::string Shown(int32_t id, const std::string& name) {
  if (id == -1) return "any";
  return name.empty() ? "#" + std::to_string(id) + " (no such row)" : AnsiToUtf8(name);
}
