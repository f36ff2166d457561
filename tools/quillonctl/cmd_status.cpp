// quillonctl status: the service's state, its database, its journal, its
// printers and its latest database events; exit code 0 only when the
// service runs, the database answers and the journal is empty.
#include <CLI/CLI.hpp>

#include <ctime>
#include <memory>
#include <stdexcept>

#include "connection_setting.h"
#include "database/com_errors.h"
#include "database/odbc_statement.h"
#include "database_access.h"
#include "exit_codes.h"
#include "job_accounting/job_journal.h"
#include "printer_lists.h"
#include "printer_monitor/gdi_settings.h"
#include "service_control.h"
#include "service_core/quillon_service.h"
#include "service_events.h"
#include "text_forms.h"
#include "tool_context.h"

namespace {

// A statement that waits on a lock longer than this counts as no answer
// (drivers that know a query time-out; SQLite's is the DSN's Timeout).
constexpr SQLULEN kQueryTimeoutSeconds = 10;
constexpr size_t kEventsShown = 5;

struct StatusOptions {
  std::string dsn, serviceDir;
};

std::string UtcTime(int64_t t) {
  const std::time_t time = static_cast<std::time_t>(t);
  std::tm parts = {};
  if (gmtime_s(&parts, &time) != 0) return std::to_string(t);
  char sz[32];
  std::strftime(sz, sizeof(sz), "%Y-%m-%d %H:%M:%S UTC", &parts);
  return sz;
}

// Whether the database answers: its rows of PRNDATA and the newest job.
bool ShowDatabase(const std::string& dsn, CToolStreams& io) {
  io.out << "Database:  " << AnsiToUtf8(HidePassword(dsn)) << "\n";
  ConnectionPtr connection;
  std::ostringstream quiet;
  CToolStreams captured{quiet, quiet};
  if (!OpenDatabase(dsn, connection, captured)) {
    std::string text = quiet.str();
    if (text.compare(0, 12, "quillonctl: ") == 0) text = text.substr(12);
    io.out << "           does not answer: " << text;
    return false;
  }
  try {
    std::lock_guard<std::recursive_mutex> lock(connection->Mutex());
    COdbcStatement stmt(connection->Handle());
    SQLSetStmtAttrW(stmt.Handle(), SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kQueryTimeoutSeconds), 0);
    stmt.ExecDirect(L"SELECT COUNT(*), MAX(Submitted) FROM PRNDATA");
    SQLBIGINT nRows = 0, tNewest = 0;
    SQLLEN indRows = 0, indNewest = 0;
    if (stmt.Fetch()) {
      stmt.Check(SQLGetData(stmt.Handle(), 1, SQL_C_SBIGINT, &nRows, sizeof(nRows), &indRows));
      stmt.Check(
          SQLGetData(stmt.Handle(), 2, SQL_C_SBIGINT, &tNewest, sizeof(tNewest), &indNewest));
    }
    io.out << "           answers: " << nRows << (nRows == 1 ? " job" : " jobs") << " recorded";
    if (indNewest != SQL_NULL_DATA && nRows > 0) {
      io.out << ", the newest submitted " << UtcTime(tNewest);
    }
    io.out << "\n";
    return true;
  } catch (const _com_error& e) {
    io.out << "           does not answer: " << DatabaseFailureText(e) << "\n";
    return false;
  }
}

bool ShowJournal(const std::string& dir, CToolStreams& io) {
  if (dir.empty()) {
    io.out << "Journal:   unknown (the service's directory is not known)\n";
    return false;
  }
  const std::string path = dir + "\\" + kJournalFile;
  size_t nJobs = 0;
  if (!CountJournalRecords(path, &nJobs)) {
    io.out << "Journal:   " << AnsiToUtf8(path) << " cannot be read\n";
    return false;
  }
  io.out << "Journal:   " << nJobs << (nJobs == 1 ? " job waits" : " jobs wait")
         << " to be written to the database (" << AnsiToUtf8(path) << ")\n";
  return nJobs == 0;
}

void ShowPrinters(const std::string& dir, CToolStreams& io) {
  if (dir.empty()) return;
  try {
    size_t nOrdinary = 0, nGdi = 0, nDeleting = 0;
    for (const LISTED_PRINTER& printer : ReadPrinterLists(dir)) {
      if (printer.kind == PrinterKind::Gdi) {
        ++nGdi;
        if (DeletesPrintedJobs(printer.name.c_str())) ++nDeleting;
      } else {
        ++nOrdinary;
      }
    }
    io.out << "Printers:  " << nOrdinary << " ordinary, " << nGdi << " GDI";
    if (nDeleting) io.out << " (" << nDeleting << " deleting printed jobs)";
    io.out << " watched ('quillonctl printer list' names them)\n";
  } catch (const std::runtime_error& e) {
    io.out << "Printers:  " << AnsiToUtf8(e.what()) << "\n";
  }
}

void ShowEvents(CToolStreams& io) {
  const EVENT_READING reading =
      ReadServiceEvents(kServiceName, EVMSG_ERROR, EVMSG_PIPE_SERVED, kEventsShown);
  if (!reading.bReadable) {
    io.out << "Events:    " << reading.why << "\n";
    return;
  }
  if (reading.events.empty()) {
    io.out << "Events:    none of 110 to 118\n";
    return;
  }
  io.out << "Events:    the latest of 110 to 118, newest first:\n";
  for (const SERVICE_EVENT& event : reading.events) {
    io.out << "  " << UtcTime(event.dwTime) << "  " << event.dwId << " ";
    for (const std::string& text : event.texts) io.out << " " << text;
    io.out << "\n";
  }
}

int RunStatus(const StatusOptions& o, bool bDsnGiven, bool bDirGiven, CToolStreams& io) {
  const SERVICE_FACTS facts = QueryServiceFacts(kServiceName);
  const bool bRuns = IsServiceRunning(facts);
  io.out << "Service:   " << kServiceName << " is " << ServiceStateText(facts);
  if (bRuns) io.out << " (process " << facts.dwPid << ")";
  io.out << "\n";

  bool bAnswers = false;
  DATABASE_CHOICE choice;
  std::ostringstream quiet;
  CToolStreams captured{quiet, quiet};
  if (ChooseDatabase(o.dsn, bDsnGiven, &choice, captured)) {
    bAnswers = ShowDatabase(choice.dsn, io);
  } else {
    io.out << "Database:  none (no \"DSN\" setting: run 'quillonctl setup')\n";
  }

  std::string dir, dirOption, why;
  Utf8ToAnsi(o.serviceDir, &dirOption);
  if (!FindServiceDirectory(dirOption, bDirGiven, &dir, &why)) dir.clear();
  const bool bJournalEmpty = ShowJournal(dir, io);
  ShowPrinters(dir, io);
  ShowEvents(io);

  if (!bRuns) return kExitNotRunning;
  if (!bAnswers) return kExitDatabase;
  return bJournalEmpty ? kExitSent : kExitJournalHoldsJobs;
}

}  // namespace

void AddStatusCommand(CLI::App& app, CToolContext& ctx) {
  auto o = std::make_shared<StatusOptions>();
  CLI::App* status = app.add_subcommand("status", "Show whether the service runs and records");
  SetDetails(*status,
             "The service's state, its database (password hidden) and whether it answers, the\n"
             "jobs waiting in the journal, the printers watched and the latest events 110 to\n"
             "118. Exit code 0 only when the service runs, the database answers and the\n"
             "journal is empty; else 2 (not running), 6 (no answer) or 9 (jobs wait), the\n"
             "first that holds.");
  CLI::Option* dsn = status->add_option("--dsn", o->dsn,
                                        "a connection string to ask instead of the service's");
  CLI::Option* dir = status->add_option(
      "--service-dir", o->serviceDir,
      "the service's directory (default: from the Service Control Manager)");
  status->callback([o, dsn, dir, &ctx] {
    const bool bDsn = dsn->count() > 0, bDir = dir->count() > 0;
    ctx.action = [o, bDsn, bDir](CToolStreams& io) { return RunStatus(*o, bDsn, bDir, io); };
  });
}
