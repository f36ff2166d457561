// Texts cross the database boundary as wide strings; inside the service they
// are ANSI (the system code page).
#pragma once

#include <string>

std::wstring AnsiToWide(const char* pszText);
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* pwszText, size_t cch);
std::string WideToAnsi(const std::wstring& text);
// The text in the ANSI code page exactly: false when a character has no form
// there (no best-fit look-alike, no default character), *pAnsi then empty.
// Where the ANSI code page is UTF-8 every valid text has its form; a lone
// surrogate has none.
bool WideToAnsiExact(const std::wstring& text, std::string* pAnsi);

// UTF-8, for what leaves the program as text files (reports); a lone
// surrogate becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
