#include "usage_report/money.h"

#include <limits>

namespace usage_report {

bool ParsePrice(const std::string& text, int64_t& tenThousandths) {
  int64_t whole = 0;
  int64_t fraction = 0;
  int nFractionDigits = 0;
  bool seenDigit = false;
  bool seenPoint = false;
  for (char c : text) {
    if (c == '.' && !seenPoint) {
      seenPoint = true;
    } else if (c >= '0' && c <= '9') {
      seenDigit = true;
      if (seenPoint) {
        if (++nFractionDigits > 4) return false;
        fraction = fraction * 10 + (c - '0');
      } else {
        whole = whole * 10 + (c - '0');
        if (whole > kMaxPrice / 10000) return false;
      }
    } else {
      return false;
    }
  }
  if (!seenDigit) return false;
  for (; nFractionDigits < 4; ++nFractionDigits) fraction *= 10;
  const int64_t value = whole * 10000 + fraction;
  if (value > kMaxPrice) return false;
  tenThousandths = value;
  return true;
}

bool PriceOfPages(int64_t pages, int64_t tenThousandths, int64_t& cost) {
  if (pages < 0 || tenThousandths < 0) return false;
  if (tenThousandths != 0 && pages > std::numeric_limits<int64_t>::max() / tenThousandths) {
    return false;
  }
  cost = pages * tenThousandths;
  return true;
}

int64_t RoundToCents(int64_t tenThousandths) {
  return tenThousandths >= 0 ? (tenThousandths + 50) / 100 : -((-tenThousandths + 50) / 100);
}

std::string FormatCents(int64_t cents) {
  const bool negative = cents < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
  std::string fraction = std::to_string(magnitude % 100);
  if (fraction.size() < 2) fraction.insert(0, "0");
  return (negative ? "-" : "") + std::to_string(magnitude / 100) + "." + fraction;
}

std::string FormatPrice(int64_t tenThousandths) {
  std::string fraction = std::to_string(tenThousandths % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (fraction.size() > 2 && fraction.back() == '0') fraction.pop_back();
  return std::to_string(tenThousandths / 10000) + "." + fraction;
}

}  // namespace usage_report
