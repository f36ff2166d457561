// The system's own words for an error code, for quillonctl's messages.
#pragma once

#include <windows.h>

#include <string>

// "Access is denied. (5)": the system's text, without its line end, and the
// code; "error 1234" when the system has no text.
std::string SystemErrorText(DWORD dwError);
