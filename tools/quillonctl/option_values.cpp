#include "option_values.h"

namespace {

const char* const kActionWords[] = {"none", "pause", "resume", "cancel", "restart", "delete"};
constexpr int32_t kActionWordCount = 6;

}  // namespace

bool ParseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value) {
  if (text.empty() || text.size() > 12) return false;
  size_t i = 0;
  const bool negative = text[0] == '-';
  if (negative || text[0] == '+') ++i;
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (negative) v = -v;
  if (v < min || v > max) return false;
  value = v;
  return true;
}

std::string NumberValue(const char* pszName, const std::string& text, int64_t min, int64_t max,
                        int64_t& value) {
  if (ParseInteger(text, min, max, value)) return "";
  return std::string(pszName) + " takes a number from " + std::to_string(min) + " to " +
         std::to_string(max) + ", not '" + text + "'";
}

std::string IdValue(const char* pszName, const std::string& text, int32_t& id) {
  if (text == "any") {
    id = -1;
    return "";
  }
  int64_t value = 0;
  if (!ParseInteger(text, -1, INT32_MAX, value)) {
    return std::string(pszName) + " takes an id, -1 or 'any', not '" + text + "'";
  }
  id = static_cast<int32_t>(value);
  return "";
}

std::string ActionValue(const std::string& text, int32_t& action) {
  for (int32_t i = 0; i < kActionWordCount; ++i) {
    if (text == kActionWords[i]) {
      action = i;
      return "";
    }
  }
  int64_t value = 0;
  if (!ParseInteger(text, 0, 9, value)) {
    return "--action takes none, pause, resume, cancel, restart, delete or a number from 0 to "
           "9, not '" + text + "'";
  }
  action = static_cast<int32_t>(value);
  return "";
}

std::string ActionWord(int32_t action) {
  if (action >= 0 && action < kActionWordCount) return kActionWords[action];
  return std::to_string(action);
}
