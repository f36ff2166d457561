// The forms a text takes in quillonctl: UTF-8 on its command line and in its
// output (std::string), UTF-16 at the platform, and the system's ANSI code
// page where it meets the service (list files, database names, registry).
#pragma once

#include <string>

#include "database/wide_text.h"   // Utf8ToWide, WideToUtf8

std::string AnsiToUtf8(const std::string& ansi);
// The text in the ANSI code page; false when a character has no form there
// (the service could not carry the name).
bool Utf8ToAnsi(const std::string& utf8, std::string* pAnsi);
