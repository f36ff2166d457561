// How the commands reach the service's database: through the same ODBC
// layer as the service, with its "DSN" or the connection string of --dsn.
#pragma once

#include <comdef.h>

#include <string>

#include "database/connection.h"

struct CToolStreams;

// The connection string to use: --dsn when given, else the service's own
// "DSN". bServiceOwn: it is the one the service records into (a rule is
// then pushed to the service too). False, with a message, when neither is
// there.
struct DATABASE_CHOICE {
  std::string dsn;
  bool bServiceOwn = false;
};
bool ChooseDatabase(const std::string& dsnOption, bool bGiven, DATABASE_CHOICE* pChoice,
                    CToolStreams& io);

// Opens the connection; false, with the driver's diagnostic written, when
// it does not open.
bool OpenDatabase(const std::string& dsn, ConnectionPtr& connection, CToolStreams& io);

// The failure of a database step: the system's text and the driver's
// diagnostic ("[SQLSTATE] text").
std::string DatabaseFailureText(const _com_error& e);
