// Writes ZIP archives for the XPS tests: stored or deflated items, with a
// central directory.
#pragma once

#include <string>
#include <vector>

struct ZipItem {
  std::string name;
  std::string data;
  bool deflate = false;
};

std::string ZipArchiveOf(const std::vector<ZipItem>& items);
