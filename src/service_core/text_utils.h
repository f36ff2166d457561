// Text helpers shared by the threads of the service.
#pragma once

#include <windows.h>

#include <string>

// The system's message for the calling thread's last error; free it with
// LocalFree. Never null: an unknown code gives "Error <n>".
char* GetLastErrorText();

// Converts a string in place from the OEM to the ANSI code page when one of
// its bytes shows that it is OEM text. FALSE only for a null pointer.
BOOL FixOemText(char* pszText);

// The text on one line, for an event's insertion string: a line feed
// becomes ';', a carriage return a blank.
std::string OneLine(std::string text);
