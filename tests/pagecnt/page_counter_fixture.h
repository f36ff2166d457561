// A fixture that calls pagecnt.dll as the service does, on files it writes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pagecnt.h"

struct CountOutcome {
  int returned = 0;
  uint32_t pages = 0;
  uint16_t paper = 0;
};

class PageCounterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Writes `bytes` to a file in this test's directory; returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes);
  // Writes `bytes` to a file and counts it.
  CountOutcome Count(const std::string& bytes);
  CountOutcome CountFile(const std::string& path);

  static PFN_GET_PAGE_COUNT get_page_count_;

 private:
  static HMODULE module_;
  std::string directory_;
};
