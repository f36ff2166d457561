// Prices and costs as whole numbers, so that a cost is the same on every
// machine and rounds once: prices in ten-thousandths of the currency unit,
// costs shown in hundredths.
#pragma once

#include <stdint.h>

#include <string>

namespace usage_report {

// The largest price a page may have, in ten-thousandths (10,000 units).
constexpr int64_t kMaxPrice = 100000000;

// A non-negative decimal with at most four decimals ("0.05", "12", ".5"),
// at most kMaxPrice; false otherwise.
bool ParsePrice(const std::string& text, int64_t& tenThousandths);

// pages * price, in ten-thousandths; false when it would not fit 64 bits.
bool PriceOfPages(int64_t pages, int64_t tenThousandths, int64_t& cost);

// Ten-thousandths rounded half up to hundredths.
int64_t RoundToCents(int64_t tenThousandths);

// Hundredths as "12.50" (negative as "-0.05").
std::string FormatCents(int64_t cents);
// Ten-thousandths with as many decimals as needed, at least two: "0.05",
// "0.035".
std::string FormatPrice(int64_t tenThousandths);

}  // namespace usage_report
