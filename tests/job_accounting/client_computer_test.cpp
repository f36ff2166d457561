// The client computer of a job's user, from the server's network sessions.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "job_accounting/client_computer.h"
#include "net_sessions_sim.h"
#include "sim_fixture.h"

namespace {

class ClientComputerTest : public ::testing::Test {
 protected:
  // The computer name as the spooler gave it.
  std::string Resolve(const char* user, bool* pFound = nullptr) {
    char szComputer[kComputerBufferSize] = "SPOOLED-PC";
    bool found = GetClientComputer(user, szComputer);
    if (pFound) *pFound = found;
    return szComputer;
  }

  sim::Owned<sim::NetSessions> sessions;
};

// The session's client is usually "\\" and a name or an address; it is
// stored without the backslashes, as the spooler's machine name is.
TEST_F(ClientComputerTest, TheFirstSessionOfTheUserWinsWhateverTheCase) {
  sessions->Add(L"\\\\OTHER", L"bob");
  sessions->Add(L"\\\\WS-ANN-1", L"Ann");
  sessions->Add(L"WS-ANN-2", L"ann");
  bool found = false;
  EXPECT_EQ(Resolve("ANN", &found), "WS-ANN-1");
  EXPECT_TRUE(found);
  // The query asks this machine, at level 10.
  char szMachine[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD cch = sizeof(szMachine);
  GetComputerNameA(szMachine, &cch);
  std::wstring expected = L"\\\\";
  for (const char* p = szMachine; *p; ++p) expected += static_cast<wchar_t>(*p);
  EXPECT_EQ(sessions->LastServer(), expected);
  EXPECT_EQ(sessions->LevelsAsked(), std::vector<DWORD>{10});
}

TEST_F(ClientComputerTest, WithoutASessionOrWhenTheQueryFailsTheNameStays) {
  sessions->Add(L"WS-BOB", L"bob");
  bool found = true;
  EXPECT_EQ(Resolve("ann", &found), "SPOOLED-PC");
  EXPECT_FALSE(found);

  sessions->FailWith(ERROR_ACCESS_DENIED);
  EXPECT_EQ(Resolve("bob", &found), "SPOOLED-PC");
  EXPECT_FALSE(found);
}

TEST_F(ClientComputerTest, SessionsAreWalkedBatchByBatchUntilTheUserIsFound) {
  // About 60 bytes a session: a 2048-byte batch holds some thirty of them.
  for (int i = 0; i < 100; ++i) {
    sessions->Add(L"CLIENT-" + std::to_wstring(i), L"user" + std::to_wstring(i));
  }
  EXPECT_EQ(Resolve("user97"), "CLIENT-97");
  EXPECT_GE(sessions->Queries(), 3) << "all sessions came in one batch";
  const int queries = sessions->Queries();
  EXPECT_EQ(Resolve("nobody"), "SPOOLED-PC");
  EXPECT_GE(sessions->Queries() - queries, 3);
}

TEST_F(ClientComputerTest, ALongClientNameIsCutToNineteenBytesAndTerminated) {
  sessions->Add(std::wstring(30, L'C'), L"ann");
  EXPECT_EQ(Resolve("ann"), std::string(19, 'C'));
  if (GetACP() == 1252) {
    // 18 letters and an e acute: still one byte a character in 1252.
    sessions->Add(std::wstring(18, L'D') + L"\u00E9XYZ", L"eve");
    EXPECT_EQ(Resolve("eve"), std::string(18, 'D') + "\xE9");
  }
}

}  // namespace
