// The lasting job-control rules, rows of PRNPERMISSIONS, read and changed
// by name. Names resolve to ids exactly as the service resolves them: a
// printer by the PRINTERS row it loads at start (the last of rows with one
// name), else by RegisterPrinter; a user by the USERS row it loads, else by
// AppendUser. So a rule added here names the ids the service will use, and
// a name the database does not know yet is registered as the service would
// register it. Every function raises _com_error on a database failure.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "database/connection.h"
#include "database/permission_entry.h"

struct NAMED_RULE {
  PERMISSION_ENTRY entry;
  std::string printer;   // "" for -1 (every printer) or an id without a row
  std::string user;      // "" for -1 (every user) or an id without a row
};

// Every rule, in the order the database returns them.
std::vector<NAMED_RULE> ListRules(const ConnectionPtr& pConnection);

// The id of the name (ANSI; cut to its column's 254 bytes), registering it
// when bRegister is set and the database does not know it; -1 when it is
// not known and not registered, or no id came back.
int32_t ResolvePrinter(const ConnectionPtr& pConnection, const std::string& name,
                       bool bRegister);
int32_t ResolveUser(const ConnectionPtr& pConnection, const std::string& name, bool bRegister);

// Makes the rule the only one of its (printer, user) pair, in one
// transaction; the number of rules it replaced.
size_t StoreRule(const ConnectionPtr& pConnection, const PERMISSION_ENTRY& rule);
// Removes the rules of the pair; how many there were.
size_t DeleteRules(const ConnectionPtr& pConnection, int32_t idPrinter, int32_t idUser);
