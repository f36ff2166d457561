// quillonctl: its options become the record it sends, and each failure has
// its message and exit code; the program itself is run against pipes that
// this test plays.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <thread>
#include <string>
#include <vector>

#include "command_line.h"
#include "exit_codes.h"
#include "installed_service.h"
#include "pipe_client_support.h"
#include "pipe_intake/pipe_protocol.h"
#include "service_core/win_owners.h"

namespace {

std::wstring Field(const WCHAR* p, size_t cch) {
  const wchar_t* w = reinterpret_cast<const wchar_t*>(p);
  return std::wstring(w, wcsnlen(w, cch));
}

CClientCommand Parse(const std::vector<std::wstring>& args, std::string* pError = nullptr) {
  CJobDefaults defaults;
  defaults.computer = L"THIS-PC";
  defaults.tNow = 1700000000;
  CClientCommand cmd;
  const std::string error = ParseCommandLine(args, defaults, cmd);
  if (pError) *pError = error;
  return cmd;
}

TEST(QuillonctlArguments, EveryJobOptionFillsItsField) {
  std::string error;
  const CClientCommand cmd = Parse(
      {L"job", L"--printer", L"Laser 9", L"--user=kai", L"--computer", L"WS-KAI", L"--document",
       L"Q\u00e9.pdf", L"--pages", L"4", L"--copies", L"3", L"--submitted", L"1600000000",
       L"--job-id", L"77", L"--paper-size", L"9", L"--paper-length", L"2970", L"--paper-width",
       L"2100", L"--color", L"2", L"--duplex", L"3", L"--file", L"k.pdf", L"--timeout", L"7"},
      &error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(cmd.kind, CClientCommand::Job);
  const JOB_DATA& j = cmd.job;
  EXPECT_EQ(Field(j.wszPrinter, kJobPrinterChars), L"Laser 9");
  EXPECT_EQ(Field(j.wszUser, kJobUserChars), L"kai");
  EXPECT_EQ(Field(j.wszComputer, kJobComputerChars), L"WS-KAI");
  EXPECT_EQ(Field(j.wszDocument, kJobDocumentChars), L"Q\u00e9.pdf");
  EXPECT_EQ(Field(j.wszFile, kJobFileChars), L"k.pdf");
  EXPECT_EQ(j.dwTotalPages, 4u);
  EXPECT_EQ(j.dwCopies, 3);
  EXPECT_EQ(j.tSubmitted, 1600000000);
  EXPECT_EQ(j.dwJobId, 77u);
  EXPECT_EQ(j.wPaperSize, 9);
  EXPECT_EQ(j.wPaperLength, 2970);
  EXPECT_EQ(j.wPaperWidth, 2100);
  EXPECT_EQ(j.wColor, 2);
  EXPECT_EQ(j.wDuplex, 3);
  EXPECT_EQ(cmd.dwTimeoutSeconds, 7u);
}

TEST(QuillonctlArguments, UnnamedJobFieldsTakeTheirDefaults) {
  const CClientCommand cmd = Parse({L"job", L"--printer", L"P", L"--user", L"U"});
  ASSERT_EQ(cmd.kind, CClientCommand::Job);
  EXPECT_EQ(Field(cmd.job.wszComputer, kJobComputerChars), L"THIS-PC");
  EXPECT_EQ(cmd.job.dwCopies, 1);
  EXPECT_EQ(cmd.job.tSubmitted, 1700000000);
  EXPECT_EQ(cmd.job.wColor, 1);
  EXPECT_EQ(cmd.job.wDuplex, 1);
  EXPECT_EQ(cmd.job.dwTotalPages, 0u);
  EXPECT_EQ(cmd.dwTimeoutSeconds, 30u);
}

TEST(QuillonctlArguments, ARuleTakesIdsOrAnyAndAnActionByNameOrNumber) {
  CClientCommand cmd = Parse({L"rule", L"--printer-id", L"any", L"--user-id", L"12", L"--action",
                              L"pause"});
  ASSERT_EQ(cmd.kind, CClientCommand::Rule);
  EXPECT_EQ(cmd.rule.idPrinter, -1);
  EXPECT_EQ(cmd.rule.idUser, 12);
  EXPECT_EQ(cmd.rule.Action, JOB_CONTROL_PAUSE);
  cmd = Parse({L"rule", L"--printer-id", L"3", L"--user-id", L"-1", L"--action", L"5"});
  EXPECT_EQ(cmd.rule.idPrinter, 3);
  EXPECT_EQ(cmd.rule.idUser, -1);
  EXPECT_EQ(cmd.rule.Action, JOB_CONTROL_DELETE);
}

TEST(QuillonctlArguments, BadArgumentsAreNamed) {
  struct Case {
    std::vector<std::wstring> args;
    const char* expected;   // a part of the message
  } cases[] = {
      {{}, "no command"},
      {{L"print"}, "unknown command 'print'"},
      {{L"job", L"--user", L"U"}, "--printer is required"},
      {{L"job", L"--printer", L"P", L"--user", L"U", L"--pages", L"-1"}, "--pages takes a number"},
      {{L"job", L"--printer", L"P", L"--user", L"U", L"--color", L"3"}, "--color takes a number from 1 to 2"},
      {{L"job", L"--printer", L"P", L"--user", L"U", L"--copies", L"0"}, "--copies"},
      {{L"job", L"--printer", L"P", L"--user", L"U", L"--computer", std::wstring(21, L'c')},
       "--computer takes at most 20 characters"},
      {{L"job", L"--printer", L"P", L"--user", L"U", L"--file", std::wstring(21, L'f')},
       "--file takes at most 20"},
      {{L"job", L"--printer", L"P", L"--printer", L"Q", L"--user", L"U"}, "--printer: At Most 1"},
      {{L"job", L"--printer", L"P", L"--user"}, "--user: 1 required"},
      {{L"job", L"--printer", L"P", L"--user", L"U", L"--colour", L"1"}, "unknown option '--colour'"},
      {{L"rule", L"--printer-id", L"-2", L"--user-id", L"1", L"--action", L"none"}, "--printer-id"},
      {{L"rule", L"--printer-id", L"1", L"--user-id", L"1", L"--action", L"zap"}, "--action takes"},
      {{L"rule", L"--printer-id", L"1", L"--user-id", L"1"}, "--action is required"},
  };
  for (const Case& c : cases) {
    std::string error;
    Parse(c.args, &error);
    EXPECT_NE(error.find(c.expected), std::string::npos)
        << "expected '" << c.expected << "', got '" << error << "'";
  }
}

// Runs quillonctl.exe; its exit code and what it wrote (both streams).
DWORD RunClient(const std::string& args, std::string* pOutput) {
  return RunProgramOutput(FullPath(QUILLONCTL_EXE), args, pOutput);
}

UniqueHandle ServerInstance() {
  return UniqueHandle(CreateNamedPipeA(kPipeName, PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                       1024, 1024, 1000, nullptr));
}

TEST(QuillonctlProgram, HelpAndVersion) {
  std::string out;
  EXPECT_EQ(RunClient("--help", &out), 0u);
  EXPECT_NE(out.find("5  the pipe exists but cannot be opened"), std::string::npos) << out;
  EXPECT_EQ(RunClient("/?", &out), 0u);
  EXPECT_EQ(RunClient("--version", &out), 0u);
  EXPECT_EQ(out.substr(0, out.find_first_of("\r\n")), "quillonctl " QUILLON_VERSION) << out;
}

TEST(QuillonctlProgram, BadArgumentsExitWithOne) {
  std::string out;
  EXPECT_EQ(RunClient("job --printer P", &out), static_cast<DWORD>(kExitBadArguments));
  EXPECT_NE(out.find("--user is required"), std::string::npos) << out;
}

TEST(QuillonctlProgram, WithoutTheServiceItSaysSo) {
  std::string out;
  EXPECT_EQ(RunClient("job --printer P --user U --timeout 1", &out),
            static_cast<DWORD>(kExitNotRunning));
  EXPECT_NE(out.find("the service is not running"), std::string::npos) << out;
}

TEST(QuillonctlProgram, WithEveryInstanceBusyItGivesUpAfterItsTimeout) {
  UniqueHandle server = ServerInstance();
  ASSERT_TRUE(server);
  UniqueHandle other = ConnectTo(kPipeName);   // holds the only instance
  ASSERT_TRUE(other);
  std::string out;
  EXPECT_EQ(RunClient("rule --printer-id 1 --user-id 1 --action none --timeout 1", &out),
            static_cast<DWORD>(kExitTimedOut));
  EXPECT_NE(out.find("gave up after 1 s"), std::string::npos) << out;
}

TEST(QuillonctlProgram, AServiceThatEndsAfterTheHeaderDidNotTakeTheMessage) {
  UniqueHandle server = ServerInstance();
  ASSERT_TRUE(server);
  std::thread serve([&] {
    ConnectNamedPipe(server.get(), nullptr);
    PIPE_DATA header = {};
    DWORD cb = 0;
    ReadFile(server.get(), &header, sizeof(header), &cb, nullptr);
    server.reset();   // gone before the payload
  });
  std::string out;
  const DWORD code = RunClient("job --printer P --user U", &out);
  serve.join();
  EXPECT_EQ(code, static_cast<DWORD>(kExitNotTakenWhole)) << out;
  EXPECT_NE(out.find("did not take the message whole"), std::string::npos) << out;
}

TEST(QuillonctlProgram, AMessageTakenWholeExitsWithZero) {
  UniqueHandle server = ServerInstance();
  ASSERT_TRUE(server);
  PIPE_DATA header = {};
  PERMISSION_ENTRY rule = {};
  std::thread serve([&] {
    ConnectNamedPipe(server.get(), nullptr);
    DWORD cb = 0;
    ReadFile(server.get(), &header, sizeof(header), &cb, nullptr);
    ReadFile(server.get(), &rule, sizeof(rule), &cb, nullptr);
    server.reset();
  });
  std::string out;
  const DWORD code = RunClient("rule --printer-id 4 --user-id any --action delete", &out);
  serve.join();
  EXPECT_EQ(code, 0u) << out;
  EXPECT_EQ(header.dwType, PIPE_PERMISSION);
  EXPECT_EQ(header.dwSize, 12u);
  EXPECT_EQ(rule.idPrinter, 4);
  EXPECT_EQ(rule.idUser, -1);
  EXPECT_EQ(rule.Action, JOB_CONTROL_DELETE);
}

}  // namespace
