// Reading a change notification block as Windows writes it, built by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "notify_block.h"
#include "printer_monitor/notify_reader.h"

namespace {

std::wstring Field(const WCHAR* pwsz, size_t cchField) {
  return std::wstring(reinterpret_cast<const wchar_t*>(pwsz),
                      wcsnlen(reinterpret_cast<const wchar_t*>(pwsz), cchField));
}

#define FIELD(job, name) Field((job).name, sizeof((job).name) / sizeof(WCHAR))

constexpr DWORD kJob = 7;

// The facts of the block's only job.
JOB_FACTS Only(CNotifyBlock& block) {
  NOTIFY_READING reading = ReadNotifyBlock(*block.Get());
  EXPECT_EQ(reading.jobs.size(), 1u);
  return reading.jobs.empty() ? NoFacts(0) : reading.jobs[0];
}

TEST(NotifyReaderTest, EveryJobOfABlockGetsWhatItsOwnEntriesTold) {
  CNotifyBlock block;
  block.Word(9, JOB_NOTIFY_FIELD_STATUS, JOB_STATUS_PRINTED)
      .Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, L"administrator")
      .Text(9, JOB_NOTIFY_FIELD_USER_NAME, L"mallory")
      .Word(kJob, JOB_NOTIFY_FIELD_BYTES_PRINTED, 300)
      .Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, L"bob");
  NOTIFY_READING reading = ReadNotifyBlock(*block.Get());
  EXPECT_FALSE(reading.bDiscarded);
  ASSERT_EQ(reading.jobs.size(), 2u);
  const JOB_FACTS& nine = reading.jobs[0];
  const JOB_FACTS& seven = reading.jobs[1];
  EXPECT_EQ(nine.job.dwJobId, 9u) << "jobs come in the order of their first entry";
  EXPECT_EQ(nine.dwTold, static_cast<DWORD>(kToldStatus | kToldUser));
  EXPECT_EQ(nine.dwStatus, static_cast<DWORD>(JOB_STATUS_PRINTED));
  EXPECT_EQ(FIELD(nine.job, wszUser), L"mallory");
  EXPECT_EQ(seven.job.dwJobId, kJob);
  // Only what the block told: no status, no total bytes.
  EXPECT_EQ(seven.dwTold, static_cast<DWORD>(kToldUser | kToldBytesPrinted));
  EXPECT_EQ(seven.dwBytesPrinted, 300u);
  EXPECT_EQ(FIELD(seven.job, wszUser), L"bob") << "nothing of the longer earlier name stays";

  block.Discarded();
  EXPECT_TRUE(ReadNotifyBlock(*block.Get()).bDiscarded);
}

TEST(NotifyReaderTest, TextsAreUtf16TakenExactlyAndCutToTheirFieldWithoutATerminator) {
  const std::wstring machine(25, L'm'), document(300, L'd'), user(256, L'u');
  CNotifyBlock block;
  block.Text(kJob, JOB_NOTIFY_FIELD_MACHINE_NAME, machine.c_str())
      .Text(kJob, JOB_NOTIFY_FIELD_DOCUMENT, document.c_str())
      .Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, user.c_str());
  JOB_FACTS facts = Only(block);
  EXPECT_EQ(FIELD(facts.job, wszComputer), std::wstring(20, L'm'));
  EXPECT_EQ(FIELD(facts.job, wszDocument), std::wstring(255, L'd'));
  EXPECT_EQ(facts.job.wszDocument[254], L'd') << "the last character fills the field";
  EXPECT_EQ(FIELD(facts.job, wszUser), std::wstring(255, L'u'));
  EXPECT_EQ(facts.job.wReserved0, 0);

  // Read as ANSI, these came out as their first letter.
  CNotifyBlock names;
  names.Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, L"Zo\u00EB")
      .Text(kJob, JOB_NOTIFY_FIELD_DOCUMENT, L"R\u00E9sum\u00E9 2026 \u00A3\u00B0.pdf");
  facts = Only(names);
  EXPECT_EQ(FIELD(facts.job, wszUser), L"Zo\u00EB");
  EXPECT_EQ(FIELD(facts.job, wszDocument), L"R\u00E9sum\u00E9 2026 \u00A3\u00B0.pdf");
}

TEST(NotifyReaderTest, TextIsNotReadBeyondItsBuffer) {
  CNotifyBlock block;
  block.Bytes(kJob, JOB_NOTIFY_FIELD_USER_NAME, std::string("a\0l\0i\0c\0e\0", 10))
      .Bytes(kJob, JOB_NOTIFY_FIELD_DOCUMENT, std::string("x\0y", 3))
      .Bytes(kJob, JOB_NOTIFY_FIELD_MACHINE_NAME, std::string("\0\0", 2));
  JOB_FACTS facts = Only(block);
  EXPECT_EQ(FIELD(facts.job, wszUser), L"alice") << "a text without its terminator";
  EXPECT_EQ(FIELD(facts.job, wszDocument), L"x") << "an odd byte count";
  EXPECT_EQ(FIELD(facts.job, wszComputer), L"Unknown computer") << "an empty text is no data";

  CNotifyBlock none;
  none.Text(kJob, JOB_NOTIFY_FIELD_USER_NAME, nullptr).Text(kJob, JOB_NOTIFY_FIELD_DOCUMENT, nullptr);
  facts = Only(none);
  EXPECT_EQ(FIELD(facts.job, wszUser), L"Unknown user");
  EXPECT_EQ(FIELD(facts.job, wszDocument), L"Unknown document");
}

TEST(NotifyReaderTest, MachineNameIsTheFirstPieceBetweenBackslashes) {
  struct Case {
    const wchar_t* pwszMachine;
    const wchar_t* pwszExpected;
  } cases[] = {
      {L"\\\\server\\share", L"server"},
      {L"\\\\\\", L"\\\\\\"},
      {L"pc", L"pc"},
      {L"\\\\\\pc\\", L"pc"},
      {nullptr, L"Unknown computer"},
  };
  for (const Case& c : cases) {
    CNotifyBlock block;
    block.Text(kJob, JOB_NOTIFY_FIELD_MACHINE_NAME, c.pwszMachine);
    EXPECT_EQ(FIELD(Only(block).job, wszComputer), c.pwszExpected);
  }
}

TEST(NotifyReaderTest, DeviceModeIsADevModeWReadWithinItsSizeAndFlags) {
  DEVMODEW dm = {};
  dm.dmSize = sizeof(dm);
  dm.dmPaperSize = DMPAPER_A3;
  dm.dmPaperLength = 4200;
  dm.dmPaperWidth = 2970;
  dm.dmColor = DMCOLOR_COLOR;
  dm.dmDuplex = DMDUP_VERTICAL;
  dm.dmCopies = 4;
  {
    // No setting flagged: the defaults, no paper dimensions, no copies told.
    CNotifyBlock block;
    block.DevMode(kJob, dm);
    JOB_FACTS facts = Only(block);
    EXPECT_EQ(facts.dwTold, static_cast<DWORD>(kToldDeviceMode));
    EXPECT_EQ(facts.job.wPaperSize, 1);
    EXPECT_EQ(facts.job.wPaperLength, 0);
    EXPECT_EQ(facts.job.wColor, 1);
    EXPECT_EQ(facts.job.wDuplex, 1);
    EXPECT_EQ(facts.job.dwCopies, 0);
  }
  dm.dmFields = DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_COLOR | DM_DUPLEX | DM_COPIES;
  {
    CNotifyBlock block;
    block.DevMode(kJob, dm);
    JOB_FACTS facts = Only(block);
    EXPECT_EQ(facts.dwTold, static_cast<DWORD>(kToldDeviceMode | kToldCopies));
    EXPECT_EQ(facts.job.wPaperSize, DMPAPER_A3);
    EXPECT_EQ(facts.job.wPaperLength, 4200);
    EXPECT_EQ(facts.job.wPaperWidth, 2970);
    EXPECT_EQ(facts.job.wColor, DMCOLOR_COLOR);
    EXPECT_EQ(facts.job.wDuplex, DMDUP_VERTICAL);
    EXPECT_EQ(facts.job.dwCopies, 4);
  }
  {
    // An older layout ending before dmColor: what lies beyond is not read,
    // whatever dmFields says.
    DEVMODEW older = dm;
    older.dmSize = offsetof(DEVMODEW, dmColor);
    CNotifyBlock block;
    block.DevMode(kJob, older);
    JOB_FACTS facts = Only(block);
    EXPECT_EQ(facts.job.dwCopies, 4);
    EXPECT_EQ(facts.job.wPaperSize, DMPAPER_A3);
    EXPECT_EQ(facts.job.wColor, 1);
    EXPECT_EQ(facts.job.wDuplex, 1);
  }
  // No device mode: shorter than its header, a dmSize beyond its buffer or
  // below its header.
  DEVMODEW liar = dm;
  liar.dmSize = sizeof(DEVMODEW) + 100;
  DEVMODEW tiny = dm;
  tiny.dmSize = 8;
  const std::string cases[] = {
      std::string(40, '\xff'),
      std::string(reinterpret_cast<const char*>(&liar), sizeof(liar)),
      std::string(reinterpret_cast<const char*>(&tiny), sizeof(tiny)),
  };
  for (const std::string& bytes : cases) {
    CNotifyBlock block;
    block.Bytes(kJob, JOB_NOTIFY_FIELD_DEVMODE, bytes);
    JOB_FACTS facts = Only(block);
    EXPECT_EQ(facts.dwTold, 0u) << bytes.size();
    EXPECT_EQ(facts.job.wPaperSize, 0);
  }
}

// Seconds since 1970; a time before it, or none, is the current time.
TEST(NotifyReaderTest, SubmissionIsInSecondsSince1970ElseTheCurrentTime) {
  SYSTEMTIME utc = {};
  utc.wYear = 2024;
  utc.wMonth = 3;
  utc.wDay = 1;
  utc.wHour = 12;
  CNotifyBlock given;
  given.Submitted(kJob, &utc);
  EXPECT_EQ(Only(given).job.tSubmitted, 1709294400);

  SYSTEMTIME old = utc;
  old.wYear = 1969;
  old.wMonth = 12;
  old.wDay = 31;
  for (const SYSTEMTIME* pUtc : {static_cast<const SYSTEMTIME*>(&old),
                                 static_cast<const SYSTEMTIME*>(nullptr)}) {
    SCOPED_TRACE(pUtc ? "1969" : "no data");
    CNotifyBlock block;
    block.Submitted(kJob, pUtc);
    const int32_t tBefore = static_cast<int32_t>(std::time(nullptr));
    JOB_FACTS facts = Only(block);
    const int32_t tAfter = static_cast<int32_t>(std::time(nullptr));
    EXPECT_GE(facts.job.tSubmitted, tBefore);
    EXPECT_LE(facts.job.tSubmitted, tAfter);
    EXPECT_EQ(facts.dwTold, static_cast<DWORD>(kToldSubmitted));
  }
}

}  // namespace
