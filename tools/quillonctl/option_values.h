// The values of quillonctl's options that the argument library leaves to
// the commands: numbers in a range, ids with "any", job-control actions by
// word. Each check returns "" or a message that names the option.
#pragma once

#include <stdint.h>

#include <string>

// A whole decimal number within [min, max].
bool ParseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value);

// "" and value set, or "NAME takes a number from MIN to MAX, not 'TEXT'".
std::string NumberValue(const char* pszName, const std::string& text, int64_t min, int64_t max,
                        int64_t& value);

// An id, -1 or "any" (-1): every printer or every user.
std::string IdValue(const char* pszName, const std::string& text, int32_t& id);

// none, pause, resume, cancel, restart, delete (the spooler's SetJob
// commands 0 to 5) or a number from 0 to 9.
std::string ActionValue(const std::string& text, int32_t& action);
// The word of an action, or its number when it has none.
std::string ActionWord(int32_t action);
