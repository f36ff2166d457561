// The exit codes of quillonctl, as its help and the README list them.
#pragma once

enum ClientExitCode : int {
  kExitSent = 0,             // done: the message was written whole, the change made (also --help)
  kExitBadArguments = 1,     // the command line is wrong, or names what is not there
  kExitNotRunning = 2,       // the service is not running (its pipe does not exist)
  kExitTimedOut = 3,         // no free instance of the pipe within --timeout
  kExitNotTakenWhole = 4,    // the service did not take the whole message
  kExitCannotOpen = 5,       // the pipe exists but cannot be opened (e.g. access denied)
  kExitDatabase = 6,         // the database cannot be opened, read or changed
  kExitSchemaMismatch = 7,   // setup: a table of the database does not fit the service
  kExitCannotWrite = 8,      // a setting, a printer list or a report file cannot be written
  kExitJournalHoldsJobs = 9, // status: jobs wait in the journal (or it cannot be read)
  kExitServiceControl = 10,  // the service cannot be found, or not restarted
};

// The list that --help shows.
constexpr const char kExitCodeHelp[] =
    "Exit codes:\n"
    "  0  done: the message was written whole, the change made, the report written\n"
    "     (also --help, --version);\n"
    "     status: the service runs, its database answers and its journal is empty\n"
    "  1  bad arguments, or a name that is not there\n"
    "  2  the service is not running (its pipe does not exist; status: not running)\n"
    "  3  gave up waiting for the service to accept the connection\n"
    "  4  the service did not take the message whole\n"
    "  5  the pipe exists but cannot be opened\n"
    "  6  the database cannot be opened, read or changed (status: it does not answer)\n"
    "  7  setup: a table of the database does not have the service's columns\n"
    "  8  a setting, a printer list or a report's --output file cannot be written\n"
    "  9  status: jobs wait in the journal, or it cannot be read\n"
    " 10  the service's directory cannot be found, or the service not restarted\n";
