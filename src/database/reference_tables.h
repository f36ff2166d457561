// The database side of the service object's reference caches: loading
// PRNPERMISSIONS, PRINTERS and USERS into them, and appending a new user.
// The service object's LoadPermissionTable, LoadPrinterTable,
// LoadUserTable and AddUser are these, on its own connection and caches.
#pragma once

#include <stdint.h>

#include "database/connection.h"
#include "database/reference_caches.h"

// Each load returns 1 when the table was read to its end, 0 on a database
// error; what was read before the error stays. Permissions are stored over
// what the cache holds; the name maps are emptied first.
int LoadPermissionRows(const ConnectionPtr& pConnection, CPermissionMap& permissions);
int LoadPrinterRows(const ConnectionPtr& pConnection, CNameIdMap& printers);
int LoadUserRows(const ConnectionPtr& pConnection, CNameIdMap& users);

// Appends a USERS row for the name (cut to 254 bytes) without reading the
// table and, when the new id comes back, stores it in idUser and in the
// user map. When the schema's unique key refuses the name (another service
// appended it, or the map did not hold it), the row that holds it is the
// user's: its id is stored alike. On a schema without the key the name
// gets a further row, as always. 1 when the append ran (idUser is left
// alone if no id came back), 0 on a database error or a null name.
int AppendUser(const ConnectionPtr& pConnection, CNameIdMap& users,
               const char* pszUserName, int32_t& idUser);
