// The simulated spooler seen through the platform functions, as the printer
// monitoring calls them: what the watcher and the housekeeping rely on, and
// the leak checks that make a test fail.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim_fixture.h"
#include "spooler_sim.h"

namespace {

// The fields and their order that the watcher asks for.
WORD kFields[] = {JOB_NOTIFY_FIELD_STATUS,       JOB_NOTIFY_FIELD_BYTES_PRINTED,
                  JOB_NOTIFY_FIELD_DOCUMENT,     JOB_NOTIFY_FIELD_USER_NAME,
                  JOB_NOTIFY_FIELD_MACHINE_NAME, JOB_NOTIFY_FIELD_TOTAL_PAGES,
                  JOB_NOTIFY_FIELD_DEVMODE,      JOB_NOTIFY_FIELD_SUBMITTED,
                  JOB_NOTIFY_FIELD_TOTAL_BYTES};
constexpr DWORD kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

struct Options {
  PRINTER_NOTIFY_OPTIONS_TYPE type{JOB_NOTIFY_TYPE, 0, 0, 0, kFieldCount, kFields};
  PRINTER_NOTIFY_OPTIONS options{2, PRINTER_NOTIFY_OPTIONS_REFRESH, 1, &type};
};

const PRINTER_NOTIFY_INFO_DATA* EntryOf(const PRINTER_NOTIFY_INFO* info, DWORD job, WORD field) {
  for (DWORD i = 0; i < info->Count; ++i) {
    if (info->aData[i].Id == job && info->aData[i].Field == field) return &info->aData[i];
  }
  return nullptr;
}

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
                                                &options.options);
    ASSERT_NE(change, INVALID_HANDLE_VALUE) << GetLastError();
  }
  PPRINTER_NOTIFY_INFO Next() {
    DWORD what = 0;
    void* info = nullptr;
    EXPECT_TRUE(FindNextPrinterChangeNotification(change, &what, &options.options, &info))
        << GetLastError();
    return static_cast<PPRINTER_NOTIFY_INFO>(info);
  }
  bool Signalled() const { return WaitForSingleObject(change, 0) == WAIT_OBJECT_0; }
  // EnumJobsA level 2 as the housekeeping calls it.
  std::vector<JOB_INFO_2A> Jobs(std::vector<BYTE>& buffer) {
    DWORD needed = 0, returned = 0;
    if (!EnumJobsA(printer, 0, 0xFFFFFFFF, 2, nullptr, 0, &needed, &returned)) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
    buffer.assign(needed, 0);
    EXPECT_TRUE(EnumJobsA(printer, 0, 0xFFFFFFFF, 2, buffer.data(), needed, &needed, &returned));
    auto* first = reinterpret_cast<JOB_INFO_2A*>(buffer.data());
    return std::vector<JOB_INFO_2A>(first, first + returned);
  }

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

TEST_F(SpoolerTest, ChangeNotificationIsSignalledByAQueueChangeAndResetByFetching) {
  Arm();
  EXPECT_FALSE(Signalled());
  DWORD id = spooler->AddJob("Laser");
  // The watcher's wait is real: a kernel wait on the handle returns.
  HANDLE handles[] = {change};
  EXPECT_EQ(WaitForMultipleObjects(1, handles, FALSE, 5000), WAIT_OBJECT_0);
  FreePrinterNotifyInfo(Next());
  EXPECT_FALSE(Signalled()) << "FindNext leaves the handle signalled";
  spooler->UpdateJob(id, [](sim::JobFields& f) { f.bytesPrinted = 10; });
  EXPECT_TRUE(Signalled()) << "an update of a job does not signal";
  FreePrinterNotifyInfo(Next());
  spooler->RemoveJob(id);
  EXPECT_TRUE(Signalled()) << "a job leaving the queue does not signal";
  FreePrinterNotifyInfo(Next());
}

TEST_F(SpoolerTest, BlockListsEveryJobInQueueOrderWithTheFieldsInTheOrderAsked) {
  Arm();
  DWORD first = spooler->AddJob("Laser");
  DWORD second = spooler->AddJob("Laser");
  ASSERT_LT(first, second);
  PPRINTER_NOTIFY_INFO info = Next();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Version, 2u);
  EXPECT_EQ(info->Flags, 0u);
  ASSERT_EQ(info->Count, 2 * kFieldCount);
  for (DWORD i = 0; i < info->Count; ++i) {
    EXPECT_EQ(info->aData[i].Type, JOB_NOTIFY_TYPE) << i;
    EXPECT_EQ(info->aData[i].Field, kFields[i % kFieldCount]) << i;
    EXPECT_EQ(info->aData[i].Id, i < kFieldCount ? first : second) << i;
  }
  FreePrinterNotifyInfo(info);
}

TEST_F(SpoolerTest, BlockCarriesTheJobsFactsInTheAnsiLayouts) {
  Arm();
  sim::JobFields job;
  job.document = "Report.pdf";
  job.user = "alice";
  job.machine = "\\\\DESK7";
  job.status = JOB_STATUS_PRINTING;
  job.bytesPrinted = 100;
  job.totalBytes = 400;
  job.totalPages = 3;
  job.devMode = sim::MakeDevMode(DMPAPER_LETTER, 2, DMCOLOR_COLOR, DMDUP_VERTICAL);
  job.submitted = SYSTEMTIME{2025, 1, 0, 2, 3, 4, 5, 0};
  DWORD id = spooler->AddJob("Laser", job);
  PPRINTER_NOTIFY_INFO info = Next();
  ASSERT_NE(info, nullptr);
  auto number = [&](WORD f) { return EntryOf(info, id, f)->NotifyData.adwData[0]; };
  auto text = [&](WORD f) {
    return std::string(static_cast<const char*>(EntryOf(info, id, f)->NotifyData.Data.pBuf));
  };
  EXPECT_EQ(number(JOB_NOTIFY_FIELD_STATUS), static_cast<DWORD>(JOB_STATUS_PRINTING));
  EXPECT_EQ(number(JOB_NOTIFY_FIELD_BYTES_PRINTED), 100u);
  EXPECT_EQ(number(JOB_NOTIFY_FIELD_TOTAL_BYTES), 400u);
  EXPECT_EQ(number(JOB_NOTIFY_FIELD_TOTAL_PAGES), 3u);
  EXPECT_EQ(text(JOB_NOTIFY_FIELD_DOCUMENT), "Report.pdf");
  EXPECT_EQ(text(JOB_NOTIFY_FIELD_USER_NAME), "alice");
  EXPECT_EQ(text(JOB_NOTIFY_FIELD_MACHINE_NAME), "\\\\DESK7");
  EXPECT_EQ(EntryOf(info, id, JOB_NOTIFY_FIELD_USER_NAME)->NotifyData.Data.cbBuf, 6u);
  auto* dm = static_cast<const DEVMODEA*>(EntryOf(info, id, JOB_NOTIFY_FIELD_DEVMODE)->NotifyData.Data.pBuf);
  EXPECT_EQ(dm->dmPaperSize, DMPAPER_LETTER);
  EXPECT_EQ(dm->dmCopies, 2);
  EXPECT_EQ(dm->dmColor, DMCOLOR_COLOR);
  EXPECT_EQ(dm->dmDuplex, DMDUP_VERTICAL);
  auto* st = static_cast<const SYSTEMTIME*>(EntryOf(info, id, JOB_NOTIFY_FIELD_SUBMITTED)->NotifyData.Data.pBuf);
  EXPECT_EQ(st->wYear, 2025);
  EXPECT_EQ(st->wSecond, 5);
  FreePrinterNotifyInfo(info);
}

TEST_F(SpoolerTest, FieldWithoutValueIsReportedWithoutData) {
  Arm();
  sim::JobFields job;
  job.user.reset();
  job.devMode.reset();
  DWORD id = spooler->AddJob("Laser", job);
  PPRINTER_NOTIFY_INFO info = Next();
  ASSERT_NE(info, nullptr);
  for (WORD f : {JOB_NOTIFY_FIELD_USER_NAME, JOB_NOTIFY_FIELD_DEVMODE}) {
    const PRINTER_NOTIFY_INFO_DATA* e = EntryOf(info, id, f);
    ASSERT_NE(e, nullptr) << f;
    EXPECT_EQ(e->NotifyData.Data.cbBuf, 0u) << f;
    EXPECT_EQ(e->NotifyData.Data.pBuf, nullptr) << f;
  }
  FreePrinterNotifyInfo(info);
}

TEST_F(SpoolerTest, InjectedFetchFaults) {
  Arm();
  spooler->AddJob("Laser");
  spooler->FailNextFetches(1);
  void* info = nullptr;
  EXPECT_FALSE(FindNextPrinterChangeNotification(change, nullptr, &options.options, &info));
  EXPECT_EQ(info, nullptr);

  spooler->DiscardNextFetches(1);
  PPRINTER_NOTIFY_INFO discarded = Next();
  ASSERT_NE(discarded, nullptr);
  EXPECT_EQ(discarded->Flags, static_cast<DWORD>(PRINTER_NOTIFY_INFO_DISCARDED));
  EXPECT_EQ(discarded->Count, 0u);
  FreePrinterNotifyInfo(discarded);

  spooler->EmptyNextFetches(1);
  PPRINTER_NOTIFY_INFO empty = Next();
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->Flags, 0u);
  EXPECT_EQ(empty->Count, 0u);
  FreePrinterNotifyInfo(empty);

  PPRINTER_NOTIFY_INFO full = Next();
  EXPECT_EQ(full->Count, kFieldCount) << "the faults outlast the calls they were set for";
  FreePrinterNotifyInfo(full);

  std::vector<sim::Fetch> fetches = spooler->Fetches();
  ASSERT_EQ(fetches.size(), 4u);
  EXPECT_EQ(fetches[0].outcome, sim::spool::FetchOutcome::Failed);
  EXPECT_EQ(fetches[1].outcome, sim::spool::FetchOutcome::Discarded);
  EXPECT_EQ(fetches[2].outcome, sim::spool::FetchOutcome::Empty);
  EXPECT_EQ(fetches[3].outcome, sim::spool::FetchOutcome::Data);
  EXPECT_TRUE(fetches[3].refreshAsked);
}

TEST_F(SpoolerTest, RefusedNotificationGivesInvalidHandleValue) {
  spooler->RefuseNotifications("Laser", true);
  EXPECT_EQ(FindFirstPrinterChangeNotification(printer, PRINTER_CHANGE_DELETE_JOB, 0,
                                               &options.options),
            INVALID_HANDLE_VALUE);
}

TEST_F(SpoolerTest, JobCommandsAreRecordedAndApplied) {
  DWORD paused = spooler->AddJob("Laser");
  DWORD deleted = spooler->AddJob("Laser");
  EXPECT_TRUE(SetJobA(printer, paused, 0, nullptr, JOB_CONTROL_PAUSE));
  EXPECT_TRUE(SetJobA(printer, deleted, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_FALSE(SetJobA(printer, 999, 0, nullptr, JOB_CONTROL_PAUSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  std::vector<BYTE> buffer;
  std::vector<JOB_INFO_2A> jobs = Jobs(buffer);
  ASSERT_EQ(jobs.size(), 1u) << "a deleted job stays queued";
  EXPECT_EQ(jobs[0].JobId, paused);
  EXPECT_EQ(jobs[0].Status & JOB_STATUS_PAUSED, static_cast<DWORD>(JOB_STATUS_PAUSED));

  std::vector<sim::JobCommand> expected = {{"Laser", paused, JOB_CONTROL_PAUSE, true},
                                           {"Laser", deleted, JOB_CONTROL_DELETE, true},
                                           {"Laser", 999, JOB_CONTROL_PAUSE, false}};
  EXPECT_EQ(spooler->Commands(), expected);
}

TEST_F(SpoolerTest, JobOfAnotherPrinterIsNotCommandedThroughThisOne) {
  spooler->AddPrinter("Plotter");
  DWORD id = spooler->AddJob("Plotter");
  EXPECT_FALSE(SetJobA(printer, id, 0, nullptr, JOB_CONTROL_DELETE));
  EXPECT_EQ(spooler->Queue("Plotter"), std::vector<DWORD>{id});
}

TEST_F(SpoolerTest, EnumJobsFollowsTheSizeProtocol) {
  DWORD needed = 1, returned = 1;
  EXPECT_TRUE(EnumJobsA(printer, 0, 0xFFFFFFFF, 2, nullptr, 0, &needed, &returned))
      << "an empty queue needs no buffer";
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(returned, 0u);

  sim::JobFields job;
  job.totalBytes = 1234;
  job.status = JOB_STATUS_COMPLETE;
  spooler->AddJob("Laser", job);
  spooler->AddJob("Laser");
  EXPECT_FALSE(EnumJobsA(printer, 0, 0xFFFFFFFF, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_GT(needed, 2 * sizeof(JOB_INFO_2A));
  std::vector<BYTE> small(needed - 1);
  EXPECT_FALSE(EnumJobsA(printer, 0, 0xFFFFFFFF, 2, small.data(), needed - 1, &needed, &returned));

  std::vector<BYTE> buffer;
  std::vector<JOB_INFO_2A> jobs = Jobs(buffer);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].Size, 1234u);
  EXPECT_EQ(jobs[0].Status, static_cast<DWORD>(JOB_STATUS_COMPLETE));
  EXPECT_STREQ(jobs[0].pUserName, "user");
  EXPECT_EQ(jobs[0].pDevMode->dmPaperSize, DMPAPER_A4);
  EXPECT_EQ(jobs[1].Position, 2u);
}

TEST_F(SpoolerTest, GetJobFollowsTheSizeProtocol) {
  sim::JobFields job;
  job.totalBytes = 777;
  job.status = JOB_STATUS_SPOOLING;
  DWORD id = spooler->AddJob("Laser", job);
  DWORD needed = 0;
  EXPECT_FALSE(GetJobA(printer, id, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetJobA(printer, id, 2, buffer.data(), needed, &needed)) << GetLastError();
  auto* info = reinterpret_cast<JOB_INFO_2A*>(buffer.data());
  EXPECT_EQ(info->JobId, id);
  EXPECT_EQ(info->Size, 777u);
  EXPECT_EQ(info->Status, static_cast<DWORD>(JOB_STATUS_SPOOLING));

  EXPECT_FALSE(GetJobA(printer, id + 1, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
      << "an unknown job must not look like a size question";
}

TEST_F(SpoolerTest, WaitsEndWhenTheCodeUnderTestActs) {
  Arm();
  DWORD id = spooler->AddJob("Laser");
  HANDLE h = printer;
  HANDLE c = change;
  // A watcher of its own on another thread: fetch, command, free.
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
      new std::pair<HANDLE, HANDLE>(h, c), 0, nullptr);
  EXPECT_TRUE(spooler->WaitForCommands(1, 10000));
  EXPECT_TRUE(spooler->WaitForFreedBlocks(1, 10000));
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
                                                     &options.options);
  EXPECT_NE(spooler.Leaks().find("1 change notification(s) still open"), std::string::npos)
      << spooler.Leaks();
  void* info = nullptr;
  ASSERT_TRUE(FindNextPrinterChangeNotification(change, nullptr, &options.options, &info));
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
