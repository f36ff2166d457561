// Names and other texts are cut to the width of their record field before
// they are looked up, cached or stored, so that all three agree.
#pragma once

#include <windows.h>

#include <stddef.h>

#include <string>

// The longest prefix of the first cbText bytes of pszText that fits in
// cbWidth bytes without splitting a character of the code page (a
// double-byte character, or a UTF-8 sequence when the code page is UTF-8).
std::string CutBytesToWidth(const char* pszText, size_t cbText, size_t cbWidth,
                            UINT codePage = CP_ACP);
// The same for a zero-terminated text in the ANSI code page; a null pointer
// gives "".
std::string CutToWidth(const char* pszText, size_t cbWidth);
