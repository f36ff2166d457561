// The shape every quillonctl command line shares: "--name value" or
// "--name=value" pairs after the command's word, each option at most once.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

struct Options {
  std::map<std::wstring, std::wstring> values;
};

// Collects args[first..] into options; every option takes a value and must
// be one of `known`. Empty on success, else the reason, naming the option.
std::string CollectOptions(const std::vector<std::wstring>& args, size_t first,
                           const std::vector<std::wstring>& known, Options& options);

// Printable ASCII of a text for an error message ('?' for the rest).
std::string Narrow(const std::wstring& text);

// A whole decimal number within [min, max] (at most 12 characters).
bool ParseInteger(const std::wstring& text, int64_t min, int64_t max, int64_t& value);
