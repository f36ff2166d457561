// quillonctl rule: the job-control rules. With ids, one rule pushed to the
// running service (until it restarts); list, add and remove keep the
// lasting rules of PRNPERMISSIONS by name.
#include <CLI/CLI.hpp>

#include <memory>

#include "database/com_errors.h"
#include "database/permission_rules.h"
#include "database_access.h"
#include "exit_codes.h"
#include "named_option.h"
#include "option_values.h"
#include "pipe_send.h"
#include "service_control.h"
#include "service_core/quillon_service.h"
#include "text_forms.h"
#include "tool_context.h"

namespace {

struct RuleOptions {
  std::string printerId, userId, action, timeout;   // the pipe form
  std::string printer, user, dsn;                   // add and remove
};

int RunRuleList(const RuleOptions& o, bool bDsnGiven, CToolStreams& io) {
  DATABASE_CHOICE choice;
  ConnectionPtr connection;
  if (!ChooseDatabase(o.dsn, bDsnGiven, &choice, io)) return kExitBadArguments;
  if (!OpenDatabase(choice.dsn, connection, io)) return kExitDatabase;
  try {
    const std::vector<NAMED_RULE> rules = ListRules(connection);
    if (rules.empty()) io.out << "No rules: every job prints unhindered.\n";
    for (const NAMED_RULE& rule : rules) {
      io.out << "printer " << Shown(rule.entry.idPrinter, rule.printer) << ", user "
             << Shown(rule.entry.idUser, rule.user) << ": " << ActionWord(rule.entry.Action)
             << "\n";
    }
    return kExitSent;
  } catch (const _com_error& e) {
    io.err << "quillonctl: the rules cannot be read: " << DatabaseFailureText(e) << "\n";
    return kExitDatabase;
  }
}

int RunRuleAdd(const RuleOptions& o, const NAMED& printer, const NAMED& user,
                   int32_t action, DWORD dwTimeout, bool bDsnGiven, CToolStreams& io) {
  DATABASE_CHOICE choice;
  ConnectionPtr connection;
  if (!ChooseDatabase(o.dsn, bDsnGiven, &choice, io)) return kExitBadArguments;
  if (!OpenDatabase(choice.dsn, connection, io)) return kExitDatabase;
  PERMISSION_ENTRY rule = {-1, -1, action};
  size_t nReplaced = 0;
  try {
    if (!printer.bAny) rule.idPrinter = ResolvePrinter(connection, printer.ansi, true);
    if (!user.bAny) rule.idUser = ResolveUser(connection, user.ansi, true);
    if ((!printer.bAny && rule.idPrinter < 0) || (!user.bAny && rule.idUser < 0)) {
      io.err << "quillonctl: the database gave no id for the new name; nothing was changed\n";
      return kExitDatabase;
    }
    nReplaced = StoreRule(connection, rule);
  } catch (const _com_error& e) {
    io.err << "quillonctl: the rule cannot be stored: " << DatabaseFailureText(e) << "\n";
    return kExitDatabase;
  }
  io.out << (nReplaced ? "Rule replaced" : "Rule added") << ": printer " << printer.shown
         << ", user " << user.shown << ": " << ActionWord(action) << ".\n";
  if (!choice.bServiceOwn) {
    io.out << "That database is not the service's own (its \"DSN\"): the services that record "
              "into it apply the rule when they start.\n";
    return kExitSent;
  }
  if (!IsServiceRunning(QueryServiceFacts(kServiceName))) {
    io.out << "The service is not running: it applies the rule when it starts.\n";
    return kExitSent;
  }
  if (!RunsAsAdministrator()) {
    io.out << "quillonctl does not run as an administrator, and the service takes rules on its "
              "pipe only from administrators: it applies the rule when it restarts.\n";
    return kExitSent;
  }
  std::string why;
  const int code = SendRuleQuietly(rule, dwTimeout, &why);
  if (code == kExitSent) {
    io.out << "The service applies it from now on.\n";
  } else {
    io.err << "quillonctl: the rule is stored, but the running service did not take it ("
           << why << "): it applies when the service restarts\n";
  }
  return code;
}

int RunRuleRemove(const RuleOptions& o, const NAMED& printer, const NAMED& user,
                      bool bDsnGiven, CToolStreams& io) {
  DATABASE_CHOICE choice;
  ConnectionPtr connection;
  if (!ChooseDatabase(o.dsn, bDsnGiven, &choice, io)) return kExitBadArguments;
  if (!OpenDatabase(choice.dsn, connection, io)) return kExitDatabase;
  size_t nRemoved = 0;
  try {
    const int32_t idPrinter = printer.bAny ? -1 : ResolvePrinter(connection, printer.ansi, false);
    const int32_t idUser = user.bAny ? -1 : ResolveUser(connection, user.ansi, false);
    if ((printer.bAny || idPrinter >= 0) && (user.bAny || idUser >= 0)) {
      nRemoved = DeleteRules(connection, idPrinter, idUser);
    }
  } catch (const _com_error& e) {
    io.err << "quillonctl: the rule cannot be removed: " << DatabaseFailureText(e) << "\n";
    return kExitDatabase;
  }
  if (!nRemoved) {
    io.err << "quillonctl: there is no rule for printer " << printer.shown << " and user "
           << user.shown << "; nothing was changed\n";
    return kExitBadArguments;
  }
  io.out << "Rule removed: printer " << printer.shown << ", user " << user.shown << ".\n";
  if (choice.bServiceOwn && IsServiceRunning(QueryServiceFacts(kServiceName))) {
    // The pipe can only set a rule: "none" in its place would also hide the
    // printer's rule for every user from this user.
    io.out << "The running service keeps applying it until it restarts: a rule cannot be "
              "withdrawn through its pipe.\n";
  }
  return kExitSent;
}

// The common values of add and remove; "" or the first problem.
std::string Names(const RuleOptions& o, NAMED& printer, NAMED& user) {
  std::string e = NameValue("--printer", o.printer, printer);
  if (e.empty()) e = NameValue("--user", o.user, user);
  return e;
}

}  // namespace

void AddRuleCommand(CLI::App& app, CToolContext& ctx) {
  auto o = std::make_shared<RuleOptions>();
  CLI::App* rule = app.add_subcommand("rule", "Keep the job-control rules by name");
  SetDetails(*rule,
             "rule list | add | remove keep the lasting rules in the database, by name.\n"
             "rule --printer-id N|any --user-id N|any --action ACTION sends one rule by ids to\n"
             "the running service, which applies it until it restarts (it keeps rules only\n"
             "from administrators). ACTION is none, pause, resume, cancel, restart, delete or\n"
             "a number from 0 to 9; -1 or 'any' stands for every printer or user.");
  rule->require_subcommand(0, 1);
  rule->add_option("--printer-id", o->printerId, "a printer id, -1 or 'any'");
  rule->add_option("--user-id", o->userId, "a user id, -1 or 'any'");
  rule->add_option("--action", o->action,
                   "none, pause, resume, cancel, restart, delete, or a number from 0 to 9");
  rule->add_option("--timeout", o->timeout, "seconds to wait for the service (default 30)");
  rule->callback([o, rule, &ctx] {
    if (!rule->get_subcommands().empty()) return;
    PERMISSION_ENTRY& entry = ctx.message.rule;
    int64_t timeout = kDefaultTimeoutSeconds;
    for (const char* pszRequired : {"--printer-id", "--user-id", "--action"}) {
      if (!rule->get_option(pszRequired)->count()) {
        ctx.error = std::string(pszRequired) + " is required";
        return;
      }
    }
    for (const std::string& e :
         {IdValue("--printer-id", o->printerId, entry.idPrinter),
          IdValue("--user-id", o->userId, entry.idUser), ActionValue(o->action, entry.Action),
          rule->get_option("--timeout")->count()
              ? NumberValue("--timeout", o->timeout, 0, 86400, timeout)
              : std::string()}) {
      if (!e.empty()) {
        ctx.error = e;
        return;
      }
    }
    ctx.message.dwTimeoutSeconds = static_cast<DWORD>(timeout);
    ctx.message.kind = CClientCommand::Rule;
    ctx.action = [&ctx](CToolStreams& io) { return SendMessageToService(ctx.message, io); };
  });

  CLI::App* list = rule->add_subcommand("list", "Show the lasting rules by name");
  SetDetails(*list, "Printers and users by name ('any' for every one), actions by their word.");
  list->add_option("--dsn", o->dsn, "the database's connection string (default: the service's)");
  list->callback([o, list, &ctx] {
    const bool bDsn = list->get_option("--dsn")->count() > 0;
    ctx.action = [o, bDsn](CToolStreams& io) { return RunRuleList(*o, bDsn, io); };
  });

  CLI::App* add = rule->add_subcommand("add", "Add or replace a lasting rule");
  SetDetails(*add,
             "The rule replaces the one of the same printer and user. Names the database does\n"
             "not know yet are registered as the service registers them. When the service runs\n"
             "and records into this database, it applies the rule at once. A rule for every\n"
             "printer and one user is refused: the service never looks such a rule up.");
  add->add_option("--printer", o->printer, "the printer's name, or 'any'")->required();
  add->add_option("--user", o->user, "the user's name, or 'any'")->required();
  add->add_option("--action", o->action,
                  "none, pause, resume, cancel, restart, delete, or a number from 0 to 9")
      ->required();
  add->add_option("--dsn", o->dsn, "the database's connection string (default: the service's)");
  add->add_option("--timeout", o->timeout,
                  "seconds to wait for the running service to take it (default 30)");
  add->callback([o, add, &ctx] {
    auto printer = std::make_shared<NAMED>();
    auto user = std::make_shared<NAMED>();
    int32_t action = 0;
    int64_t timeout = kDefaultTimeoutSeconds;
    std::string e = Names(*o, *printer, *user);
    if (e.empty()) e = ActionValue(o->action, action);
    if (e.empty() && add->get_option("--timeout")->count()) {
      e = NumberValue("--timeout", o->timeout, 0, 86400, timeout);
    }
    if (e.empty() && printer->bAny && !user->bAny) {
      // The service looks up the exact rule, the printer's rule for every
      // user and the rule for every printer and user: never this one.
      e = "a rule for every printer and one user is never applied by the service: name the "
          "printer, or make it a rule for every user";
    }
    if (!e.empty()) {
      ctx.error = e;
      return;
    }
    const bool bDsn = add->get_option("--dsn")->count() > 0;
    const DWORD dwTimeout = static_cast<DWORD>(timeout);
    ctx.action = [o, printer, user, action, dwTimeout, bDsn](CToolStreams& io) {
      return RunRuleAdd(*o, *printer, *user, action, dwTimeout, bDsn, io);
    };
  });

  CLI::App* remove = rule->add_subcommand("remove", "Remove the lasting rule of a printer and user");
  SetDetails(*remove,
             "A running service keeps applying the rule until it restarts: its pipe can set a\n"
             "rule, not withdraw one.");
  remove->add_option("--printer", o->printer, "the printer's name, or 'any'")->required();
  remove->add_option("--user", o->user, "the user's name, or 'any'")->required();
  remove->add_option("--dsn", o->dsn, "the database's connection string (default: the service's)");
  remove->callback([o, remove, &ctx] {
    auto printer = std::make_shared<NAMED>();
    auto user = std::make_shared<NAMED>();
    const std::string e = Names(*o, *printer, *user);
    if (!e.empty()) {
      ctx.error = e;
      return;
    }
    const bool bDsn = remove->get_option("--dsn")->count() > 0;
    ctx.action = [o, printer, user, bDsn](CToolStreams& io) {
      return RunRuleRemove(*o, *printer, *user, bDsn, io);
    };
  });
}
