// Loading the watched printers from the two lists, on the simulated spooler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor_harness.h"
#include "printer_monitor/ini_file.h"
#include "service_core/text_utils.h"

namespace {

struct LISTED {
  std::string name;
  DWORD dwKind;
  bool operator==(const LISTED& o) const { return name == o.name && dwKind == o.dwKind; }
};

std::ostream& operator<<(std::ostream& out, const LISTED& p) {
  return out << p.name << "/" << p.dwKind;
}

class LoadPrintersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"Laser", "Inkjet", "Plotter"}) ASSERT_TRUE(h.spooler->AddPrinter(name));
  }
  void TearDown() override { h.ClosePrinters(); }

  // The elements loaded; those that did not open are marked with a "!".
  std::vector<LISTED> Loaded() const {
    std::vector<LISTED> loaded;
    for (const CPrnObj& p : h.service->m_printers) {
      loaded.push_back({std::string(p.m_hPrinter ? "" : "!") + p.m_pszName, p.m_dwKind});
    }
    return loaded;
  }
  std::vector<std::vector<std::string>> EventStrings() const {
    std::vector<std::vector<std::string>> strings;
    for (const sim::LoggedEvent& e : h.eventLog->Events()) strings.push_back(e.strings);
    return strings;
  }

  CMonitorHarness h;
};

const std::vector<std::string> kBadIniFile = {"Bad ini file"};

TEST_F(LoadPrintersTest, BothListsMissingAreCreatedAndNothingIsWatched) {
  EXPECT_FALSE(h.service->LoadPrinters());
  EXPECT_EQ(h.eventLog->Ids(), (std::vector<DWORD>{EVMSG_ERROR, EVMSG_ERROR}));
  EXPECT_EQ(EventStrings(), (std::vector<std::vector<std::string>>{kBadIniFile, kBadIniFile}));
  const std::string header = std::string(kListHeader) + "\r\n";
  EXPECT_EQ(h.dir.Read(kPrinterListFile), header);
  EXPECT_EQ(h.dir.Read(kGdiPrinterListFile), header);
  EXPECT_TRUE(h.service->m_printers.empty());
}

TEST_F(LoadPrintersTest, OnlyGdiPrintersListedGivesOneEventAndLoadsThem) {
  h.WriteLists({}, {"Laser", "Inkjet"});
  EXPECT_TRUE(h.service->LoadPrinters());
  EXPECT_EQ(EventStrings(), (std::vector<std::vector<std::string>>{kBadIniFile}));
  EXPECT_EQ(Loaded(), (std::vector<LISTED>{{"Laser", PRN_GDI}, {"Inkjet", PRN_GDI}}));
}

TEST_F(LoadPrintersTest, OnlyOrdinaryPrintersListedLoadsThemSilently) {
  h.WriteLists({"Inkjet", "Laser"}, {});
  EXPECT_TRUE(h.service->LoadPrinters());
  EXPECT_TRUE(h.eventLog->Events().empty());
  EXPECT_EQ(Loaded(), (std::vector<LISTED>{{"Inkjet", PRN_NORMAL}, {"Laser", PRN_NORMAL}}));
}

TEST_F(LoadPrintersTest, GdiListThatCannotBeOpenedStopsTheLoad) {
  h.WriteLists({"Laser"}, {});
  DeleteFileA(kGdiPrinterListFile);
  ASSERT_TRUE(CreateDirectoryA(kGdiPrinterListFile, nullptr));   // no file opens there
  EXPECT_FALSE(h.service->LoadPrinters());
  EXPECT_EQ(EventStrings(), (std::vector<std::vector<std::string>>{kBadIniFile}));
  RemoveDirectoryA(kGdiPrinterListFile);
}

// The unknown one is kept, not open, for the watcher to try again.
TEST_F(LoadPrintersTest, UnknownPrinterIsReportedAndKeptUnopenedInOrder) {
  h.WriteLists({"Plotter", "Nowhere", "Laser"}, {});
  EXPECT_TRUE(h.service->LoadPrinters());
  SetLastError(ERROR_INVALID_PRINTER_NAME);
  LocalBuffer<char> text(GetLastErrorText());
  auto events = h.eventLog->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, EVMSG_PRINTER_INIT);
  EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[0].strings, (std::vector<std::string>{"Nowhere", text.get()}));
  EXPECT_EQ(Loaded(), (std::vector<LISTED>{
                          {"Plotter", PRN_NORMAL}, {"!Nowhere", PRN_NORMAL}, {"Laser", PRN_NORMAL}}));
}

TEST_F(LoadPrintersTest, PrinterInBothListsGivesTwoElementsWithTheirOwnHandles) {
  h.WriteLists({"Laser"}, {"Laser"});
  EXPECT_TRUE(h.service->LoadPrinters());
  EXPECT_EQ(Loaded(), (std::vector<LISTED>{{"Laser", PRN_NORMAL}, {"Laser", PRN_GDI}}));
  ASSERT_EQ(h.service->m_printers.size(), 2u);
  EXPECT_NE(h.service->m_printers[0].m_hPrinter, h.service->m_printers[1].m_hPrinter);
  EXPECT_EQ(h.spooler->Counts().openPrinters, 2);
}

}  // namespace
