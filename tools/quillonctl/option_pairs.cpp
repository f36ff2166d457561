#include "option_pairs.h"

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

bool ParseInteger(const std::wstring& text, int64_t min, int64_t max, int64_t& value) {
  if (text.empty() || text.size() > 12) return false;
  size_t i = 0;
  const bool negative = text[0] == L'-';
  if (negative || text[0] == L'+') ++i;
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    v = v * 10 + (text[i] - L'0');
  }
  if (negative) v = -v;
  if (v < min || v > max) return false;
  value = v;
  return true;
}

std::string CollectOptions(const std::vector<std::wstring>& args, size_t first,
                           const std::vector<std::wstring>& known, Options& options) {
  for (size_t i = first; i < args.size(); ++i) {
    std::wstring name = args[i];
    std::wstring value;
    bool haveValue = false;
    if (name.compare(0, 2, L"--") != 0) return "unexpected argument '" + Narrow(name) + "'";
    const size_t eq = name.find(L'=');
    if (eq != std::wstring::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      haveValue = true;
    }
    bool isKnown = false;
    for (const std::wstring& k : known) isKnown = isKnown || k == name;
    if (!isKnown) return "unknown option '" + Narrow(name) + "'";
    if (!haveValue) {
      if (i + 1 >= args.size()) return Narrow(name) + " needs a value";
      value = args[++i];
    }
    if (options.values.count(name)) return Narrow(name) + " is given twice";
    options.values[name] = value;
  }
  return "";
}
