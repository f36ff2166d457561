// Building a job record from a change notification.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "job_accounting/job_data.h"
#include "notify_block.h"

namespace {

std::string Narrow(const WCHAR* pwsz, size_t cchField) {
  std::string text;
  for (size_t i = 0; i < cchField && pwsz[i]; ++i) text += static_cast<char>(pwsz[i]);
  return text;
}

#define FIELD(job, name) Narrow((job).name, sizeof((job).name) / sizeof(WCHAR))

constexpr DWORD kJob = 7;

TEST(JobDataTest, NoEntriesOfTheJobLeaveEverythingButThePrinterZero) {
  CNotifyBlock block;
  block.Text(8, JOB_NOTIFY_FIELD_DOCUMENT, "other").Text(8, JOB_NOTIFY_FIELD_USER_NAME, "bob");
  JOB_DATA job;
  std::memset(&job, 0xAB, sizeof(job));
  FillJobData(job, "Laser", block.Get(), kJob);
  EXPECT_EQ(FIELD(job, wszPrinter), "Laser");
  JOB_DATA expected = {};
  std::memcpy(expected.wszPrinter, job.wszPrinter, sizeof(job.wszPrinter));
  EXPECT_EQ(std::memcmp(&job, &expected, sizeof(job)), 0);
  EXPECT_EQ(job.dwJobId, 0u);
}

TEST(JobDataTest, TextsAreCutToTheirFieldWithoutATerminator) {
  const std::string machine(25, 'm'), document(300, 'd'), user(256, 'u');
  CNotifyBlock block;
  block.Text(kJob, JOB_NOTIFY_FIELD_MACHINE_NAME, machine.c_str())
      .Text(kJob, JOB_NOTIFY_FIELD_DOCUMENT, document.c_str())
      .Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, user.c_str());
  JOB_DATA job;
  FillJobData(job, std::string(300, 'p').c_str(), block.Get(), kJob);
  EXPECT_EQ(FIELD(job, wszComputer), std::string(20, 'm'));
  EXPECT_EQ(FIELD(job, wszDocument), std::string(255, 'd'));
  EXPECT_EQ(job.wszDocument[254], L'd') << "the last character fills the field";
  EXPECT_EQ(FIELD(job, wszUser), std::string(255, 'u'));
  EXPECT_EQ(FIELD(job, wszPrinter), std::string(255, 'p'));
  EXPECT_EQ(job.wReserved0, 0);
}

TEST(JobDataTest, TextIsNotReadBeyondItsBuffer) {
  CNotifyBlock block;
  block.Bytes(kJob, JOB_NOTIFY_FIELD_USER_NAME, "alice").Bytes(kJob, JOB_NOTIFY_FIELD_DOCUMENT, "");
  JOB_DATA job;
  FillJobData(job, "Laser", block.Get(), kJob);
  EXPECT_EQ(FIELD(job, wszUser), "alice");
  EXPECT_EQ(FIELD(job, wszDocument), "Unknown document") << "an empty buffer is no data";
}

TEST(JobDataTest, MachineNameIsTheFirstPieceBetweenBackslashes) {
  struct Case {
    const char* pszMachine;
    const char* pszExpected;
  } cases[] = {
      {"\\\\server\\share", "server"},
      {"\\\\\\", "\\\\\\"},
      {"pc", "pc"},
      {"\\\\\\pc\\", "pc"},
      {nullptr, "Unknown computer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pszExpected);
    CNotifyBlock block;
    block.Text(kJob, JOB_NOTIFY_FIELD_MACHINE_NAME, c.pszMachine);
    JOB_DATA job;
    FillJobData(job, "Laser", block.Get(), kJob);
    EXPECT_EQ(FIELD(job, wszComputer), c.pszExpected);
  }
}

TEST(JobDataTest, DeviceModeFieldsAndTheirDefaults) {
  DEVMODEA dm = {};
  dm.dmSize = sizeof(dm);
  dm.dmPaperSize = DMPAPER_A3;
  dm.dmPaperLength = 4200;
  dm.dmPaperWidth = 2970;
  dm.dmColor = DMCOLOR_COLOR;
  dm.dmDuplex = DMDUP_VERTICAL;
  dm.dmCopies = 4;
  {
    // No field flagged: the defaults, and no paper dimensions.
    CNotifyBlock block;
    block.DevMode(kJob, dm);
    JOB_DATA job;
    FillJobData(job, "Laser", block.Get(), kJob);
    EXPECT_EQ(job.wPaperSize, 1);
    EXPECT_EQ(job.wPaperLength, 0);
    EXPECT_EQ(job.wPaperWidth, 0);
    EXPECT_EQ(job.wColor, 1);
    EXPECT_EQ(job.wDuplex, 1);
    EXPECT_EQ(job.dwCopies, 1);
  }
  dm.dmFields = DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_COLOR | DM_DUPLEX | DM_COPIES;
  CNotifyBlock block;
  block.DevMode(kJob, dm);
  JOB_DATA job;
  FillJobData(job, "Laser", block.Get(), kJob);
  EXPECT_EQ(job.wPaperSize, DMPAPER_A3);
  EXPECT_EQ(job.wPaperLength, 4200);
  EXPECT_EQ(job.wPaperWidth, 2970);
  EXPECT_EQ(job.wColor, DMCOLOR_COLOR);
  EXPECT_EQ(job.wDuplex, DMDUP_VERTICAL);
  EXPECT_EQ(job.dwCopies, 4);
  // The per-job thread takes its copies from the shadow file instead.
  FillJobData(job, L"Laser", block.Get(), kJob);
  EXPECT_EQ(job.dwCopies, 0);
  EXPECT_EQ(job.wPaperSize, DMPAPER_A3);

  // A device mode too short to hold its fields is ignored.
  CNotifyBlock shortBlock;
  shortBlock.Bytes(kJob, JOB_NOTIFY_FIELD_DEVMODE, std::string(40, '\xff'));
  FillJobData(job, "Laser", shortBlock.Get(), kJob);
  EXPECT_EQ(job.wPaperSize, 0);
  EXPECT_EQ(job.dwCopies, 0);
}

TEST(JobDataTest, SubmissionTimeInSecondsSince1970) {
  SYSTEMTIME utc = {};
  utc.wYear = 2024;
  utc.wMonth = 3;
  utc.wDay = 1;
  utc.wHour = 12;
  CNotifyBlock block;
  block.Submitted(kJob, &utc);
  JOB_DATA job;
  FillJobData(job, "Laser", block.Get(), kJob);
  EXPECT_EQ(job.tSubmitted, 1709294400);
}

TEST(JobDataTest, SubmissionBefore1970OrWithoutDataIsTheCurrentTime) {
  SYSTEMTIME old = {};
  old.wYear = 1969;
  old.wMonth = 12;
  old.wDay = 31;
  old.wHour = 10;
  for (const SYSTEMTIME* pUtc : {static_cast<const SYSTEMTIME*>(&old),
                                 static_cast<const SYSTEMTIME*>(nullptr)}) {
    SCOPED_TRACE(pUtc ? "1969" : "no data");
    CNotifyBlock block;
    block.Submitted(kJob, pUtc);
    JOB_DATA job;
    const int32_t tBefore = static_cast<int32_t>(std::time(nullptr));
    FillJobData(job, "Laser", block.Get(), kJob);
    const int32_t tAfter = static_cast<int32_t>(std::time(nullptr));
    EXPECT_GE(job.tSubmitted, tBefore);
    EXPECT_LE(job.tSubmitted, tAfter);
  }
}

TEST(JobDataTest, JobIdComesFromTheDocumentEntryOnly) {
  CNotifyBlock block;
  block.Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, nullptr).Word(kJob, JOB_NOTIFY_FIELD_TOTAL_PAGES, 12);
  JOB_DATA job;
  FillJobData(job, "Laser", block.Get(), kJob);
  EXPECT_EQ(job.dwJobId, 0u);
  EXPECT_EQ(FIELD(job, wszUser), "Unknown user");
  EXPECT_EQ(job.dwTotalPages, 12u);

  block.Text(kJob, JOB_NOTIFY_FIELD_DOCUMENT, nullptr);
  FillJobData(job, "Laser", block.Get(), kJob);
  EXPECT_EQ(job.dwJobId, kJob);
  EXPECT_EQ(FIELD(job, wszDocument), "Unknown document");
}

TEST(JobDataTest, OnlyTheJobsEntriesCountAndALaterEntryReplacesAnEarlierOne) {
  CNotifyBlock block;
  block.Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, "administrator")
      .Text(9, JOB_NOTIFY_FIELD_USER_NAME, "mallory")
      .Text(9, JOB_NOTIFY_FIELD_DOCUMENT, "secret.pdf")
      .Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, "bob")
      .Text(kJob, JOB_NOTIFY_FIELD_DOCUMENT, "report.pdf");
  JOB_DATA job;
  FillJobData(job, L"Laser", block.Get(), kJob);
  EXPECT_EQ(FIELD(job, wszUser), "bob") << "nothing of the longer earlier name stays";
  EXPECT_EQ(FIELD(job, wszDocument), "report.pdf");
  EXPECT_EQ(FIELD(job, wszPrinter), "Laser");
  EXPECT_EQ(job.dwJobId, kJob);
}

}  // namespace
