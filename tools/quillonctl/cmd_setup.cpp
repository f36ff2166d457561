// quillonctl setup: creates in a database whatever of the service's schema
// it lacks, checks the tables it has, and then makes it the service's
// database (the "DSN" setting).
#include <CLI/CLI.hpp>

#include <memory>
#include <stdexcept>

#include "connection_setting.h"
#include "database/com_errors.h"
#include "database/schema_setup.h"
#include "database_access.h"
#include "exit_codes.h"
#include "service_control.h"
#include "service_core/configuration.h"
#include "service_core/quillon_service.h"
#include "system_text.h"
#include "text_forms.h"
#include "tool_context.h"

namespace {

struct SetupOptions {
  std::string dsn, database, driver = kSqliteDriverName;
};

// Creates the folders above a Windows path ("C:\...", "\\server\...") that
// are missing, so that the driver can create the file. Other paths are
// left to the driver, which may be a native library with paths of its own.
bool MakeParentFolders(const std::string& file, std::string* pWhy) {
  const bool bWindowsPath = (file.size() > 2 && file[1] == ':' && (file[2] == '\\' || file[2] == '/')) ||
                            file.compare(0, 2, "\\\\") == 0;
  if (!bWindowsPath) return true;
  for (size_t at = file.find_first_of("\\/", 3); at != std::string::npos;
       at = file.find_first_of("\\/", at + 1)) {
    const std::string folder = file.substr(0, at);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
        GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      *pWhy = "the folder " + AnsiToUtf8(folder) + " cannot be created: " +
              SystemErrorText(GetLastError());
      return false;
    }
  }
  return true;
}

int RunSetup(const std::string& dsn, const std::string& file, CToolStreams& io) {
  const std::string shown = AnsiToUtf8(HidePassword(dsn));
  const bool bNewDsn = dsn != CDsnSetting::Current();
  // The right to write the setting is checked before the database is
  // touched, so that a missing right changes nothing.
  CDsnSetting setting;
  if (bNewDsn) {
    const LONG rc = setting.OpenForWriting();
    if (rc != ERROR_SUCCESS) {
      io.err << "quillonctl: the \"DSN\" setting under HKEY_LOCAL_MACHINE\\" << kSettingsKey
             << " cannot be written: " << SystemErrorText(static_cast<DWORD>(rc))
             << (rc == ERROR_ACCESS_DENIED
                     ? "\nRun quillonctl as an administrator (an elevated command prompt)."
                     : "")
             << "\nNothing was changed.\n";
      return kExitCannotWrite;
    }
  }
  std::string why;
  if (!file.empty() && !MakeParentFolders(file, &why)) {
    io.err << "quillonctl: " << why << "\n";
    return kExitCannotWrite;
  }
  ConnectionPtr connection;
  if (!OpenDatabase(dsn, connection, io)) {
    io.err << "Nothing was changed.\n";
    return kExitDatabase;
  }
  SCHEMA_PLAN plan;
  try {
    plan = PlanSchema(connection);
  } catch (const _com_error& e) {
    io.err << "quillonctl: the database cannot be examined: " << DatabaseFailureText(e)
           << "\nNothing was changed.\n";
    return kExitDatabase;
  } catch (const std::runtime_error& e) {
    io.err << "quillonctl: " << e.what() << "\nNothing was changed.\n";
    return kExitDatabase;
  }
  if (!plan.problems.empty()) {
    io.err << "quillonctl: tables of the database do not have the service's columns at the "
              "places it uses them:\n";
    for (const std::string& problem : plan.problems) io.err << "  " << AnsiToUtf8(problem) << "\n";
    io.err << "Nothing was changed. (The service addresses columns by position: see "
              "docs/database.md.)\n";
    return kExitSchemaMismatch;
  }
  if (!plan.missing.empty()) {
    try {
      CreateSchemaObjects(connection, plan.missing);
    } catch (const _com_error& e) {
      io.err << "quillonctl: the schema cannot be created: " << DatabaseFailureText(e)
             << "\nNothing was changed.\n";
      return kExitDatabase;
    }
    for (const SCHEMA_OBJECT& object : plan.missing) {
      io.out << "Created " << (object.kind == SCHEMA_OBJECT::Table ? "table " : "index ")
             << object.name << ".\n";
    }
  }
  if (bNewDsn) {
    const LONG rc = setting.Write(dsn);
    if (rc != ERROR_SUCCESS) {
      io.err << "quillonctl: the schema is in place, but \"DSN\" cannot be written: "
             << SystemErrorText(static_cast<DWORD>(rc)) << "\n";
      return kExitCannotWrite;
    }
    io.out << "The service records into " << shown << " (\"DSN\" set).\n";
    if (IsServiceRunning(QueryServiceFacts(kServiceName))) {
      io.out << "The service reads \"DSN\" when it starts: restart it to use this database.\n";
    }
  }
  if (plan.missing.empty() && !bNewDsn) {
    io.out << "Nothing to change: " << shown << " holds the service's whole schema ("
           << plan.dbms << ") and is the service's database.\n";
  } else if (plan.missing.empty()) {
    io.out << "The database held the whole schema already (" << plan.dbms << ").\n";
  }
  return kExitSent;
}

}  // namespace

void AddSetupCommand(CLI::App& app, CToolContext& ctx) {
  auto o = std::make_shared<SetupOptions>();
  CLI::App* setup = app.add_subcommand("setup", "Create the schema and make it the service's database");
  SetDetails(*setup,
             "Creates in the database whatever of the service's schema is missing (tables,\n"
             "unique keys, JOURNALKEYS), checks that the tables it has hold the columns the\n"
             "service uses, and only then writes the \"DSN\" setting. Without --dsn or\n"
             "--database it works on the database \"DSN\" names now. Run again, it changes\n"
             "nothing. Writing \"DSN\" needs administrator rights.");
  CLI::Option* dsn = setup->add_option("--dsn", o->dsn, "the ODBC connection string");
  CLI::Option* database = setup->add_option(
      "--database", o->database, "an SQLite database file (the embedded default)");
  CLI::Option* driver = setup->add_option(
      "--driver", o->driver,
      std::string("the SQLite ODBC driver's name (default \"") + kSqliteDriverName + "\")");
  dsn->excludes(database);
  driver->needs(database);
  setup->callback([o, dsn, database, &ctx] {
    std::string connection, file;
    if (dsn->count()) {
      if (!Utf8ToAnsi(o->dsn, &connection)) {
        ctx.error = "--dsn holds characters the system's code page cannot carry";
        return;
      }
    } else if (database->count()) {
      std::string driverName, why;
      if (!Utf8ToAnsi(o->database, &file) || !Utf8ToAnsi(o->driver, &driverName)) {
        ctx.error = "--database or --driver holds characters the system's code page cannot carry";
        return;
      }
      // "%ProgramData%\Quillon\quillon.db" works also where no shell expanded it.
      char szExpanded[MAX_PATH] = {};
      const DWORD cch = ExpandEnvironmentStringsA(file.c_str(), szExpanded, MAX_PATH);
      if (cch > 0 && cch <= MAX_PATH) file = szExpanded;
      connection = SqliteConnectionString(file, driverName, &why);
      if (connection.empty()) {
        ctx.error = "--database: " + why;
        return;
      }
    } else {
      connection = CDsnSetting::Current();
      if (connection.empty()) {
        ctx.error = "the service has no database yet: give --database FILE or --dsn";
        return;
      }
    }
    if (connection.size() > kMaxDsnLength) {
      ctx.error = "the connection string is " + std::to_string(connection.size()) +
                  " characters long; the service reads at most " +
                  std::to_string(kMaxDsnLength);
      return;
    }
    ctx.action = [connection, file](CToolStreams& io) { return RunSetup(connection, file, io); };
  });
}
