#include "paper_sizes.h"

#include "paper_codes.h"

#include <cmath>
#include <cstring>

namespace pagecnt {

namespace {

constexpr double kPointsPerInch = 72.0;
constexpr double kPointsPerMm = 72.0 / 25.4;
// Producers round millimetre sizes to whole points or less; sizes that
// differ by less than this are the same paper.
constexpr double kTolerance = 4.0;

struct Paper {
  uint16_t code;
  double short_side;  // points
  double long_side;
};

constexpr Paper kPapers[] = {
    {DMPAPER_LETTER, 8.5 * kPointsPerInch, 11 * kPointsPerInch},
    {DMPAPER_LEGAL, 8.5 * kPointsPerInch, 14 * kPointsPerInch},
    {DMPAPER_TABLOID, 11 * kPointsPerInch, 17 * kPointsPerInch},
    {DMPAPER_EXECUTIVE, 7.25 * kPointsPerInch, 10.5 * kPointsPerInch},
    {DMPAPER_STATEMENT, 5.5 * kPointsPerInch, 8.5 * kPointsPerInch},
    {DMPAPER_FOLIO, 8.5 * kPointsPerInch, 13 * kPointsPerInch},
    {DMPAPER_A2, 420 * kPointsPerMm, 594 * kPointsPerMm},
    {DMPAPER_A3, 297 * kPointsPerMm, 420 * kPointsPerMm},
    {DMPAPER_A4, 210 * kPointsPerMm, 297 * kPointsPerMm},
    {DMPAPER_A5, 148 * kPointsPerMm, 210 * kPointsPerMm},
    {DMPAPER_A6, 105 * kPointsPerMm, 148 * kPointsPerMm},
    {DMPAPER_B4, 257 * kPointsPerMm, 364 * kPointsPerMm},  // JIS
    {DMPAPER_B5, 182 * kPointsPerMm, 257 * kPointsPerMm},  // JIS
    {DMPAPER_QUARTO, 215 * kPointsPerMm, 275 * kPointsPerMm},
    {DMPAPER_ENV_10, 4.125 * kPointsPerInch, 9.5 * kPointsPerInch},
    {DMPAPER_ENV_DL, 110 * kPointsPerMm, 220 * kPointsPerMm},
    {DMPAPER_ENV_C5, 162 * kPointsPerMm, 229 * kPointsPerMm},
    {DMPAPER_ENV_MONARCH, 3.875 * kPointsPerInch, 7.5 * kPointsPerInch},
};

}  // namespace

namespace {

struct CodedPaper {
  int64_t code;
  uint16_t paper;
};

// PCL 5 page size codes.
constexpr CodedPaper kPcl5Papers[] = {
    {1, DMPAPER_EXECUTIVE}, {2, DMPAPER_LETTER},   {3, DMPAPER_LEGAL},
    {6, DMPAPER_TABLOID},   {25, DMPAPER_A5},      {26, DMPAPER_A4},
    {27, DMPAPER_A3},       {45, DMPAPER_B5},      {46, DMPAPER_B4},
    {71, DMPAPER_JAPANESE_POSTCARD},               {80, DMPAPER_ENV_MONARCH},
    {81, DMPAPER_ENV_10},   {90, DMPAPER_ENV_DL},  {91, DMPAPER_ENV_C5},
    {100, DMPAPER_ENV_B5},
};

// PCL XL MediaSize enumeration and the names that may stand for it.
struct NamedPaper {
  int64_t code;
  const char* name;
  uint16_t paper;
};
constexpr NamedPaper kPclXlPapers[] = {
    {0, "LETTER", DMPAPER_LETTER},
    {1, "LEGAL", DMPAPER_LEGAL},
    {2, "A4", DMPAPER_A4},
    {3, "EXEC", DMPAPER_EXECUTIVE},
    {4, "LEDGER", DMPAPER_TABLOID},
    {5, "A3", DMPAPER_A3},
    {6, "COM10", DMPAPER_ENV_10},
    {7, "MONARCH", DMPAPER_ENV_MONARCH},
    {8, "C5", DMPAPER_ENV_C5},
    {9, "DL", DMPAPER_ENV_DL},
    {10, "JB4", DMPAPER_B4},
    {11, "JB5", DMPAPER_B5},
    {12, "B5ENV", DMPAPER_ENV_B5},
    {14, "JPOST", DMPAPER_JAPANESE_POSTCARD},
    {16, "A5", DMPAPER_A5},
    {17, "A6", DMPAPER_A6},
};

}  // namespace

uint16_t PaperSizeFromPcl5(int64_t code) {
  for (const CodedPaper& paper : kPcl5Papers) {
    if (paper.code == code) return paper.paper;
  }
  return 0;
}

uint16_t PaperSizeFromPclXl(int64_t media_size) {
  for (const NamedPaper& paper : kPclXlPapers) {
    if (paper.code == media_size) return paper.paper;
  }
  return 0;
}

uint16_t PaperSizeFromPclXlName(const char* name) {
  for (const NamedPaper& paper : kPclXlPapers) {
    const char* a = paper.name;
    const char* b = name;
    while (*a && *b && *a == (*b >= 'a' && *b <= 'z' ? *b - 32 : *b)) {
      ++a;
      ++b;
    }
    // "A4", "A4PAPER", "LETTERPAPER": the name may carry a suffix.
    if (!*a && (!*b || (b[0] | 32) == 'p')) return paper.paper;
  }
  return 0;
}

uint16_t PaperSizeFromPjlName(const char* name) {
  // The PAPER values of the PJL reference.
  static const struct {
    const char* name;
    uint16_t paper;
  } kPjlPapers[] = {
      {"LETTER", DMPAPER_LETTER},   {"LEGAL", DMPAPER_LEGAL},
      {"A4", DMPAPER_A4},           {"A3", DMPAPER_A3},
      {"A5", DMPAPER_A5},           {"A6", DMPAPER_A6},
      {"EXECUTIVE", DMPAPER_EXECUTIVE}, {"LEDGER", DMPAPER_TABLOID},
      {"STATEMENT", DMPAPER_STATEMENT}, {"JISB4", DMPAPER_B4},
      {"JISB5", DMPAPER_B5},        {"COM10", DMPAPER_ENV_10},
      {"MONARCH", DMPAPER_ENV_MONARCH}, {"C5", DMPAPER_ENV_C5},
      {"DL", DMPAPER_ENV_DL},       {"B5", DMPAPER_ENV_B5},
      {"JPOST", DMPAPER_JAPANESE_POSTCARD},
  };
  for (const auto& paper : kPjlPapers) {
    if (std::strcmp(paper.name, name) == 0) return paper.paper;
  }
  return 0;
}

uint16_t PaperSizeFromPoints(double width, double height) {
  if (!std::isfinite(width) || !std::isfinite(height)) return 0;
  width = std::fabs(width);
  height = std::fabs(height);
  double short_side = std::fmin(width, height);
  double long_side = std::fmax(width, height);
  uint16_t best = 0;
  double best_error = kTolerance;
  for (const Paper& paper : kPapers) {
    double error = std::fmax(std::fabs(short_side - paper.short_side),
                             std::fabs(long_side - paper.long_side));
    if (error <= best_error) {
      best = paper.code;
      best_error = error;
    }
  }
  return best;
}

}  // namespace pagecnt
