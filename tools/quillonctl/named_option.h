// A printer or user named on quillonctl's command line: a name, as the
// service holds it (ANSI), or "any" for every one (-1).
#pragma once

#include <stdint.h>

#include <string>

struct NAMED {
  bool bAny = false;
  std::string ansi;
  std::string shown;   // as the administrator wrote it
};

// "" and `named` filled, or a message that names the option: an empty name,
// or one with characters the system's code page cannot carry.
std::string NameValue(const char* pszOption, const std::string& text, NAMED& named);

// A printer or user id as the console shows it: "any" for -1, the name
// (ANSI, shown as UTF-8), or "#id (no such row)" for an id without one.
std::string Shown(int32_t id, const std::string& name);
