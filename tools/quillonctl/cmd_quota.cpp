// quillonctl quota: page quotas, their resets and a user's standing. The
// quotas are rows of QUOTAS, the resets rows of QUOTARESETS; every service
// that records into the database reads them within its refresh interval,
// so nothing is sent on a pipe.
#include <CLI/CLI.hpp>

#include <ctime>
#include <map>
#include <memory>
#include <optional>

#include "calendar/local_days.h"
#include "database/com_errors.h"
#include "database/permission_rules.h"
#include "database/record_classes.h"
#include "database/reference_caches.h"
#include "database/reference_tables.h"
#include "database_access.h"
#include "exit_codes.h"
#include "named_option.h"
#include "option_values.h"
#include "page_quota/quota_tables.h"
#include "tool_context.h"

namespace {

using page_quota::Period;
using page_quota::PeriodKind;
using page_quota::QUOTA;

constexpr const char kApplies[] =
    "Every service that records into this database applies it within 5 seconds.";

struct QuotaOptions {
  std::string user, printer, pages, period, action, dsn;
  bool bColour = false;
};

// Printer and user names by id, for showing quotas.
struct NAMES {
  std::map<int32_t, std::string> printers, users;
};

std::map<int32_t, std::string> ById(const CNameIdMap& names) {
  std::map<int32_t, std::string> byId;
  for (const auto& named : names.Snapshot()) byId[named.second] = named.first;
  return byId;
}

NAMES ReadNames(const ConnectionPtr& connection) {
  CNameIdMap printers(kPrinterNameWidth), users(kUserNameWidth);
  if (!LoadPrinterRows(connection, printers) || !LoadUserRows(connection, users)) {
    RaiseComError(E_FAIL, L"PRINTERS or USERS cannot be read.");
  }
  return {ById(printers), ById(users)};
}

std::string NameOf(const std::map<int32_t, std::string>& byId, int32_t id) {
  auto it = byId.find(id);
  return Shown(id, it == byId.end() ? std::string() : it->second);
}

std::string PeriodPhrase(const Period& period) {
  switch (period.kind) {
    case PeriodKind::None: return "in all, until reset";
    case PeriodKind::Day: return "a day";
    case PeriodKind::Week: return "a week (from Monday)";
    case PeriodKind::Month: return "a month";
    case PeriodKind::Year: return "a year";
    case PeriodKind::Span: break;
  }
  return "from " + calendar::FormatDate(period.from) + " to " + calendar::FormatDate(period.to);
}

std::string QuotaLine(const QUOTA& q, const NAMES& names) {
  return "user " + NameOf(names.users, q.idUser) + ", printer " +
         NameOf(names.printers, q.idPrinter) + ": " + std::to_string(q.pages) +
         (q.bColourOnly ? " colour pages " : " pages ") + PeriodPhrase(q.period) +
         ", then " + ActionWord(q.action);
}

// pause, cancel or delete: what stops a job.
std::string QuotaActionValue(const std::string& text, int32_t& action) {
  static const struct {
    const char* word;
    int32_t command;
  } kActions[] = {{"pause", 1}, {"cancel", 3}, {"delete", 5}};
  for (const auto& a : kActions) {
    if (text == a.word) {
      action = a.command;
      return "";
    }
  }
  return "--action takes pause, cancel or delete, not '" + text + "'";
}

bool Open(const QuotaOptions& o, bool bDsn, ConnectionPtr& connection, CToolStreams& io) {
  DATABASE_CHOICE choice;
  return ChooseDatabase(o.dsn, bDsn, &choice, io) && OpenDatabase(choice.dsn, connection, io);
}

int RunList(const QuotaOptions& o, bool bDsn, CToolStreams& io) {
  ConnectionPtr connection;
  if (!Open(o, bDsn, connection, io)) return kExitDatabase;
  std::vector<page_quota::BAD_QUOTA> bad;
  const std::vector<QUOTA> quotas = page_quota::ReadQuotas(connection, &bad);
  const NAMES names = ReadNames(connection);
  if (quotas.empty() && bad.empty()) io.out << "No quotas: nobody's printing is limited.\n";
  for (const QUOTA& q : quotas) io.out << QuotaLine(q, names) << "\n";
  for (const page_quota::BAD_QUOTA& b : bad) {
    io.out << "quota #" << b.idQuota << ": period '" << b.period
           << "' is not one the service reads; it is not applied\n";
  }
  return kExitSent;
}

// The ids of the names (-1 for any); false, with a message, when one is not
// known and may not be registered.
bool Resolve(const ConnectionPtr& connection, const NAMED& user, const NAMED& printer,
             bool bRegister, int32_t& idUser, int32_t& idPrinter, CToolStreams& io) {
  idUser = user.bAny ? -1 : ResolveUser(connection, user.ansi, bRegister);
  idPrinter = printer.bAny ? -1 : ResolvePrinter(connection, printer.ansi, bRegister);
  if ((!user.bAny && idUser < 0) || (!printer.bAny && idPrinter < 0)) {
    if (bRegister) {
      io.err << "quillonctl: the database gave no id for the new name; nothing was changed\n";
    } else {
      io.err << "quillonctl: the database knows no " << (!user.bAny && idUser < 0 ? "user '" : "printer '")
             << (!user.bAny && idUser < 0 ? user.shown : printer.shown) << "'\n";
    }
    return false;
  }
  return true;
}

int RunSet(const QuotaOptions& o, const NAMED& user, const NAMED& printer, QUOTA quota, bool bDsn,
           CToolStreams& io) {
  ConnectionPtr connection;
  if (!Open(o, bDsn, connection, io)) return kExitDatabase;
  if (!Resolve(connection, user, printer, true, quota.idUser, quota.idPrinter, io)) {
    return kExitDatabase;
  }
  const bool bReplaced = page_quota::StoreQuota(connection, quota);
  io.out << (bReplaced ? "Quota replaced: " : "Quota set: ") << "user " << user.shown
         << ", printer " << printer.shown << ": " << quota.pages
         << (quota.bColourOnly ? " colour pages " : " pages ") << PeriodPhrase(quota.period)
         << ", then " << ActionWord(quota.action) << ".\n"
         << kApplies << "\n";
  return kExitSent;
}

int RunRemove(const QuotaOptions& o, const NAMED& user, const NAMED& printer,
              std::optional<bool> colour, std::optional<Period> period, bool bDsn,
              CToolStreams& io) {
  ConnectionPtr connection;
  if (!Open(o, bDsn, connection, io)) return kExitDatabase;
  int32_t idUser = -1, idPrinter = -1;
  size_t nRemoved = 0;
  if (Resolve(connection, user, printer, false, idUser, idPrinter, io)) {
    nRemoved = page_quota::RemoveQuotas(connection, idUser, idPrinter, colour ? &*colour : nullptr,
                                        period ? &*period : nullptr);
  }
  if (!nRemoved) {
    io.err << "quillonctl: there is no such quota for user " << user.shown << " and printer "
           << printer.shown << "; nothing was changed\n";
    return kExitBadArguments;
  }
  io.out << "Removed " << nRemoved << (nRemoved == 1 ? " quota" : " quotas") << " of user "
         << user.shown << ", printer " << printer.shown << ".\n"
         << kApplies << "\n";
  return kExitSent;
}

int RunReset(const QuotaOptions& o, const NAMED& user, const NAMED& printer, bool bDsn,
             CToolStreams& io) {
  ConnectionPtr connection;
  if (!Open(o, bDsn, connection, io)) return kExitDatabase;
  int32_t idUser = -1, idPrinter = -1;
  if (!Resolve(connection, user, printer, false, idUser, idPrinter, io)) return kExitBadArguments;
  const int64_t tNow = static_cast<int64_t>(std::time(nullptr));
  page_quota::AddReset(connection, idUser, idPrinter, tNow);
  io.out << "Use of " << user.shown << (printer.bAny ? " on every printer" : " on " + printer.shown)
         << " counts again from now: jobs submitted from now on.\n"
         << kApplies << "\n";
  return kExitSent;
}

std::string LastDay(const calendar::CLocalDays& days, int64_t tEnd) {
  return calendar::FormatDate(days.DateOf(tEnd - 1));
}

int RunShow(const QuotaOptions& o, const NAMED& user, bool bDsn, CToolStreams& io) {
  ConnectionPtr connection;
  if (!Open(o, bDsn, connection, io)) return kExitDatabase;
  const int32_t idUser = ResolveUser(connection, user.ansi, false);
  if (idUser < 0) {
    io.err << "quillonctl: the database knows no user '" << user.shown << "'\n";
    return kExitBadArguments;
  }
  const std::vector<QUOTA> quotas = page_quota::ReadQuotas(connection);
  const page_quota::RESETS resets = page_quota::ReadResets(connection);
  const NAMES names = ReadNames(connection);
  const calendar::CLocalDays days;
  const int64_t tNow = static_cast<int64_t>(std::time(nullptr));
  size_t nShown = 0;
  // The user's own quotas first: they beat those for every user.
  for (bool bOwn : {true, false}) {
    for (const QUOTA& q : quotas) {
      if ((q.idUser == idUser) != bOwn || (!bOwn && q.idUser != -1)) continue;
      ++nShown;
      io.out << "printer " << NameOf(names.printers, q.idPrinter) << (bOwn ? "" : " (every user's)")
             << ": " << q.pages << (q.bColourOnly ? " colour pages " : " pages ")
             << PeriodPhrase(q.period) << ", then " << ActionWord(q.action) << "\n";
      const page_quota::QUOTA_USE standing = page_quota::UseNow(connection, q, idUser, resets, days, tNow);
      if (!standing.window.bApplies) {
        io.out << "  not in force now\n";
        continue;
      }
      const int64_t left = q.pages - standing.use;
      io.out << "  used " << standing.use << ", left " << (left > 0 ? left : 0);
      if (standing.tFrom > standing.window.tBegin) {
        io.out << " (counted since a reset on " << calendar::FormatDate(days.DateOf(standing.tFrom))
               << ")";
      }
      io.out << "; "
             << (standing.window.tEnd == page_quota::kNoBound
                     ? std::string("no period end")
                     : "the period ends after " + LastDay(days, standing.window.tEnd))
             << "\n";
    }
  }
  if (!nShown) io.out << "No quota applies to " << user.shown << ".\n";
  return kExitSent;
}

// The names of set, remove and reset; "" or the first problem.
std::string Names(const QuotaOptions& o, NAMED& user, NAMED& printer) {
  std::string e = NameValue("--user", o.user, user);
  if (e.empty()) e = NameValue("--printer", o.printer.empty() ? "any" : o.printer, printer);
  return e;
}

void AddDsn(CLI::App* command, QuotaOptions& o) {
  command->add_option("--dsn", o.dsn, "the database's connection string (default: the service's)");
}

bool DsnGiven(CLI::App* command) { return command->get_option("--dsn")->count() > 0; }

// Runs a command, turning a database failure into its message and code.
template <class Run>
std::function<int(CToolStreams&)> Guarded(const char* pszWhat, Run run) {
  return [pszWhat, run](CToolStreams& io) {
    try {
      return run(io);
    } catch (const _com_error& e) {
      io.err << "quillonctl: " << pszWhat << ": " << DatabaseFailureText(e) << "\n";
      return static_cast<int>(kExitDatabase);
    } catch (const std::runtime_error& e) {
      io.err << "quillonctl: " << pszWhat << ": " << e.what() << "\n";
      return static_cast<int>(kExitDatabase);
    }
  };
}

}  // namespace

void AddQuotaCommand(CLI::App& app, CToolContext& ctx) {
  auto o = std::make_shared<QuotaOptions>();
  CLI::App* quota = app.add_subcommand("quota", "Keep page quotas and see a user's standing");
  SetDetails(*quota,
             "A quota limits the pages of a user (or of every user: 'any') on a printer (or\n"
             "on every printer: 'any') in a period; a job that would pass it gets the quota's\n"
             "action. The most specific quotas in force apply: the user's own on the printer,\n"
             "else the user's own on every printer, else every user's on the printer, else\n"
             "every user's on every printer; a job must fit each quota of that level.");
  quota->require_subcommand(1, 1);

  CLI::App* list = quota->add_subcommand("list", "Show every quota");
  AddDsn(list, *o);
  list->callback([o, list, &ctx] {
    const bool bDsn = DsnGiven(list);
    ctx.action = Guarded("the quotas cannot be read",
                         [o, bDsn](CToolStreams& io) { return RunList(*o, bDsn, io); });
  });

  CLI::App* set = quota->add_subcommand("set", "Set or replace a quota");
  SetDetails(*set,
             "PERIOD is day, week (from Monday), month, year, none (a total until reset) or\n"
             "FROM..TO, local days inclusive (2026-09-01..2027-01-31, a term). A quota of the\n"
             "same user, printer, colour flag and period is replaced. Names the database does\n"
             "not know yet are registered as the service registers them.");
  set->add_option("--user", o->user, "the user's name, or 'any'")->required();
  set->add_option("--printer", o->printer, "the printer's name, or 'any'")->required();
  set->add_option("--pages", o->pages, "the limit, from 0 to 2147483647")->required();
  set->add_flag("--colour,--color", o->bColour, "count only the pages of colour jobs");
  set->add_option("--period", o->period, "day, week, month, year, none or FROM..TO")->required();
  set->add_option("--action", o->action, "pause, cancel or delete")->required();
  AddDsn(set, *o);
  set->callback([o, set, &ctx] {
    auto user = std::make_shared<NAMED>();
    auto printer = std::make_shared<NAMED>();
    QUOTA q;
    int64_t pages = 0;
    std::string e = Names(*o, *user, *printer);
    if (e.empty()) e = NumberValue("--pages", o->pages, 0, INT32_MAX, pages);
    if (e.empty() && !page_quota::ParsePeriod(o->period, q.period)) {
      e = "--period takes day, week, month, year, none or FROM..TO (YYYY-MM-DD..YYYY-MM-DD, "
          "FROM not after TO), not '" + o->period + "'";
    }
    if (e.empty()) e = QuotaActionValue(o->action, q.action);
    if (!e.empty()) {
      ctx.error = e;
      return;
    }
    q.pages = pages;
    q.bColourOnly = o->bColour;
    const bool bDsn = DsnGiven(set);
    ctx.action = Guarded("the quota cannot be stored", [o, user, printer, q, bDsn](CToolStreams& io) {
      return RunSet(*o, *user, *printer, q, bDsn, io);
    });
  });

  CLI::App* remove = quota->add_subcommand("remove", "Remove the quotas of a user and printer");
  SetDetails(*remove, "With --colour or --period, only the quotas that match them.");
  remove->add_option("--user", o->user, "the user's name, or 'any'")->required();
  remove->add_option("--printer", o->printer, "the printer's name, or 'any'")->required();
  remove->add_flag("--colour,--color", o->bColour, "only the colour-only quota");
  remove->add_option("--period", o->period, "only the quota of this period");
  AddDsn(remove, *o);
  remove->callback([o, remove, &ctx] {
    auto user = std::make_shared<NAMED>();
    auto printer = std::make_shared<NAMED>();
    std::string e = Names(*o, *user, *printer);
    std::optional<Period> period;
    if (e.empty() && remove->get_option("--period")->count()) {
      Period p;
      if (!page_quota::ParsePeriod(o->period, p)) {
        e = "--period takes day, week, month, year, none or FROM..TO, not '" + o->period + "'";
      }
      period = p;
    }
    if (!e.empty()) {
      ctx.error = e;
      return;
    }
    std::optional<bool> colour;
    if (o->bColour) colour = true;
    const bool bDsn = DsnGiven(remove);
    ctx.action = Guarded("the quota cannot be removed",
                         [o, user, printer, colour, period, bDsn](CToolStreams& io) {
                           return RunRemove(*o, *user, *printer, colour, period, bDsn, io);
                         });
  });

  CLI::App* reset = quota->add_subcommand("reset", "Count a user's use again from now");
  SetDetails(*reset,
             "Without --printer the user's use on every printer counts again from now; with it,\n"
             "only the use that quotas of that printer count.");
  reset->add_option("--user", o->user, "the user's name")->required();
  reset->add_option("--printer", o->printer, "the printer's name (default: every printer)");
  AddDsn(reset, *o);
  reset->callback([o, reset, &ctx] {
    auto user = std::make_shared<NAMED>();
    auto printer = std::make_shared<NAMED>();
    std::string e = Names(*o, *user, *printer);
    if (e.empty() && user->bAny) e = "--user names one user: a reset is a user's";
    if (!e.empty()) {
      ctx.error = e;
      return;
    }
    const bool bDsn = DsnGiven(reset);
    ctx.action = Guarded("the reset cannot be stored", [o, user, printer, bDsn](CToolStreams& io) {
      return RunReset(*o, *user, *printer, bDsn, io);
    });
  });

  CLI::App* show = quota->add_subcommand("show", "A user's quotas: use, what is left, the period's end");
  show->add_option("--user", o->user, "the user's name")->required();
  AddDsn(show, *o);
  show->callback([o, show, &ctx] {
    auto user = std::make_shared<NAMED>();
    std::string e = NameValue("--user", o->user, *user);
    if (e.empty() && user->bAny) e = "--user names one user";
    if (!e.empty()) {
      ctx.error = e;
      return;
    }
    const bool bDsn = DsnGiven(show);
    ctx.action = Guarded("the quotas cannot be read", [o, user, bDsn](CToolStreams& io) {
      return RunShow(*o, *user, bDsn, io);
    });
  });
}
