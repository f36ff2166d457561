// The journal file on its own: records come back in order with every fact,
// the stages of one job stand in for each other, keys sort in the order
// they were given, a torn tail or a damaged record costs only itself, and
// the bound holds.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "job_accounting/job_journal.h"
#include "service_core/win_owners.h"

namespace {

JOURNALED_JOB Job(int n) {
  JOURNALED_JOB job;
  job.printer = "Laser " + std::to_string(n);
  job.user = "ann";
  job.computer = "WS-ANN";
  job.document = "100% done\r\nline two=x";   // every character that is escaped
  job.document += '\0';
  job.lPages = n;
  job.lJobSize = -2147483647 - 1;
  job.lSubmitted = 1700000000 + n;
  job.nPaperSize = 9;
  job.nPaperLength = 2970;
  job.nPaperWidth = -32768;
  job.nColor = 2;
  job.nDuplex = 3;
  return job;
}

class JobJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char szTemp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, szTemp);
    path = std::string(szTemp) + "quillon-journal-" + std::to_string(GetCurrentProcessId()) + ".jnl";
    DeleteFileA(path.c_str());
  }
  void TearDown() override { DeleteFileA(path.c_str()); }

  std::string Bytes() const {
    // The journal keeps the file open for writing while it lives.
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    std::string data;
    char buffer[4096];
    DWORD cb = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &cb, nullptr) && cb) data.append(buffer, cb);
    return data;
  }
  void Write(const std::string& data) const {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD cb = 0;
    ASSERT_TRUE(WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &cb, nullptr));
  }
  // Three jobs journaled; the offsets where the second and third begin.
  void ThreeJobs(size_t* pSecond, size_t* pThird) {
    CJobJournal journal(path, 1 << 20);
    for (int n = 1; n <= 3; ++n) {
      JOURNALED_JOB job = Job(n);
      ASSERT_EQ(journal.Keep(job), CJobJournal::Append::Written);
      if (n == 1) *pSecond = Bytes().size();
      if (n == 2) *pThird = Bytes().size();
    }
  }
  static std::vector<int32_t> Pages(const std::vector<JOURNAL_ENTRY>& entries) {
    std::vector<int32_t> pages;
    for (const JOURNAL_ENTRY& e : entries) {
      pages.push_back(e.bCompleted ? e.facts.lPages : -static_cast<int32_t>(e.taken.job.dwTotalPages));
    }
    return pages;
  }
  static std::wstring Text(const WCHAR* pwsz, size_t cch) {
    const auto* p = reinterpret_cast<const wchar_t*>(pwsz);
    return std::wstring(p, wcsnlen(p, cch));
  }

  std::string path;
};

TEST_F(JobJournalTest, JobsComeBackInOrderWithEveryFactAndADistinctKey) {
  size_t second = 0, third = 0;
  ThreeJobs(&second, &third);
  CJobJournal reader(path, 1 << 20);
  uint64_t cbDropped = 99;
  std::vector<JOURNAL_ENTRY> entries = reader.ReadAll(&cbDropped);
  ASSERT_EQ(Pages(entries), (std::vector<int32_t>{1, 2, 3}));
  std::vector<JOURNALED_JOB> jobs;
  for (const JOURNAL_ENTRY& e : entries) jobs.push_back(e.facts);
  EXPECT_EQ(cbDropped, 0u);
  const JOURNALED_JOB expected = Job(2);
  EXPECT_EQ(jobs[1].printer, expected.printer);
  EXPECT_EQ(jobs[1].user, expected.user);
  EXPECT_EQ(jobs[1].computer, expected.computer);
  EXPECT_EQ(jobs[1].document, expected.document);
  EXPECT_EQ(jobs[1].lJobSize, expected.lJobSize);
  EXPECT_EQ(jobs[1].lSubmitted, expected.lSubmitted);
  EXPECT_EQ(jobs[1].nPaperSize, expected.nPaperSize);
  EXPECT_EQ(jobs[1].nPaperLength, expected.nPaperLength);
  EXPECT_EQ(jobs[1].nPaperWidth, expected.nPaperWidth);
  EXPECT_EQ(jobs[1].nColor, expected.nColor);
  EXPECT_EQ(jobs[1].nDuplex, expected.nDuplex);
  EXPECT_NE(jobs[0].key, jobs[1].key);
  EXPECT_NE(jobs[1].key, jobs[2].key);
}

TEST_F(JobJournalTest, ATornLastRecordIsDroppedAndCutOffSoTheNextAppendFollowsAWholeOne) {
  size_t second = 0, third = 0;
  ThreeJobs(&second, &third);
  const std::string whole = Bytes();
  for (size_t cut : {third + 3, third + 12, whole.size() - 1}) {
    Write(whole.substr(0, cut));
    CJobJournal journal(path, 1 << 20);
    uint64_t cbDropped = 0;
    EXPECT_EQ(Pages(journal.ReadAll(&cbDropped)), (std::vector<int32_t>{1, 2})) << "cut at " << cut;
    EXPECT_EQ(cbDropped, cut - third) << "cut at " << cut;
    EXPECT_EQ(Bytes().size(), third) << "the torn tail stays in the file";
    JOURNALED_JOB next = Job(4);
    ASSERT_EQ(journal.Keep(next), CJobJournal::Append::Written);
    EXPECT_EQ(Pages(journal.ReadAll()), (std::vector<int32_t>{1, 2, 4})) << "cut at " << cut;
  }
}

TEST_F(JobJournalTest, ADamagedRecordInTheMiddleCostsOnlyItself) {
  size_t second = 0, third = 0;
  ThreeJobs(&second, &third);
  std::string data = Bytes();
  data[second + 20] ^= 0x01;   // a flipped bit in the second record's payload
  Write(data);
  CJobJournal journal(path, 1 << 20);
  uint64_t cbDropped = 0;
  EXPECT_EQ(Pages(journal.ReadAll(&cbDropped)), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(cbDropped, third - second);
  EXPECT_EQ(Bytes().size(), data.size()) << "the last record is whole: nothing is cut";
}

TEST_F(JobJournalTest, GarbageIsNoJobAndNoCrash) {
  for (const std::string& garbage :
       {std::string("QJR1"), std::string("QJR1\xff\xff\xff\xff", 8), std::string(5000, 'Q'),
        std::string("QJR1\x05\0\0\0\0\0\0\0hello", 17)}) {
    Write(garbage);
    CJobJournal journal(path, 1 << 20);
    uint64_t cbDropped = 0;
    EXPECT_TRUE(journal.ReadAll(&cbDropped).empty()) << garbage.size();
    EXPECT_EQ(cbDropped, garbage.size());
  }
}

TEST_F(JobJournalTest, AJobThatWouldPassTheBoundIsRefusedAndTheFileKeepsItsSize) {
  const size_t cbRecord = 12 + CJobJournal::Encode(Job(1)).size() + kJournalKeyChars;
  // Two records fit, a third does not.
  CJobJournal journal(path, 2 * cbRecord + cbRecord / 2);
  JOURNALED_JOB job = Job(1);
  ASSERT_EQ(journal.Keep(job), CJobJournal::Append::Written);
  job.key.clear();
  ASSERT_EQ(journal.Keep(job), CJobJournal::Append::Written);
  const size_t before = Bytes().size();
  job.key.clear();
  EXPECT_EQ(journal.Keep(job), CJobJournal::Append::Full);
  EXPECT_EQ(Bytes().size(), before);
  EXPECT_EQ(journal.ReadAll().size(), 2u);
  ASSERT_TRUE(journal.Clear());
  EXPECT_EQ(journal.Keep(job), CJobJournal::Append::Written) << "room again once cleared";
}

TEST_F(JobJournalTest, ATakenJobComesBackWholeAndItsLaterStagesStandForIt) {
  TAKEN_JOB first;
  // A character beyond the BMP, a text that fills its whole width (no
  // terminator), and every number at a limit.
  const std::wstring printer = L"Dru\u00e7ker \U0001F5A8";
  std::wmemcpy(reinterpret_cast<wchar_t*>(first.job.wszPrinter), printer.c_str(), printer.size());
  std::wmemset(reinterpret_cast<wchar_t*>(first.job.wszComputer), L'C', kJobComputerChars);
  std::wmemcpy(reinterpret_cast<wchar_t*>(first.job.wszFile), L"job17.pdf", 9);
  std::wmemcpy(reinterpret_cast<wchar_t*>(first.job.wszDocument), L"100% done\r\n", 11);
  std::wmemcpy(reinterpret_cast<wchar_t*>(first.job.wszUser), L"ann", 3);
  first.job.dwTotalPages = 0xFFFFFFFFu;
  first.job.dwCopies = -2147483647 - 1;
  first.job.tSubmitted = 1700000001;
  first.job.dwJobId = 4242;
  first.job.wPaperSize = -32768;
  first.job.wPaperLength = 32767;
  first.job.wPaperWidth = 2100;
  first.job.wColor = 2;
  first.job.wDuplex = 3;
  first.bSizeKnown = true;
  first.dwSize = 0xFFFFFFFEu;
  TAKEN_JOB second = first, third = first;
  second.bSizeKnown = false;
  second.job.dwTotalPages = 2;
  third.job.dwTotalPages = 3;
  std::string keys[3];
  {
    CJobJournal journal(path, 1 << 20);
    ASSERT_EQ(journal.Take(first), CJobJournal::Append::Written);
    ASSERT_EQ(journal.Take(second), CJobJournal::Append::Written);
    ASSERT_EQ(journal.Take(third), CJobJournal::Append::Written);
    JOURNALED_JOB completed = Job(7);
    completed.key = first.key;
    ASSERT_EQ(journal.Keep(completed), CJobJournal::Append::Written);
    ASSERT_TRUE(journal.Done(second.key));
    keys[0] = first.key;
    keys[2] = third.key;
  }
  CJobJournal reader(path, 1 << 20);
  const std::vector<JOURNAL_ENTRY> entries = reader.ReadAll();
  // The first in its first place with its completed facts, the second gone.
  ASSERT_EQ(Pages(entries), (std::vector<int32_t>{7, -3}));
  EXPECT_EQ(entries[0].key, keys[0]);
  EXPECT_EQ(entries[0].facts.key, keys[0]);
  const JOURNAL_ENTRY& taken = entries[1];
  EXPECT_FALSE(taken.bCompleted);
  EXPECT_EQ(taken.key, keys[2]);
  EXPECT_EQ(taken.taken.key, keys[2]);
  const JOB_DATA& job = taken.taken.job;
  EXPECT_EQ(Text(job.wszPrinter, kJobPrinterChars), printer);
  EXPECT_EQ(Text(job.wszComputer, kJobComputerChars), std::wstring(kJobComputerChars, L'C'));
  EXPECT_EQ(Text(job.wszFile, kJobFileChars), L"job17.pdf");
  EXPECT_EQ(Text(job.wszDocument, kJobDocumentChars), L"100% done\r\n");
  EXPECT_EQ(Text(job.wszUser, kJobUserChars), L"ann");
  EXPECT_EQ(job.dwCopies, -2147483647 - 1);
  EXPECT_EQ(job.tSubmitted, 1700000001);
  EXPECT_EQ(job.dwJobId, 4242u);
  EXPECT_EQ(job.wPaperSize, -32768);
  EXPECT_EQ(job.wPaperLength, 32767);
  EXPECT_EQ(job.wPaperWidth, 2100);
  EXPECT_EQ(job.wColor, 2);
  EXPECT_EQ(job.wDuplex, 3);
  EXPECT_TRUE(taken.taken.bSizeKnown);
  EXPECT_EQ(taken.taken.dwSize, 0xFFFFFFFEu);
}

TEST_F(JobJournalTest, KeysSortInTheOrderGivenAndNameTheirJournal) {
  std::vector<std::string> keys;
  std::string prefix, next;
  for (int run = 0; run < 2; ++run) {
    // The same file opened again at once, as by a restarted service.
    CJobJournal journal(path, 1 << 20);
    if (run == 0) prefix = journal.KeyPrefix();
    EXPECT_EQ(journal.KeyPrefix(), prefix) << "a journal keeps its name from run to run";
    for (int n = 0; n < 3; ++n) {
      TAKEN_JOB taken;
      ASSERT_EQ(journal.Take(taken), CJobJournal::Append::Written);
      keys.push_back(taken.key);
    }
    next = journal.NextKey();
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i].size(), kJournalKeyChars) << keys[i];
    EXPECT_EQ(keys[i].find_first_not_of("0123456789ABCDEF"), std::string::npos) << keys[i];
    EXPECT_EQ(keys[i].compare(0, prefix.size(), prefix), 0) << keys[i];
    if (i) {
      EXPECT_LT(keys[i - 1], keys[i]);
    }
  }
  EXPECT_LT(keys.back(), next);
  CJobJournal other(path + ".other", 1 << 20);
  EXPECT_NE(other.KeyPrefix(), prefix) << "two journals share their keys' name";
}

}  // namespace
