// Texts cross the database boundary as wide strings; inside the service they
// are ANSI (the system code page).
#pragma once

#include <string>

std::wstring AnsiToWide(const char* pszText);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* pwszText, size_t cch);
std::string WideToAnsi(const std::wstring& text);

// UTF-8, for what leaves the program as text files (reports); a lone
// surrogate becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
