#include "pipe_send.h"

#include "exit_codes.h"
#include "pipe_client.h"
#include "pipe_intake/pipe_protocol.h"
#include "system_text.h"
#include "tool_context.h"

namespace {

int ExitCodeOf(const CSendResult& result, DWORD dwTimeoutSeconds, std::string* pWhy) {
  switch (result.outcome) {
    case SendOutcome::Sent:
      pWhy->clear();
      return kExitSent;
    case SendOutcome::NotRunning:
      *pWhy = std::string("the service is not running (no pipe ") + kPipeName + ")";
      return kExitNotRunning;
    case SendOutcome::TimedOut:
      *pWhy = "gave up after " + std::to_string(dwTimeoutSeconds) +
              " s waiting for the service to accept the connection";
      return kExitTimedOut;
    case SendOutcome::NotTakenWhole:
      *pWhy = "the service did not take the message whole: " + SystemErrorText(result.dwError);
      return kExitNotTakenWhole;
    case SendOutcome::CannotOpen:
      *pWhy = std::string("cannot open ") + kPipeName + ": " + SystemErrorText(result.dwError);
      return kExitCannotOpen;
  }
  *pWhy = "cannot send";
  return kExitCannotOpen;
}

}  // namespace

int SendMessageToService(const CClientCommand& message, CToolStreams& io) {
  const DWORD dwTimeoutMs = message.dwTimeoutSeconds * 1000;
  const bool bJob = message.kind == CClientCommand::Job;
  const CSendResult result =
      bJob ? SendPipeMessage(kPipeName, PIPE_JOB, &message.job, sizeof(message.job), dwTimeoutMs)
           : SendPipeMessage(kPipeName, PIPE_PERMISSION, &message.rule, sizeof(message.rule),
                             dwTimeoutMs);
  std::string why;
  const int code = ExitCodeOf(result, message.dwTimeoutSeconds, &why);
  if (code == kExitSent) {
    io.out << (bJob ? "Job report" : "Rule") << " sent to the service.\n";
  } else {
    io.err << "quillonctl: " << why << "\n";
  }
  return code;
}

int SendRuleQuietly(const PERMISSION_ENTRY& rule, DWORD dwTimeoutSeconds, std::string* pWhy) {
  return ExitCodeOf(
      SendPipeMessage(kPipeName, PIPE_PERMISSION, &rule, sizeof(rule), dwTimeoutSeconds * 1000),
      dwTimeoutSeconds, pWhy);
}

bool RunsAsAdministrator() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD cbSid = sizeof(sid);
  BOOL bMember = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &cbSid) &&
         CheckTokenMembership(nullptr, sid, &bMember) && bMember;
}
