#include "usage_report/svg_chart.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "usage_report/markup_text.h"

namespace usage_report {

namespace {

struct Bar {
  std::string label;
  int64_t pages;
  int64_t colour;
};

std::vector<Bar> Bars(const ReportTable& table) {
  std::vector<Bar> bars;
  const int pages = table.Column("pages");
  const int colour = table.Column("colour_pages");
  if (pages < 0 || colour < 0) return bars;
  for (const ReportRow& row : table.rows) {
    bars.push_back({row.label, row.values[pages], row.values[colour]});
  }
  return bars;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", value);
  return text;
}

// The attributes and the tooltip that every bar carries.
std::string BarOpen(const char* pszClass, const Bar& bar) {
  const std::string label = EscapeMarkup(bar.label);
  return std::string("<g class=\"") + pszClass + "\" data-label=\"" + label +
         "\" data-pages=\"" + std::to_string(bar.pages) + "\" data-colour-pages=\"" +
         std::to_string(bar.colour) + "\"><title>" + label + ": " + std::to_string(bar.pages) +
         " pages, " + std::to_string(bar.colour) + " in colour</title>";
}

std::string Rect(const char* pszClass, double x, double y, double width, double height) {
  return std::string("<rect class=\"") + pszClass + "\" x=\"" + Number(x) + "\" y=\"" +
         Number(y) + "\" width=\"" + Number(width) + "\" height=\"" + Number(height) + "\"/>";
}

std::string Legend(double x, double y) {
  return "<g class=\"legend\">" + Rect("mono", x, y - 10, 12, 12) + "<text x=\"" +
         Number(x + 16) + "\" y=\"" + Number(y) + "\">mono</text>" +
         Rect("colour", x + 70, y - 10, 12, 12) + "<text x=\"" + Number(x + 86) + "\" y=\"" +
         Number(y) + "\">colour</text></g>";
}

}  // namespace

std::string PagesBarChart(const ReportTable& table) {
  std::vector<Bar> bars = Bars(table);
  if (bars.empty()) return "";
  std::stable_sort(bars.begin(), bars.end(),
                   [](const Bar& a, const Bar& b) { return a.pages > b.pages; });
  if (bars.size() > kChartBars) bars.resize(kChartBars);
  int64_t most = 1;
  for (const Bar& b : bars) most = std::max(most, b.pages);

  // Names on the left, bars from x0 up to x0 + span, the count after each.
  const double x0 = 210, span = 480, step = 24, height = 16, top = 34;
  const double chartHeight = top + step * static_cast<double>(bars.size()) + 8;
  std::string svg = "<svg class=\"chart bars\" xmlns=\"http://www.w3.org/2000/svg\" "
                    "viewBox=\"0 0 800 " + Number(chartHeight) + "\" role=\"img\" aria-label=\"Pages per " +
                    GroupWord(table.by) + "\">";
  svg += Legend(x0, 16);
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& b = bars[i];
    const double y = top + step * static_cast<double>(i);
    const double wMono = span * static_cast<double>(b.pages - b.colour) / static_cast<double>(most);
    const double wColour = span * static_cast<double>(b.colour) / static_cast<double>(most);
    svg += BarOpen("bar", b);
    svg += "<text class=\"name\" x=\"" + Number(x0 - 8) + "\" y=\"" + Number(y + 12.5) +
           "\" text-anchor=\"end\">" + EscapeMarkup(ShortenUtf8(b.label, 28)) + "</text>";
    svg += Rect("mono", x0, y, wMono, height);
    svg += Rect("colour", x0 + wMono, y, wColour, height);
    svg += "<text class=\"value\" x=\"" + Number(x0 + wMono + wColour + 6) + "\" y=\"" +
           Number(y + 12.5) + "\">" + std::to_string(b.pages) + "</text></g>";
  }
  return svg + "</svg>";
}

std::string PagesOverTimeChart(const ReportTable& table) {
  const std::vector<Bar> bars = Bars(table);
  if (bars.empty()) return "";
  int64_t most = 1;
  for (const Bar& b : bars) most = std::max(most, b.pages);

  // The plot from (left, bottom) up to (right, top); at most some 9 labels
  // under it, so that they never overlap.
  const double left = 60, right = 780, top = 30, bottom = 230;
  const double slot = (right - left) / static_cast<double>(bars.size());
  const double width = std::max(slot * 0.8, 0.5);
  const size_t labelEvery = (bars.size() + 8) / 9;
  std::string svg = "<svg class=\"chart time\" xmlns=\"http://www.w3.org/2000/svg\" "
                    "viewBox=\"0 0 800 270\" role=\"img\" aria-label=\"Pages per " +
                    std::string(GroupWord(table.by)) + "\">";
  svg += Legend(left, 16);
  svg += "<line class=\"axis\" x1=\"" + Number(left) + "\" y1=\"" + Number(bottom) + "\" x2=\"" +
         Number(right) + "\" y2=\"" + Number(bottom) + "\"/>";
  svg += "<line class=\"grid\" x1=\"" + Number(left) + "\" y1=\"" + Number(top) + "\" x2=\"" +
         Number(right) + "\" y2=\"" + Number(top) + "\"/>";
  svg += "<text class=\"scale\" x=\"" + Number(left - 6) + "\" y=\"" + Number(top + 4) +
         "\" text-anchor=\"end\">" + std::to_string(most) + "</text>";
  svg += "<text class=\"scale\" x=\"" + Number(left - 6) + "\" y=\"" + Number(bottom + 4) +
         "\" text-anchor=\"end\">0</text>";
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& b = bars[i];
    const double x = left + slot * static_cast<double>(i) + (slot - width) / 2;
    const double hMono = (bottom - top) * static_cast<double>(b.pages - b.colour) /
                         static_cast<double>(most);
    const double hColour =
        (bottom - top) * static_cast<double>(b.colour) / static_cast<double>(most);
    svg += BarOpen("step", b);
    svg += Rect("mono", x, bottom - hMono, width, hMono);
    svg += Rect("colour", x, bottom - hMono - hColour, width, hColour);
    if (i % labelEvery == 0) {
      svg += "<text class=\"tick\" x=\"" + Number(x + width / 2) + "\" y=\"" +
             Number(bottom + 16) + "\" text-anchor=\"middle\">" + EscapeMarkup(b.label) +
             "</text>";
    }
    svg += "</g>";
  }
  return svg + "</svg>";
}

}  // namespace usage_report
