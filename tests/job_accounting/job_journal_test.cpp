// The journal file on its own: records come back in order with every fact,
// a torn tail or a damaged record costs only itself, and the bound holds.
#include <windows.h>

#include <gtest/gtest.h>

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
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
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
      ASSERT_EQ(journal.Add(job), CJobJournal::Append::Written);
      if (n == 1) *pSecond = Bytes().size();
      if (n == 2) *pThird = Bytes().size();
    }
  }
  static std::vector<int32_t> Pages(const std::vector<JOURNALED_JOB>& jobs) {
    std::vector<int32_t> pages;
    for (const JOURNALED_JOB& job : jobs) pages.push_back(job.lPages);
    return pages;
  }

  std::string path;
};

TEST_F(JobJournalTest, JobsComeBackInOrderWithEveryFactAndADistinctKey) {
  size_t second = 0, third = 0;
  ThreeJobs(&second, &third);
  CJobJournal reader(path, 1 << 20);
  uint64_t cbDropped = 99;
  std::vector<JOURNALED_JOB> jobs = reader.ReadAll(&cbDropped);
  ASSERT_EQ(Pages(jobs), (std::vector<int32_t>{1, 2, 3}));
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
    ASSERT_EQ(journal.Add(next), CJobJournal::Append::Written);
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
  const size_t cbRecord = 12 + CJobJournal::Encode(Job(1)).size() + 0;
  // Keys are some 40 bytes: two records fit, a third does not.
  CJobJournal journal(path, 2 * cbRecord + 128 + cbRecord / 2);
  JOURNALED_JOB job = Job(1);
  ASSERT_EQ(journal.Add(job), CJobJournal::Append::Written);
  ASSERT_EQ(journal.Add(job), CJobJournal::Append::Written);
  const size_t before = Bytes().size();
  EXPECT_EQ(journal.Add(job), CJobJournal::Append::Full);
  EXPECT_EQ(Bytes().size(), before);
  EXPECT_EQ(journal.ReadAll().size(), 2u);
  ASSERT_TRUE(journal.Clear());
  EXPECT_EQ(journal.Add(job), CJobJournal::Append::Written) << "room again once cleared";
}

}  // namespace
