// What the commands of quillonctl share while its command line is parsed:
// each command's parse step checks its values and chooses what is to be
// done; main runs that afterwards, so parsing alone never acts.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "command_line.h"

namespace CLI {
class App;
}

// Where a command writes what it has to say (UTF-8).
struct CToolStreams {
  std::ostream& out;
  std::ostream& err;
};

struct CToolContext {
  CJobDefaults defaults;               // what a job report takes when not named
  CClientCommand message;              // job, and rule by id: the message to send
  std::function<int(CToolStreams&)> action;   // the command chosen, with its values
  std::string error;                   // a value a parse step refused, naming it
};

// Sets what a command's --help shows below its options: the details, then
// the exit codes.
void SetDetails(CLI::App& command, const std::string& details);

// The commands, a file each (cmd_*.cpp), registered in one place
// (command_line.cpp: AddCommands).
void AddJobCommand(CLI::App& app, CToolContext& ctx);
void AddRuleCommand(CLI::App& app, CToolContext& ctx);
void AddSetupCommand(CLI::App& app, CToolContext& ctx);
void AddPrinterCommand(CLI::App& app, CToolContext& ctx);
void AddStatusCommand(CLI::App& app, CToolContext& ctx);
void AddReportCommand(CLI::App& app, CToolContext& ctx);
void AddQuotaCommand(CLI::App& app, CToolContext& ctx);
