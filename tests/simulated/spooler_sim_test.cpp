// The simulated spooler against what the Win32 reference and [MS-RPRN] say
// of the spooler, seen through the platform functions; and the leak checks
// that make a test fail.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim_fixture.h"
#include "spooler_sim.h"

namespace {

WORD kFields[] = {JOB_NOTIFY_FIELD_STATUS,       JOB_NOTIFY_FIELD_BYTES_PRINTED,
                  JOB_NOTIFY_FIELD_DOCUMENT,     JOB_NOTIFY_FIELD_USER_NAME,
                  JOB_NOTIFY_FIELD_MACHINE_NAME, JOB_NOTIFY_FIELD_TOTAL_PAGES,
                  JOB_NOTIFY_FIELD_DEVMODE,      JOB_NOTIFY_FIELD_SUBMITTED,
                  JOB_NOTIFY_FIELD_TOTAL_BYTES};
constexpr DWORD kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

struct Options {
  PRINTER_NOTIFY_OPTIONS_TYPE type{JOB_NOTIFY_TYPE, 0, 0, 0, kFieldCount, kFields};
  PRINTER_NOTIFY_OPTIONS refresh{2, PRINTER_NOTIFY_OPTIONS_REFRESH, 1, &type};
  PRINTER_NOTIFY_OPTIONS delta{2, 0, 1, &type};
};

// A block seen as (job, field) pairs, and its entries by job and field.
struct Block {
  PPRINTER_NOTIFY_INFO info = nullptr;
  ~Block() {
    if (info) FreePrinterNotifyInfo(info);
  }
  std::vector<std::pair<DWORD, WORD>> Entries() const {
    std::vector<std::pair<DWORD, WORD>> entries;
    for (DWORD i = 0; info && i < info->Count; ++i) {
      entries.emplace_back(info->aData[i].Id, info->aData[i].Field);
    }
    return entries;
  }
  const PRINTER_NOTIFY_INFO_DATA* Entry(DWORD job, WORD field) const {
    for (DWORD i = 0; info && i < info->Count; ++i) {
      if (info->aData[i].Id == job && info->aData[i].Field == field) return &info->aData[i];
    }
    return nullptr;
  }
  DWORD Number(DWORD job, WORD field) const { return Entry(job, field)->NotifyData.adwData[0]; }
  std::wstring Text(DWORD job, WORD field) const {
    const auto& d = Entry(job, field)->NotifyData.Data;
    return std::wstring(static_cast<const wchar_t*>(d.pBuf), d.cbBuf / sizeof(wchar_t) - 1);
  }
};

class SpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(spooler->AddPrinter("Laser"));
    ASSERT_TRUE(OpenPrinterA(const_cast<char*>("Laser"), &printer, nullptr)) << GetLastError();
  }
  void TearDown() override {
    if (change != INVALID_HANDLE_VALUE) FindClosePrinterChangeNotification(change);
    if (printer) ClosePrinter(printer);
  }
  void Arm() {
    change = FindFirstPrinterChangeNotification(printer, PRINTER_CHANGE_DELETE_JOB, 0,
                                                &options.refresh);
    ASSERT_NE(change, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void Next(Block& block, bool refresh) {
    void* info = nullptr;
    EXPECT_TRUE(FindNextPrinterChangeNotification(change, nullptr,
                                                  refresh ? &options.refresh : &options.delta,
                                                  &info))
        << GetLastError();
    block.info = static_cast<PPRINTER_NOTIFY_INFO>(info);
  }
  bool Signalled() const { return WaitForSingleObject(change, 0) == WAIT_OBJECT_0; }

  sim::Owned<sim::Spooler> spooler;
  Options options;
  HANDLE printer = nullptr;
  HANDLE change = INVALID_HANDLE_VALUE;
};

TEST_F(SpoolerTest, UnknownPrinterDoesNotOpen) {
  HANDLE h = nullptr;
  EXPECT_FALSE(OpenPrinterA(const_cast<char*>("Nope"), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
}

// FindFirst: the object is signalled when an asked field changes; FindNext
// resets it.
TEST_F(SpoolerTest, ChangeNotificationIsSignalledByAChangeAndResetByFetching) {
  Arm();
  EXPECT_FALSE(Signalled());
  DWORD id = spooler->AddJob("Laser");
  HANDLE handles[] = {change};
  EXPECT_EQ(WaitForMultipleObjects(1, handles, FALSE, 5000), WAIT_OBJECT_0);
  { Block b; Next(b, false); }
  EXPECT_FALSE(Signalled()) << "FindNext leaves the handle signalled";
  spooler->UpdateJob(id, [](sim::JobFields& f) { f.bytesPrinted = 10; });
  EXPECT_TRUE(Signalled()) << "a change of an asked field does not signal";
  { Block b; Next(b, false); }
  spooler->RemoveJob(id);
  EXPECT_TRUE(Signalled()) << "a job leaving the queue does not signal";
}

// FindNext, ppPrinterNotifyInfo: with the refresh flag, every monitored
// field; typically only the fields that changed.
TEST_F(SpoolerTest, RefreshListsEveryQueuedJobAndDeltasOnlyWhatChanged) {
  Arm();
  DWORD first = spooler->AddJob("Laser");
  DWORD second = spooler->AddJob("Laser");
  {
    Block refresh;
    Next(refresh, true);
    ASSERT_NE(refresh.info, nullptr);
    EXPECT_EQ(refresh.info->Version, 2u);
    ASSERT_EQ(refresh.info->Count, 2 * kFieldCount);
    for (DWORD i = 0; i < refresh.info->Count; ++i) {
      EXPECT_EQ(refresh.info->aData[i].Field, kFields[i % kFieldCount]) << i;
      EXPECT_EQ(refresh.info->aData[i].Id, i < kFieldCount ? first : second) << i;
    }
  }
  spooler->UpdateJob(second, [](sim::JobFields& f) { f.bytesPrinted = 7; });
  spooler->UpdateJob(first, [](sim::JobFields& f) { f.status = JOB_STATUS_PRINTING; });
  spooler->UpdateJob(first, [](sim::JobFields& f) { f.status = JOB_STATUS_PRINTED; });
  spooler->RemoveJob(second);
  Block delta;
  Next(delta, false);
  // Two jobs in one block; the two status changes collapsed into one entry
  // with the current data; the removal is the status with JOB_STATUS_DELETED.
  using E = std::pair<DWORD, WORD>;
  EXPECT_EQ(delta.Entries(), (std::vector<E>{{first, JOB_NOTIFY_FIELD_STATUS},
                                              {second, JOB_NOTIFY_FIELD_STATUS},
                                              {second, JOB_NOTIFY_FIELD_BYTES_PRINTED}}));
  EXPECT_EQ(delta.Number(first, JOB_NOTIFY_FIELD_STATUS), static_cast<DWORD>(JOB_STATUS_PRINTED));
  EXPECT_EQ(delta.Number(second, JOB_NOTIFY_FIELD_STATUS), static_cast<DWORD>(JOB_STATUS_DELETED));
  Block after;
  Next(after, true);
  EXPECT_EQ(after.info->Count, kFieldCount) << "the removed job is still listed by a refresh";
}

// PRINTER_NOTIFY_INFO_DATA and [MS-RPRN 2.2.1.2.15, 2.2.1.2.1, 2.2.2.1]:
// texts UTF-16 with cbBuf in bytes, a DEVMODEW of its own dmSize, the
// submission a SYSTEMTIME in UTC.
TEST_F(SpoolerTest, BlockCarriesUtf16TextsADevModeWAndAUtcTime) {
  Arm();
  sim::JobFields job;
  job.document = L"R\u00E9sum\u00E9 2026.pdf";
  job.user = L"Zo\u00EB";
  job.machine.reset();
  job.totalPages = 3;
  job.devMode = sim::MakeDevMode(DMPAPER_A3, 2, DMCOLOR_COLOR, DMDUP_VERTICAL);
  job.devMode->dmSize = offsetof(DEVMODEW, dmColor);   // an older, smaller layout
  job.submitted = SYSTEMTIME{2025, 1, 0, 2, 3, 4, 5, 0};
  DWORD id = spooler->AddJob("Laser", job);
  Block b;
  Next(b, true);
  EXPECT_EQ(b.Text(id, JOB_NOTIFY_FIELD_USER_NAME), L"Zo\u00EB");
  EXPECT_EQ(b.Entry(id, JOB_NOTIFY_FIELD_USER_NAME)->NotifyData.Data.cbBuf, 8u) << "bytes";
  EXPECT_EQ(b.Text(id, JOB_NOTIFY_FIELD_DOCUMENT), L"R\u00E9sum\u00E9 2026.pdf");
  EXPECT_EQ(b.Entry(id, JOB_NOTIFY_FIELD_MACHINE_NAME)->NotifyData.Data.pBuf, nullptr);
  EXPECT_EQ(b.Number(id, JOB_NOTIFY_FIELD_TOTAL_PAGES), 3u);
  const auto& dm = b.Entry(id, JOB_NOTIFY_FIELD_DEVMODE)->NotifyData.Data;
  EXPECT_EQ(dm.cbBuf, offsetof(DEVMODEW, dmColor));
  EXPECT_EQ(static_cast<const DEVMODEW*>(dm.pBuf)->dmCopies, 2);
  const auto* st =
      static_cast<const SYSTEMTIME*>(b.Entry(id, JOB_NOTIFY_FIELD_SUBMITTED)->NotifyData.Data.pBuf);
  EXPECT_EQ(st->wYear, 2025);
  EXPECT_EQ(st->wSecond, 5);
}

// PRINTER_NOTIFY_INFO, Remarks, and [MS-RPRN 2.2.1.13.3]: after a block
// flagged as discarded nothing is sent until a refresh is asked for.
TEST_F(SpoolerTest, DiscardedBlockSilencesTheNotificationUntilARefresh) {
  Arm();
  DWORD id = spooler->AddJob("Laser");
  spooler->DiscardNextFetches(1);
  {
    Block b;
    Next(b, false);
    EXPECT_EQ(b.info->Flags, static_cast<DWORD>(PRINTER_NOTIFY_INFO_DISCARDED));
  }
  spooler->UpdateJob(id, [](sim::JobFields& f) { f.bytesPrinted = 1; });
  EXPECT_FALSE(Signalled());
  {
    Block b;
    Next(b, true);
    EXPECT_EQ(b.info->Flags, 0u);
    EXPECT_EQ(b.Number(id, JOB_NOTIFY_FIELD_BYTES_PRINTED), 1u);
  }
  spooler->UpdateJob(id, [](sim::JobFields& f) { f.bytesPrinted = 2; });
  EXPECT_TRUE(Signalled()) << "the refresh did not end the silence";
  { Block b; Next(b, false); }
  // An overflow of changes is discarded the same way.
  for (int i = 0; i < 300; ++i) {
    spooler->UpdateJob(id, [i](sim::JobFields& f) { f.bytesPrinted = 100 + i; });
    spooler->UpdateJob(id, [i](sim::JobFields& f) { f.totalPages = 100 + i; });
  }
  for (int i = 0; i < 100; ++i) spooler->AddJob("Laser");
  Block b;
  Next(b, false);
  EXPECT_EQ(b.info->Flags, static_cast<DWORD>(PRINTER_NOTIFY_INFO_DISCARDED));
}

// JOB_INFO_2 statuses; PRINTER_INFO_2 PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS:
// without it a printed job is deleted.
TEST_F(SpoolerTest, APrintedJobLeavesTheQueueUnlessThePrinterKeepsIt) {
  sim::JobFields job;
  job.totalBytes = 100;
  DWORD gone = spooler->AddJob("Laser", job);
  ASSERT_TRUE(spooler->PrintJob(gone));
  EXPECT_TRUE(spooler->Queue("Laser").empty());
  spooler->KeepPrintedJobs("Laser", true);
  DWORD kept = spooler->AddJob("Laser", job);
  ASSERT_TRUE(spooler->PrintJob(kept));
  ASSERT_EQ(spooler->Queue("Laser"), std::vector<DWORD>{kept});
  EXPECT_EQ(spooler->Job(kept)->status, static_cast<DWORD>(JOB_STATUS_PRINTED));
  EXPECT_EQ(spooler->Job(kept)->bytesPrinted, 100u);
}

// SetJob: the commands; "INVALID_PARAMETER when a JobID does not exist".
TEST_F(SpoolerTest, JobCommandsAreRecordedAppliedOrRefused) {
  DWORD paused = spooler->AddJob("Laser");
  DWORD deleted = spooler->AddJob("Laser");
  EXPECT_TRUE(SetJobA(printer, paused, 0, nullptr, JOB_CONTROL_PAUSE));
  EXPECT_TRUE(SetJobA(printer, deleted, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_FALSE(SetJobA(printer, 999, 0, nullptr, JOB_CONTROL_PAUSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  spooler->FailNextSetJobs(1);
  EXPECT_FALSE(SetJobA(printer, paused, 0, nullptr, JOB_CONTROL_RESUME));
  EXPECT_EQ(spooler->Queue("Laser"), std::vector<DWORD>{paused});
  EXPECT_EQ(spooler->Job(paused)->status, static_cast<DWORD>(JOB_STATUS_PAUSED));
  std::vector<sim::JobCommand> expected = {{"Laser", paused, JOB_CONTROL_PAUSE, true},
                                           {"Laser", deleted, JOB_CONTROL_DELETE, true},
                                           {"Laser", 999, JOB_CONTROL_PAUSE, false},
                                           {"Laser", paused, JOB_CONTROL_RESUME, false}};
  EXPECT_EQ(spooler->Commands(), expected);
}

// GetJob and EnumJobs: the size protocol; Code Pages: the ANSI forms use
// the ANSI code page, and give a DEVMODEA.
TEST_F(SpoolerTest, JobListingsFollowTheSizeProtocolInBothForms) {
  DWORD needed = 1, returned = 1;
  EXPECT_TRUE(EnumJobsA(printer, 0, 0xFFFFFFFF, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(needed, 0u);
  sim::JobFields job;
  job.user = L"Zo\u00EB";
  job.totalBytes = 1234;
  job.devMode = sim::MakeDevMode(DMPAPER_A3, 3, DMCOLOR_COLOR, DMDUP_VERTICAL);
  DWORD id = spooler->AddJob("Laser", job);
  EXPECT_FALSE(EnumJobsA(printer, 0, 0xFFFFFFFF, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> ansi(needed);
  ASSERT_TRUE(EnumJobsA(printer, 0, 0xFFFFFFFF, 2, ansi.data(), needed, &needed, &returned));
  ASSERT_EQ(returned, 1u);
  const auto* a = reinterpret_cast<const JOB_INFO_2A*>(ansi.data());
  if (GetACP() == 1252) {
    EXPECT_STREQ(a->pUserName, "Zo\xEB");
  }
  EXPECT_EQ(a->Size, 1234u);
  EXPECT_EQ(a->pDevMode->dmSize, sizeof(DEVMODEA));
  EXPECT_EQ(a->pDevMode->dmCopies, 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(a->pDevMode->dmDeviceName), "Simulated Printer");

  EXPECT_FALSE(GetJobW(printer, id, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> wide(needed);
  ASSERT_TRUE(GetJobW(printer, id, 2, wide.data(), needed, &needed));
  const auto* w = reinterpret_cast<const JOB_INFO_2W*>(wide.data());
  EXPECT_STREQ(w->pUserName, L"Zo\u00EB");
  EXPECT_EQ(w->pDevMode->dmSize, sizeof(DEVMODEW));
  EXPECT_EQ(w->pDevMode->dmDuplex, DMDUP_VERTICAL);
  EXPECT_FALSE(GetJobA(printer, id + 1, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
      << "an unknown job must not look like a size question";
}

// RPC context handles: a handle becomes invalid when the server restarts;
// a stopped server is not reached at all. The queues are the spooler's own.
TEST_F(SpoolerTest, ARestartInvalidatesEveryHandleAndKeepsTheQueues) {
  Arm();
  DWORD id = spooler->AddJob("Laser");
  spooler->Stop();
  void* info = nullptr;
  EXPECT_FALSE(FindNextPrinterChangeNotification(change, nullptr, &options.delta, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  HANDLE h = nullptr;
  EXPECT_FALSE(OpenPrinterA(const_cast<char*>("Laser"), &h, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  spooler->Start();
  EXPECT_FALSE(SetJobA(printer, id, 0, nullptr, JOB_CONTROL_PAUSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindNextPrinterChangeNotification(change, nullptr, &options.delta, &info));
  EXPECT_EQ(spooler->Queue("Laser"), std::vector<DWORD>{id});
  // The dead handles are still the client's to give back (TearDown does).
  EXPECT_NE(spooler->Leaks().find("1 printer handle(s) still open"), std::string::npos);
  ASSERT_TRUE(OpenPrinterA(const_cast<char*>("Laser"), &h, nullptr));
  EXPECT_TRUE(SetJobA(h, id, 0, nullptr, JOB_CONTROL_PAUSE));
  ClosePrinter(h);
}

TEST_F(SpoolerTest, WaitsEndWhenTheCodeUnderTestActs) {
  Arm();
  DWORD id = spooler->AddJob("Laser");
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* args = static_cast<std::pair<HANDLE, HANDLE>*>(p);
        WaitForSingleObject(args->second, INFINITE);
        void* info = nullptr;
        FindNextPrinterChangeNotification(args->second, nullptr, nullptr, &info);
        auto* block = static_cast<PPRINTER_NOTIFY_INFO>(info);
        SetJobA(args->first, block->aData[0].Id, 0, nullptr, JOB_CONTROL_PAUSE);
        FreePrinterNotifyInfo(block);
        delete args;
        return 0;
      },
      new std::pair<HANDLE, HANDLE>(printer, change), 0, nullptr);
  EXPECT_TRUE(spooler->WaitForCommands(1, 10000));
  WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
  EXPECT_EQ(spooler->Commands().at(0).jobId, id);
}

// The leak checks, each seen failing on its own fault.
TEST(SpoolerLeaksTest, EachFaultOfTheCodeUnderTestIsNamed) {
  sim::Spooler spooler;
  spooler.AddPrinter("Laser");
  spooler.AddJob("Laser");
  EXPECT_EQ(spooler.Leaks(), "");

  HANDLE h1 = nullptr, h2 = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<char*>("Laser"), &h1, nullptr));
  ASSERT_TRUE(OpenPrinterA(const_cast<char*>("laser"), &h2, nullptr)) << "names ignore case";
  EXPECT_NE(h1, h2);
  EXPECT_NE(spooler.Leaks().find("2 printer handle(s) still open"), std::string::npos)
      << spooler.Leaks();
  ClosePrinter(h2);
  EXPECT_FALSE(ClosePrinter(h2));
  EXPECT_NE(spooler.Leaks().find("1 ClosePrinter call(s) on a handle not open"), std::string::npos)
      << spooler.Leaks();
  EXPECT_FALSE(SetJobA(h2, 1, 0, nullptr, JOB_CONTROL_PAUSE));
  EXPECT_NE(spooler.Leaks().find("1 call(s) with a printer or notification handle not open"),
            std::string::npos)
      << spooler.Leaks();

  Options options;
  HANDLE change = FindFirstPrinterChangeNotification(h1, PRINTER_CHANGE_DELETE_JOB, 0,
                                                     &options.refresh);
  EXPECT_NE(spooler.Leaks().find("1 change notification(s) still open"), std::string::npos)
      << spooler.Leaks();
  void* info = nullptr;
  ASSERT_TRUE(FindNextPrinterChangeNotification(change, nullptr, &options.refresh, &info));
  EXPECT_NE(spooler.Leaks().find("1 notification block(s) never freed"), std::string::npos)
      << spooler.Leaks();
  EXPECT_TRUE(FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info)));
  EXPECT_FALSE(FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info)));
  EXPECT_NE(spooler.Leaks().find("1 FreePrinterNotifyInfo call(s) on a block not given out or "
                                 "already freed"),
            std::string::npos)
      << spooler.Leaks();
  EXPECT_TRUE(FindClosePrinterChangeNotification(change));
  EXPECT_FALSE(FindClosePrinterChangeNotification(change));
  EXPECT_NE(spooler.Leaks().find("1 FindClosePrinterChangeNotification call(s) on a handle not "
                                 "open"),
            std::string::npos)
      << spooler.Leaks();
  ClosePrinter(h1);
  EXPECT_EQ(spooler.Leaks().find("still open"), std::string::npos) << spooler.Leaks();
}

}  // namespace
