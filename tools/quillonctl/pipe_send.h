// Sends a job report or a rule to the service's pipe and says how it went.
#pragma once

#include <string>

#include "command_line.h"

struct CToolStreams;

// The exit code of the sending (exit_codes.h); what happened is written.
int SendMessageToService(const CClientCommand& message, CToolStreams& io);

// The same for a rule without its report of success; the failure's text,
// or "" when the service took it.
int SendRuleQuietly(const PERMISSION_ENTRY& rule, DWORD dwTimeoutSeconds, std::string* pWhy);

// Whether quillonctl runs as a member of the Administrators group (elevated,
// under UAC): the service keeps rules from its pipe only from them.
bool RunsAsAdministrator();
