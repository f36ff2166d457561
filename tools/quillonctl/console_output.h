// quillonctl's output: UTF-8 text, shown right on a console and passed on
// unchanged to a pipe or a file.
#pragma once

#include <windows.h>

#include <string>

// Writes the text to STD_OUTPUT_HANDLE or STD_ERROR_HANDLE: on a console
// through WriteConsoleW (any code page shows every name), elsewhere as the
// UTF-8 bytes.
void WriteText(DWORD nStdHandle, const std::string& utf8);
