#include "command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <sstream>

#include "database_access.h"
#include "exit_codes.h"
#include "text_forms.h"
#include "tool_context.h"

namespace {

// Every command, registered here and nowhere else.
void AddCommands(CLI::App& app, CToolContext& ctx) {
  AddSetupCommand(app, ctx);
  AddPrinterCommand(app, ctx);
  AddRuleCommand(app, ctx);
  AddQuotaCommand(app, ctx);
  AddStatusCommand(app, ctx);
  AddReportCommand(app, ctx);
  AddJobCommand(app, ctx);
}

std::unique_ptr<CLI::App> BuildApp(CToolContext& ctx) {
  auto app = std::make_unique<CLI::App>(
      "quillonctl: sets up, steers and watches the Tamrel Quillon Service.", "quillonctl");
  app->set_version_flag("--version", std::string("quillonctl ") + kClientVersion);
  app->require_subcommand(1, 1);
  // Arguments no command takes are collected and named (Parse), in the
  // order they were given.
  app->allow_extras();
  app->footer(std::string("Each command has --help.\n\n") + kExitCodeHelp);
  AddCommands(*app, ctx);
  return app;
}

// The arguments for the library: UTF-8, the Windows help switches made its
// own, in the reversed order it consumes them from.
std::vector<std::string> LibraryArguments(const std::vector<std::wstring>& args) {
  std::vector<std::string> out;
  for (const std::wstring& arg : args) {
    out.push_back(arg == L"/?" || arg == L"-?" ? "--help" : WideToUtf8(arg));
  }
  std::reverse(out.begin(), out.end());
  return out;
}

enum class Parsed { Run, Help, Version, Failed };

Parsed Parse(const std::vector<std::wstring>& args, CLI::App& app, CToolContext& ctx,
             std::string* pText) {
  if (args.empty()) {
    *pText = "no command given";
    return Parsed::Failed;
  }
  const std::string first = WideToUtf8(args[0]);
  bool bKnown = false;
  for (const CLI::App* sub : app.get_subcommands({})) bKnown = bKnown || sub->get_name() == first;
  if (!first.empty() && first[0] != '-' && first != "/?" && !bKnown) {
    *pText = "unknown command '" + first + "'";
    return Parsed::Failed;
  }
  std::vector<std::string> reversed = LibraryArguments(args);
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    // The help of the command that was named, or of the program.
    const CLI::App* pShown = &app;
    for (const CLI::App* sub = &app; sub;) {
      const auto subs = sub->get_subcommands();
      sub = subs.empty() ? nullptr : subs.front();
      if (sub) pShown = sub;
    }
    *pText = pShown->help();
    return Parsed::Help;
  } catch (const CLI::CallForAllHelp&) {
    *pText = app.help("", CLI::AppFormatMode::All);
    return Parsed::Help;
  } catch (const CLI::CallForVersion& e) {
    *pText = e.what();
    return Parsed::Version;
  } catch (const CLI::ParseError& e) {
    *pText = e.what();
    return Parsed::Failed;
  }
  const std::vector<std::string> extras = app.remaining(true);
  if (!extras.empty()) {
    const bool bOption = extras[0].compare(0, 1, "-") == 0;
    *pText = (bOption ? "unknown option '" : "unexpected argument '") + extras[0] + "'";
    return Parsed::Failed;
  }
  if (!ctx.error.empty()) {
    *pText = ctx.error;
    return Parsed::Failed;
  }
  return Parsed::Run;
}

}  // namespace

void SetDetails(CLI::App& command, const std::string& details) {
  command.footer(details + "\n\n" + kExitCodeHelp);
}

int RunCommandLine(const std::vector<std::wstring>& args, const CJobDefaults& defaults,
                   CToolStreams& io) {
  CToolContext ctx;
  ctx.defaults = defaults;
  std::unique_ptr<CLI::App> app = BuildApp(ctx);
  std::string text;
  switch (Parse(args, *app, ctx, &text)) {
    case Parsed::Help:
      io.out << text;
      return kExitSent;
    case Parsed::Version:
      io.out << text << "\n";
      return kExitSent;
    case Parsed::Failed:
      io.err << "quillonctl: " << text << "\nTry 'quillonctl --help'.\n";
      return kExitBadArguments;
    case Parsed::Run:
      break;
  }
  if (!ctx.action) return kExitBadArguments;
  // The commands report their own failures; what escapes them is unforeseen
  // and still ends with a message, not a crash.
  try {
    return ctx.action(io);
  } catch (const _com_error& e) {
    io.err << "quillonctl: the database failed: " << DatabaseFailureText(e) << "\n";
    return kExitDatabase;
  } catch (const std::exception& e) {
    io.err << "quillonctl: " << e.what() << "\n";
    return kExitDatabase;
  }
}

std::string ParseCommandLine(const std::vector<std::wstring>& args, const CJobDefaults& defaults,
                             CClientCommand& cmd) {
  CToolContext ctx;
  ctx.defaults = defaults;
  std::unique_ptr<CLI::App> app = BuildApp(ctx);
  std::string text;
  cmd = CClientCommand();
  switch (Parse(args, *app, ctx, &text)) {
    case Parsed::Help:
      cmd.kind = CClientCommand::Help;
      return "";
    case Parsed::Version:
      cmd.kind = CClientCommand::Version;
      return "";
    case Parsed::Failed:
      return text;
    case Parsed::Run:
      break;
  }
  cmd = ctx.message;
  if (cmd.kind != CClientCommand::Job && cmd.kind != CClientCommand::Rule) {
    cmd.kind = CClientCommand::Other;
  }
  return "";
}

std::string UsageText() {
  CToolContext ctx;
  return BuildApp(ctx)->help();
}
