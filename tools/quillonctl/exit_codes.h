// The exit codes of quillonctl, as its help lists them.
#pragma once

enum ClientExitCode : int {
  kExitSent = 0,            // the message was written whole (also --help, --version)
  kExitBadArguments = 1,    // the command line is wrong
  kExitNotRunning = 2,      // the service's pipe does not exist
  kExitTimedOut = 3,        // no free instance of the pipe within --timeout
  kExitNotTakenWhole = 4,   // the service did not take the whole message
  kExitCannotOpen = 5,      // the pipe exists but cannot be opened (e.g. access denied)
  kExitDatabase = 6,        // report: no DSN, or the database cannot be opened or queried
  kExitCannotWrite = 7,     // report: the output cannot be written
};
