// Texts cross the database boundary as wide strings; inside the service they
// are ANSI (the system code page).
#pragma once

#include <string>

std::wstring AnsiToWide(const char* pszText);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* pwszText, size_t cch);
std::string WideToAnsi(const std::wstring& text);
