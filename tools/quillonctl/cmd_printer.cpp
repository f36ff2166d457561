// quillonctl printer: the printers the service watches, kept in its two
// list files, and the "DeletePrinted" setting of the GDI printers.
#include <CLI/CLI.hpp>
#include <windows.h>
#include <winspool.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "exit_codes.h"
#include "printer_lists.h"
#include "printer_monitor/gdi_settings.h"
#include "service_control.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"
#include "system_text.h"
#include "text_forms.h"
#include "tool_context.h"

namespace {

constexpr DWORD kRestartTimeoutMs = 60000;

struct PrinterOptions {
  std::string serviceDir, name, names;
  bool bGdi = false, bDeletePrinted = false, bRestart = false;
};

// "opens", or why the spooler does not open it.
std::string Opens(const std::string& name) {
  PrinterHandle printer;
  std::string mutableName = name;
  if (OpenPrinterA(&mutableName[0], printer.put(), nullptr)) return "opens";
  return "does not open: " + SystemErrorText(GetLastError());
}

int RunList(const std::string& dir, CToolStreams& io) {
  std::vector<LISTED_PRINTER> printers;
  try {
    printers = ReadPrinterLists(dir);
  } catch (const std::runtime_error& e) {
    io.err << "quillonctl: " << AnsiToUtf8(e.what()) << "\n";
    return kExitCannotWrite;
  }
  if (printers.empty()) io.out << "No printers are listed in " << AnsiToUtf8(dir) << ".\n";
  for (const LISTED_PRINTER& printer : printers) {
    io.out << AnsiToUtf8(printer.name) << "\t"
           << (printer.kind == PrinterKind::Gdi ? "GDI" : "ordinary");
    if (printer.kind == PrinterKind::Gdi && DeletesPrintedJobs(printer.name.c_str())) {
      io.out << ", deletes printed jobs";
    }
    io.out << "\t" << Opens(printer.name) << "\n";
  }
  return kExitSent;
}

// After a change: the service reads the lists when it starts.
int Apply(bool bRestart, CToolStreams& io) {
  const SERVICE_FACTS facts = QueryServiceFacts(kServiceName);
  if (!bRestart) {
    if (IsServiceRunning(facts)) {
      io.out << "The service reads the lists when it starts: restart it to apply the change "
                "(add --restart).\n";
    }
    return kExitSent;
  }
  std::string why;
  if (!RestartService(kServiceName, kRestartTimeoutMs, &why)) {
    io.err << "quillonctl: the change is made, but " << why << "\n";
    return kExitServiceControl;
  }
  io.out << "The service was restarted and watches the lists as they are now.\n";
  return kExitSent;
}

// Lists one printer and gives it the "DeletePrinted" setting the command
// asks for; sets *pChanged when either changed. kExitSent or the failure.
int AddOne(const std::string& dir, const std::string& name, const PrinterOptions& o,
           CToolStreams& io, bool* pChanged) {
  const std::string shown = AnsiToUtf8(name);
  ListChange change;
  try {
    change = ListPrinter(dir, name, o.bGdi ? PrinterKind::Gdi : PrinterKind::Ordinary);
  } catch (const std::runtime_error& e) {
    io.err << "quillonctl: " << AnsiToUtf8(e.what()) << "\n";
    return kExitCannotWrite;
  }
  const char* pszList = PrinterListFile(o.bGdi ? PrinterKind::Gdi : PrinterKind::Ordinary);
  switch (change) {
    case ListChange::Added:
      io.out << "Added " << shown << " to " << pszList << ".\n";
      break;
    case ListChange::Moved:
      io.out << "Moved " << shown << " to " << pszList << ".\n";
      break;
    case ListChange::AlreadyListed:
      io.out << shown << " is listed in " << pszList << " already.\n";
      break;
  }
  if (change != ListChange::AlreadyListed) *pChanged = true;
  // The setting follows the command: set with --delete-printed, else gone.
  const bool bWasSet = DeletesPrintedJobs(name.c_str());
  const bool bWanted = o.bGdi && o.bDeletePrinted;
  if (bWasSet != bWanted) {
    const LONG rc = WriteDeletePrinted(name.c_str(), bWanted);
    if (rc != ERROR_SUCCESS) {
      io.err << "quillonctl: \"DeletePrinted\" of " << shown
             << " cannot be written: " << SystemErrorText(static_cast<DWORD>(rc)) << "\n";
      return kExitCannotWrite;
    }
    io.out << (bWanted ? "Its printed jobs are deleted from the queue (\"DeletePrinted\" set).\n"
                       : "Its printed jobs stay in the queue (\"DeletePrinted\" removed).\n");
    *pChanged = true;
  }
  return kExitSent;
}

int RunAdd(const std::string& dir, const std::vector<std::string>& names,
           const PrinterOptions& o, CToolStreams& io) {
  bool bChanged = false;
  for (const std::string& name : names) {
    const int rc = AddOne(dir, name, o, io, &bChanged);
    if (rc != kExitSent) return rc;
  }
  if (!bChanged) {
    io.out << "Nothing was changed.\n";
    return kExitSent;
  }
  return Apply(o.bRestart, io);
}

int RunRemove(const std::string& dir, const std::string& name, bool bRestart, CToolStreams& io) {
  const std::string shown = AnsiToUtf8(name);
  bool bListed = false;
  try {
    bListed = UnlistPrinter(dir, name);
  } catch (const std::runtime_error& e) {
    io.err << "quillonctl: " << AnsiToUtf8(e.what()) << "\n";
    return kExitCannotWrite;
  }
  if (!bListed) {
    io.err << "quillonctl: " << shown << " is in neither list; nothing was changed\n";
    return kExitBadArguments;
  }
  io.out << "Removed " << shown << " from the lists.\n";
  if (DeletesPrintedJobs(name.c_str())) {
    const LONG rc = WriteDeletePrinted(name.c_str(), false);
    if (rc != ERROR_SUCCESS) {
      io.err << "quillonctl: \"DeletePrinted\" of " << shown
             << " cannot be removed: " << SystemErrorText(static_cast<DWORD>(rc)) << "\n";
      return kExitCannotWrite;
    }
  }
  return Apply(bRestart, io);
}

// Runs the command in the service's directory; exit code 10 when it cannot
// be found.
int InServiceDirectory(const PrinterOptions& o, bool bDirGiven,
                       const std::function<int(const std::string&)>& run, CToolStreams& io) {
  std::string dirOption, dir, why;
  if (!Utf8ToAnsi(o.serviceDir, &dirOption)) {
    io.err << "quillonctl: --service-dir holds characters the system's code page cannot carry\n";
    return kExitBadArguments;
  }
  if (!FindServiceDirectory(dirOption, bDirGiven, &dir, &why)) {
    io.err << "quillonctl: " << AnsiToUtf8(why) << "\n";
    return kExitServiceControl;
  }
  return run(dir);
}

}  // namespace

void AddPrinterCommand(CLI::App& app, CToolContext& ctx) {
  auto o = std::make_shared<PrinterOptions>();
  CLI::App* printer = app.add_subcommand("printer", "Choose the printers the service watches");
  SetDetails(*printer,
             "printers.lst lists ordinary printers (clients report their jobs), gdiprinters.lst\n"
             "host-based GDI printers (the service records their jobs itself and keeps their\n"
             "queues clean); both lie in the service's directory, which the service reads when\n"
             "it starts. Where the service is not installed, give --service-dir DIR (before or\n"
             "after the subcommand).");
  printer->require_subcommand(1, 1);
  printer->add_option("--service-dir", o->serviceDir,
                      "the service's directory (default: from the Service Control Manager)");

  CLI::App* list = printer->add_subcommand("list", "Show the printers watched");
  SetDetails(*list, "Each listed printer, its kind, and whether the spooler opens it.");
  list->fallthrough();
  list->callback([o, printer, &ctx] {
    const bool bDir = printer->get_option("--service-dir")->count() > 0;
    ctx.action = [o, bDir](CToolStreams& io) {
      return InServiceDirectory(
          *o, bDir, [&io](const std::string& dir) { return RunList(dir, io); }, io);
    };
  });

  auto checkedName = [](const std::string& text, std::string* pName) -> std::string {
    if (!Utf8ToAnsi(text, pName)) {
      return "the printer name '" + text + "' holds characters the system's code page "
             "cannot carry";
    }
    const std::string problem = PrinterNameProblem(*pName);
    return problem.empty() ? "" : problem + " ('" + text + "')";
  };

  CLI::App* add = printer->add_subcommand("add", "Watch a printer");
  SetDetails(*add,
             "Lists the printer once, in the list of its kind (a printer listed as the other\n"
             "kind moves). \"DeletePrinted\" is set with --delete-printed and removed without.");
  add->fallthrough();
  CLI::Option* name = add->add_option("NAME", o->name, "the printer's name as the spooler knows it");
  CLI::Option* names = add->add_option(
      "--names", o->names,
      "several printers at once, separated by ';' (\"Laser 2;Laser 3\"; blanks around a name "
      "are dropped)");
  name->excludes(names);
  add->add_flag("--gdi", o->bGdi, "a host-based (GDI) printer: its jobs are recorded by the "
                                  "service, and its queue is kept clean");
  CLI::Option* deletePrinted = add->add_flag(
      "--delete-printed", o->bDeletePrinted,
      "GDI printers: also delete jobs that have printed from the queue (\"DeletePrinted\")");
  add->add_flag("--restart", o->bRestart, "restart the service, so that it applies the change");
  add->callback([o, printer, name, names, deletePrinted, checkedName, &ctx] {
    if (deletePrinted->count() && !o->bGdi) {
      ctx.error = "--delete-printed applies to GDI printers only: add --gdi";
      return;
    }
    if (!name->count() && !names->count()) {
      ctx.error = "give the printer's NAME, or --names";
      return;
    }
    const std::vector<std::string> texts =
        names->count() ? SplitPrinterNames(o->names) : std::vector<std::string>{o->name};
    if (texts.empty()) {
      ctx.error = "--names holds no printer name";
      return;
    }
    auto checked = std::make_shared<std::vector<std::string>>();
    for (const std::string& text : texts) {
      std::string ansi;
      ctx.error = checkedName(text, &ansi);
      if (!ctx.error.empty()) return;
      checked->push_back(ansi);
    }
    const bool bDir = printer->get_option("--service-dir")->count() > 0;
    ctx.action = [o, checked, bDir](CToolStreams& io) {
      return InServiceDirectory(
          *o, bDir, [&](const std::string& dir) { return RunAdd(dir, *checked, *o, io); }, io);
    };
  });

  CLI::App* remove = printer->add_subcommand("remove", "Stop watching a printer");
  SetDetails(*remove, "Removes the printer from the lists, with its \"DeletePrinted\" setting.");
  remove->fallthrough();
  remove->add_option("NAME", o->name, "the printer's name")->required();
  remove->add_flag("--restart", o->bRestart, "restart the service, so that it applies the change");
  remove->callback([o, printer, checkedName, &ctx] {
    auto name = std::make_shared<std::string>();
    ctx.error = checkedName(o->name, name.get());
    const bool bDir = printer->get_option("--service-dir")->count() > 0;
    ctx.action = [o, name, bDir](CToolStreams& io) {
      return InServiceDirectory(
          *o, bDir, [&](const std::string& dir) { return RunRemove(dir, *name, o->bRestart, io); },
          io);
    };
  });
}
